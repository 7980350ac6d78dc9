// The thread's last-error code.
#include "com/errhandlingapi.h"

namespace {
thread_local DWORD t_lastError = ERROR_SUCCESS;
}

extern "C" void SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}

extern "C" DWORD GetLastError() {
    return t_lastError;
}
