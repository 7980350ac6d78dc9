#include "serverpane/hostkeys.h"

#include "com/text.h"
#include "hda/messages.h"
#if VISTREL_HAVE_REMOTE
#include "remote/remote.h"
#endif

namespace serverpane {

void InstallHostKeyQuestions() {
#if VISTREL_HAVE_REMOTE
    vistrel::remote::HostKeyPrompt prompt;
    prompt.firstContact = [](const std::string& host, const std::string& fingerprint) {
        const std::u16string text =
            u"The computer " + com::Utf8ToUtf16(host) +
            u" is not known to this client yet. Its certificate has the fingerprint\n\n" +
            com::Utf8ToUtf16(fingerprint) + u"\n\nTrust this computer from now on and connect?";
        return hda::ShowMessage(nullptr, text, u"Connect Remote", hda::MsgIcon::Question,
                                hda::MsgButtons::YesNo) == hda::MsgResult::Yes;
    };
    prompt.refused = [](const std::string& sentence) {
        hda::ShowMessage(nullptr, com::Utf8ToUtf16(sentence), u"Error", hda::MsgIcon::Stop);
    };
    vistrel::remote::SetHostKeyPrompt(std::move(prompt));
#endif
}

void InstallRemoteClient() {
#if VISTREL_HAVE_REMOTE
    vistrel::remote::InstallRemoteActivator();
#endif
    InstallHostKeyQuestions();
}

bool SetServersOutOfProcess(bool bOn) {
#if VISTREL_HAVE_REMOTE
    vistrel::remote::SetIsolate(bOn);
    return true;
#else
    return !bOn;
#endif
}

void UninstallHostKeyQuestions() {
#if VISTREL_HAVE_REMOTE
    vistrel::remote::SetHostKeyPrompt({});
#endif
}

}  // namespace serverpane
