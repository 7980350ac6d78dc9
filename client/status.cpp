#include "client/status.h"

#include "client/textforms.h"
#include "com/text.h"

namespace client {

ServerStatus GetHistorianStatus(IOPCHDA_Server* pServer) {
    ServerStatus out;
    if (!pServer) {
        out.message = Message{u"Unable to get status: the server is not connected"};
        return out;
    }
    OPCHDA_SERVERSTATUS state = static_cast<OPCHDA_SERVERSTATUS>(0);
    FILETIME* pftCurrent = nullptr;
    FILETIME* pftStart = nullptr;
    LPWSTR pszStatus = nullptr;
    LPWSTR pszVendor = nullptr;
    out.called = true;
    out.hr =
        pServer->GetHistorianStatus(&state, &pftCurrent, &pftStart, &out.wMajorVersion, &out.wMinorVersion,
                                    &out.wBuildNumber, &out.dwMaxReturnValues, &pszStatus, &pszVendor);
    // Whatever came back is read within its block and released, however the call went.
    com::ReceivedOne<FILETIME> current = com::TakeReceivedOne(pftCurrent);
    com::ReceivedOne<FILETIME> start = com::TakeReceivedOne(pftStart);
    com::ReceivedText status = com::TakeReceivedText(pszStatus);
    com::ReceivedText vendor = com::TakeReceivedText(pszVendor);
    if (FAILED(out.hr)) {
        out.message = Message{com::FormatW(u"Unable to get status: GetHistorianStatus returns %x", {out.hr})};
        out.wMajorVersion = out.wMinorVersion = out.wBuildNumber = 0;
        out.dwMaxReturnValues = 0;
        return out;
    }
    out.state = static_cast<int>(state);
    out.currentTime = current;
    out.startTime = start;
    out.statusString = std::move(status);
    out.vendorInfo = std::move(vendor);
    return out;
}

namespace {

std::u16string TimeBox(const com::ReceivedOne<FILETIME>& t, const char16_t* pszWhat, TimeBasis basis,
                       std::vector<std::u16string>* pProblems) {
    if (!t.present) return {};
    if (!t.complete) {
        pProblems->push_back(
            com::FormatW(u"The server's %s is a block of %u bytes, too short for a time (8 bytes).",
                         {pszWhat, static_cast<unsigned>(t.blockBytes)}));
        return com::FormatW(u"(not a time: %u of 8 bytes)", {static_cast<unsigned>(t.blockBytes)});
    }
    return FormatShortTimestamp(t.value, basis);
}

std::u16string TextBox(const com::ReceivedText& s, const char16_t* pszWhat,
                       std::vector<std::u16string>* pProblems) {
    if (!s.present || s.terminated) return s.text;
    pProblems->push_back(com::FormatW(u"The server's %s has no terminator within its block of %u bytes.",
                                      {pszWhat, static_cast<unsigned>(s.blockBytes)}));
    return s.text + u" (not terminated)";
}

}  // namespace

StatusTexts FormatServerStatus(const ServerStatus& status, TimeBasis basis) {
    StatusTexts t;
    if (!status.called || FAILED(status.hr)) return t;
    t.serverStatus = std::u16string(ServerStateText(status.state));
    t.statusString = TextBox(status.statusString, u"status string", &t.problems);
    t.currentTime = TimeBox(status.currentTime, u"current time", basis, &t.problems);
    t.startTime = TimeBox(status.startTime, u"start time", basis, &t.problems);
    t.majorVersion = com::FormatW(u"%u", {status.wMajorVersion});
    t.minorVersion = com::FormatW(u"%u", {status.wMinorVersion});
    t.buildNumber = com::FormatW(u"%u", {status.wBuildNumber});
    t.vendorInfo = TextBox(status.vendorInfo, u"vendor information", &t.problems);
    t.maxReturnValues = com::FormatW(u"%u", {status.dwMaxReturnValues});
    return t;
}

std::optional<Message> StatusProblemsMessage(const StatusTexts& texts) {
    if (texts.problems.empty()) return std::nullopt;
    std::u16string text = u"GetHistorianStatus answered with blocks that do not hold what they should:";
    for (const std::u16string& p : texts.problems) text += u"\n" + p;
    return Message{std::move(text)};
}

}  // namespace client
