#include "hda/hdatime.h"

#include <utility>

namespace hda {

HdaTimeArg HdaTimeArg::String(std::u16string_view strTime) {
    HdaTimeArg arg;
    com::TaskMem<OPCHDA_TIME> pTime(static_cast<OPCHDA_TIME*>(CoTaskMemAlloc(sizeof(OPCHDA_TIME))));
    if (!pTime) return arg;
    com::TaskMem<WCHAR[]> pszTime = com::TaskMemStrDup(strTime);
    if (!pszTime) return arg;
    pTime->bString = TRUE;
    pTime->szTime = pszTime.get();
    pTime->ftTime = FILETIME{0, 0};
    arg.m_pszMine = pszTime.release();
    arg.m_pTime = pTime.release();
    return arg;
}

HdaTimeArg HdaTimeArg::Moment(FILETIME ftUtc) {
    HdaTimeArg arg;
    auto* pTime = static_cast<OPCHDA_TIME*>(CoTaskMemAlloc(sizeof(OPCHDA_TIME)));
    if (!pTime) return arg;
    pTime->bString = FALSE;
    pTime->szTime = nullptr;
    pTime->ftTime = ftUtc;
    arg.m_pTime = pTime;
    return arg;
}

HdaTimeArg::HdaTimeArg(HdaTimeArg&& o) noexcept
    : m_pTime(std::exchange(o.m_pTime, nullptr)), m_pszMine(std::exchange(o.m_pszMine, nullptr)) {}

HdaTimeArg& HdaTimeArg::operator=(HdaTimeArg&& o) noexcept {
    if (this != &o) {
        Reset();
        m_pTime = std::exchange(o.m_pTime, nullptr);
        m_pszMine = std::exchange(o.m_pszMine, nullptr);
    }
    return *this;
}

void HdaTimeArg::Reset() {
    CoTaskMemFree(std::exchange(m_pszMine, nullptr));
    CoTaskMemFree(std::exchange(m_pTime, nullptr));
}

}  // namespace hda
