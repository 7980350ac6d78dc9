// The one road every message box takes. The desktop client installs a sink that shows a modal box;
// tests install one that records the request and answers from a queue; the command-line tools print.
#pragma once

#include <functional>
#include <string>

namespace hda {

enum class MsgIcon { None, Stop, Exclamation, Question, Information };
enum class MsgButtons { Ok, OkCancel, YesNo, YesNoCancel };
enum class MsgResult { Ok, Cancel, Yes, No };

struct MessageRequest {
    std::u16string text;
    std::u16string caption;
    MsgIcon icon = MsgIcon::None;
    MsgButtons buttons = MsgButtons::Ok;
    const void* owner = nullptr;  // the owner window (a QWidget*), or null
};

using MessageSink = std::function<MsgResult(const MessageRequest&)>;

// Shows a message through the current sink. Without a sink: writes it to stderr and answers as if
// the first button (OK, or Yes) was pressed.
MsgResult ShowMessage(const MessageRequest& request);
MsgResult ShowMessage(const void* owner, std::u16string text, std::u16string caption,
                      MsgIcon icon = MsgIcon::None, MsgButtons buttons = MsgButtons::Ok);

// Replaces the sink; returns the previous one. An empty sink restores the default.
MessageSink SetMessageSink(MessageSink sink);

}  // namespace hda
