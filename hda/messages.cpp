#include "hda/messages.h"

#include <cstdio>
#include <utility>

#include "com/text.h"

namespace hda {
namespace {
MessageSink& currentSink() {
    static MessageSink sink;
    return sink;
}
}  // namespace

MsgResult ShowMessage(const MessageRequest& request) {
    if (const MessageSink& sink = currentSink()) return sink(request);
    std::fprintf(stderr, "%s: %s\n", com::Utf16ToUtf8(request.caption).c_str(),
                 com::Utf16ToUtf8(request.text).c_str());
    return (request.buttons == MsgButtons::YesNo || request.buttons == MsgButtons::YesNoCancel)
               ? MsgResult::Yes
               : MsgResult::Ok;
}

MsgResult ShowMessage(const void* owner, std::u16string text, std::u16string caption, MsgIcon icon,
                      MsgButtons buttons) {
    return ShowMessage(MessageRequest{std::move(text), std::move(caption), icon, buttons, owner});
}

MessageSink SetMessageSink(MessageSink sink) {
    return std::exchange(currentSink(), std::move(sink));
}

}  // namespace hda
