// What an operation wants said to the user. The layer only builds it; the caller shows it through
// the one message road (hda::ShowMessage), with its own window as the owner.
#pragma once

#include <optional>
#include <string>

#include "hda/messages.h"

namespace client {

struct Message {
    std::u16string text;
    std::u16string caption = u"Error";
    hda::MsgIcon icon = hda::MsgIcon::Exclamation;
    bool operator==(const Message&) const = default;
};

inline constexpr char16_t kOutOfMemoryText[] = u"Out of Memory!!!";
inline Message OutOfMemory() {
    return Message{kOutOfMemoryText};
}

inline void Show(const void* pOwner, const Message& message) {
    hda::ShowMessage(pOwner, message.text, message.caption, message.icon);
}
inline void Show(const void* pOwner, const std::optional<Message>& message) {
    if (message) Show(pOwner, *message);
}

}  // namespace client
