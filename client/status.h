// Server Status: one GetHistorianStatus call, every out-argument read within what the server
// allocated, and the texts of the dialog's nine boxes.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "client/message.h"
#include "client/timetext.h"
#include "com/ownership.h"
#include "hda/opchda.h"

namespace client {

struct ServerStatus {
    bool called = false;
    HRESULT hr = S_OK;
    std::optional<Message> message;  // the failure, when the call failed or could not be made

    int state = 0;
    com::ReceivedOne<FILETIME> currentTime;
    com::ReceivedOne<FILETIME> startTime;
    WORD wMajorVersion = 0;
    WORD wMinorVersion = 0;
    WORD wBuildNumber = 0;
    DWORD dwMaxReturnValues = 0;
    com::ReceivedText statusString;
    com::ReceivedText vendorInfo;
};

// Null server: not called, the "not connected" message.
ServerStatus GetHistorianStatus(IOPCHDA_Server* pServer);

// What the boxes show, and what the server did wrong in its answer (a block shorter than a FILETIME,
// a string without a terminator in its block), one sentence each.
struct StatusTexts {
    std::u16string serverStatus, statusString, currentTime, startTime, majorVersion, minorVersion,
        buildNumber, vendorInfo, maxReturnValues;
    std::vector<std::u16string> problems;
};
StatusTexts FormatServerStatus(const ServerStatus& status, TimeBasis basis = TimeBasis::LocalCurrentBias);

// The problems as one message (caption "Error", exclamation), or none.
std::optional<Message> StatusProblemsMessage(const StatusTexts& texts);

}  // namespace client
