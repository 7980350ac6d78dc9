// Records every message box the client asks for and answers from a queue (OK, or Yes, when empty).
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "hda/messages.h"

class MessageRecorder {
public:
    MessageRecorder() {
        m_previous = hda::SetMessageSink([this](const hda::MessageRequest& r) {
            seen.push_back(r);
            if (!answers.empty()) {
                hda::MsgResult a = answers.front();
                answers.pop_front();
                return a;
            }
            return (r.buttons == hda::MsgButtons::YesNo || r.buttons == hda::MsgButtons::YesNoCancel)
                       ? hda::MsgResult::Yes
                       : hda::MsgResult::Ok;
        });
    }
    ~MessageRecorder() { hda::SetMessageSink(m_previous); }
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> t;
        for (const auto& r : seen) t.push_back(r.text);
        return t;
    }

    std::vector<hda::MessageRequest> seen;
    std::deque<hda::MsgResult> answers;

private:
    hda::MessageSink m_previous;
};

inline std::string U8(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}
