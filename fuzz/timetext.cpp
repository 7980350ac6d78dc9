// The time-text scanner and the client's time texts: whatever the text, the scanner reports 0..7
// fields or -1; a text that becomes a FILETIME names exactly that local moment and is written back
// the same by FormatTimeText; a time record holds either that moment or a copy of the text, and
// leaves nothing in task memory when released.
#include "client/timetext.h"

#include <cstring>

#include "com/objbase.h"
#include "com/text.h"
#include "com/timeapi.h"
#include "fuzz/fuzz.h"

namespace fuzz {

int TimeText(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    static const LONG kBias[] = {0, -60, 300, -840, 720, -1, 1, 0};
    com::SetFixedBiasMinutes(kBias[data[0] & 7]);
    const std::u16string text = Utf16Of(data + 1, size - 1);
    const long blocks = com::LiveTaskMemBlocks();

    WORD f[7];
    for (WORD& w : f) w = 0xBEEF;
    const int n = com::ScanTimeText(text, &f[0], &f[1], &f[2], &f[3], &f[4], &f[5], &f[6]);
    Require(n >= -1 && n <= 7, "the field count");
    for (int i = n < 0 ? 0 : n; i < 7; ++i) Require(f[i] == 0xBEEF, "fields not read are left alone");

    FILETIME utc{0x12345678, 0x9ABCDEF0};
    const bool moment = client::TimeTextToFileTime(text, &utc);
    Require(!moment || n == 7, "a moment needs seven fields");
    if (moment) {
        FILETIME local{};
        SYSTEMTIME st{};
        Require(FileTimeToLocalFileTime(&utc, &local) && FileTimeToSystemTime(&local, &st),
                "the moment is local");
        Require(st.wYear == f[0] && st.wMonth == f[1] && st.wDay == f[2] && st.wHour == f[3] &&
                    st.wMinute == f[4] && st.wSecond == f[5] && st.wMilliseconds == f[6],
                "the moment is the one written");
        const std::u16string again = client::FormatTimeText(f[0], f[1], f[2], f[3], f[4], f[5], f[6]);
        FILETIME utc2{};
        Require(client::TimeTextToFileTime(again, &utc2) && FileTimeToU64(utc2) == FileTimeToU64(utc),
                "the written text reads back");
    } else {
        Require(utc.dwLowDateTime == 0x12345678 && utc.dwHighDateTime == 0x9ABCDEF0, "no moment, no write");
    }

    for (bool inUse : {true, false}) {
        hda::HdaTimeArg arg = client::BuildHdaTime(text, inUse);
        const OPCHDA_TIME* t = arg.get();
        Require(t != nullptr, "a record");
        if (inUse && moment) {
            Require(!t->bString && t->szTime == nullptr && FileTimeToU64(t->ftTime) == FileTimeToU64(utc),
                    "a moment travels as a FILETIME");
        } else {
            Require(t->bString && t->szTime != nullptr, "anything else travels as text");
            const std::u16string_view want = inUse ? std::u16string_view(text) : std::u16string_view();
            Require(
                (want.empty() || std::memcmp(t->szTime, want.data(), want.size() * sizeof(char16_t)) == 0) &&
                    t->szTime[want.size()] == 0,
                "the text is copied whole");
        }
        arg.Reset();
    }

    // The pickers' fields printed whatever their values.
    if (size >= 15) {
        int v[7];
        for (int i = 0; i < 7; ++i)
            v[i] = static_cast<int>(static_cast<std::int16_t>(data[1 + 2 * i] | (data[2 + 2 * i] << 8)));
        (void)client::FormatTimeText(v[0], v[1], v[2], v[3], v[4], v[5], v[6]);
    }
    Require(com::LiveTaskMemBlocks() == blocks, "no task memory left behind");
    return 0;
}

}  // namespace fuzz
