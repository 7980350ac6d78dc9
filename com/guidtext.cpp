// GUID text as this system writes and reads it ("{7DE5B060-E089-11D2-A5E6-000086339399}"), over
// StringFromGUID2 and IIDFromString: this runtime's, or Windows' own in the Windows build.
#include <string>
#include <string_view>

#include "com/objbase.h"

namespace com {

namespace {
constexpr int kGuidChars = 38;  // without the terminator
}

std::u16string GuidToString(REFGUID guid) {
    OLECHAR buf[kGuidChars + 1];
    StringFromGUID2(guid, buf, kGuidChars + 1);
    return std::u16string(buf, buf + kGuidChars);
}

std::string GuidToUtf8(REFGUID guid) {
    OLECHAR buf[kGuidChars + 1];
    StringFromGUID2(guid, buf, kGuidChars + 1);
    return std::string(buf, buf + kGuidChars);  // all ASCII
}

bool GuidFromUtf8(std::string_view text, GUID* guid) {
    // Braces required; IIDFromString reads nothing else (Windows' CLSIDFromString would look up a
    // ProgID), and a failure leaves *guid as it was.
    if (text.size() != kGuidChars || text.front() != '{' || text.back() != '}') return false;
    OLECHAR buf[kGuidChars + 1];
    for (int i = 0; i < kGuidChars; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) return false;
        buf[i] = c;
    }
    buf[kGuidChars] = 0;
    IID parsed;
    if (FAILED(IIDFromString(buf, &parsed))) return false;
    *guid = parsed;
    return true;
}

}  // namespace com
