// The calling thread's last-error code, as Windows keeps it.
#pragma once

#include "com/types.h"

#ifdef _WIN32
#else
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;

extern "C" {
// Per thread; a new thread starts with ERROR_SUCCESS, and SetLastError(ERROR_SUCCESS) resets it.
// The time conversions set ERROR_INVALID_PARAMETER when they fail and leave it alone when they
// succeed.
void SetLastError(DWORD dwErrCode);
DWORD GetLastError();
}
#endif  // _WIN32
