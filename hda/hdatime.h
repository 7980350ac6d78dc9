// The in/out OPCHDA_TIME argument of a call, owned for the length of the call.
//
// A record travels either as a UTC FILETIME (bString FALSE) or as an HDA time string for the server
// to judge (bString TRUE, szTime the text; the empty text is the time "not in use"). The server may
// rewrite the record; what is released afterwards is what was allocated here, remembered before the
// call, whatever the record says then. The client reads the record back (its FILETIME) after the call.
#pragma once

#include <string_view>

#include "com/ownership.h"
#include "hda/opchda.h"

namespace hda {

class HdaTimeArg {
public:
    HdaTimeArg() = default;
    // A record holding a copy of the text (bString TRUE, ftTime 0); empty when memory runs out.
    static HdaTimeArg String(std::u16string_view strTime);
    // A record holding the moment (bString FALSE, szTime null); empty when memory runs out.
    static HdaTimeArg Moment(FILETIME ftUtc);

    ~HdaTimeArg() { Reset(); }
    HdaTimeArg(HdaTimeArg&& o) noexcept;
    HdaTimeArg& operator=(HdaTimeArg&& o) noexcept;
    HdaTimeArg(const HdaTimeArg&) = delete;
    HdaTimeArg& operator=(const HdaTimeArg&) = delete;

    OPCHDA_TIME* get() const { return m_pTime; }
    explicit operator bool() const { return m_pTime != nullptr; }
    void Reset();

private:
    OPCHDA_TIME* m_pTime = nullptr;  // from CoTaskMemAlloc
    LPWSTR m_pszMine = nullptr;      // the string this side allocated, if any
};

}  // namespace hda
