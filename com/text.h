// Text helpers over UTF-16: a bounded printf-style formatter and the time-text scanner.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

#include "com/types.h"

namespace com {

// One argument of FormatW: integers (signed or unsigned, any width), doubles, or UTF-16 text.
class FormatArg {
public:
    FormatArg(int v) : m_v(static_cast<std::int64_t>(v)) {}
    FormatArg(long v) : m_v(static_cast<std::int64_t>(v)) {}
    FormatArg(long long v) : m_v(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned v) : m_v(static_cast<std::uint64_t>(v)) {}
    FormatArg(unsigned long v) : m_v(static_cast<std::uint64_t>(v)) {}
    FormatArg(unsigned long long v) : m_v(static_cast<std::uint64_t>(v)) {}
    FormatArg(short v) : m_v(static_cast<std::int64_t>(v)) {}
    FormatArg(unsigned short v) : m_v(static_cast<std::uint64_t>(v)) {}
    FormatArg(double v) : m_v(v) {}
    FormatArg(const char16_t* s) : m_v(std::u16string_view(s ? s : u"(null)")) {}
    FormatArg(std::u16string_view s) : m_v(s) {}
    FormatArg(const std::u16string& s) : m_v(std::u16string_view(s)) {}

    const std::variant<std::int64_t, std::uint64_t, double, std::u16string_view>& value() const {
        return m_v;
    }

private:
    std::variant<std::int64_t, std::uint64_t, double, std::u16string_view> m_v;
};

// printf-style formatting for message texts: flags "-+ 0#", width, precision, length modifiers
// (h, hh, l, ll, I64) and the conversions d i u x X o c s S f e E g G and %%. "%X" of a negative
// HRESULT prints its 32 bits ("80004005"), as the Windows CRT does for an int. Never overflows:
// the result is a std::u16string of whatever length. A missing or mismatched argument prints as
// nothing rather than reading past the list.
std::u16string FormatW(std::u16string_view format, std::initializer_list<FormatArg> args);

// As FormatW, then cut to at most cchBuffer - 1 characters, like a fixed buffer of cchBuffer.
std::u16string FormatWBounded(std::size_t cchBuffer, std::u16string_view format,
                              std::initializer_list<FormatArg> args);

// swscanf of "%04hu/%02hu/%02hu %02hu:%02hu:%02hu.%03hu": widths are maxima, leading white space
// before each number is skipped, a sign is accepted and wraps as %hu does ("-1" reads 65535).
// Returns how many fields were read (0..7), or -1 (EOF) when the input is empty or only white space.
int ScanTimeText(std::u16string_view text, WORD* year, WORD* month, WORD* day, WORD* hour, WORD* minute,
                 WORD* second, WORD* millisecond);

// UTF-8 <-> UTF-16 conversions for file names, environment values and diagnostics. Invalid input is
// replaced with U+FFFD, never rejected.
std::u16string Utf8ToUtf16(std::string_view s);
std::string Utf16ToUtf8(std::u16string_view s);

// Length of a NUL-terminated UTF-16 string (0 for nullptr).
std::size_t WStrLen(const WCHAR* s);

// A string of COM characters: std::u16string, or std::wstring where the platform's WCHAR is wchar_t.
using WString = std::basic_string<WCHAR>;
using WStringView = std::basic_string_view<WCHAR>;
#ifdef _WIN32
// COM characters are UTF-16 there too: the conversions read and make them as such.
inline WString Utf8ToWString(std::string_view s) {
    std::u16string u = Utf8ToUtf16(s);
    return WString(u.begin(), u.end());
}
inline std::string WStringToUtf8(WStringView s) {
    return Utf16ToUtf8(std::u16string(s.begin(), s.end()));
}
// COM characters as UTF-16 text and back: copies here, views where WCHAR is char16_t.
inline std::u16string AsU16(const WCHAR* s) {
    return s ? std::u16string(s, s + WStrLen(s)) : std::u16string();
}
inline std::u16string AsU16(const WCHAR* s, std::size_t n) {
    return std::u16string(s, s + n);
}
inline WString AsWide(std::u16string_view s) {
    return WString(s.begin(), s.end());
}
#else
inline std::u16string_view AsU16(const WCHAR* s) {
    return s ? std::u16string_view(s) : std::u16string_view();
}
inline std::u16string_view AsU16(const WCHAR* s, std::size_t n) {
    return std::u16string_view(s, n);
}
inline std::u16string_view AsWide(std::u16string_view s) {
    return s;
}
inline WString Utf8ToWString(std::string_view s) {
    return Utf8ToUtf16(s);
}
inline std::string WStringToUtf8(WStringView s) {
    return Utf16ToUtf8(s);
}
#endif

}  // namespace com
