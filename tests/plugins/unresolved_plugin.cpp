// A server library that cannot be loaded: it needs a symbol no library defines, so dlopen with
// RTLD_NOW refuses it.
#include "com/objbase.h"

extern "C" void hdatest_symbol_that_nothing_defines();

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID, REFIID, LPVOID* ppv) {
    hdatest_symbol_that_nothing_defines();
    *ppv = nullptr;
    return E_FAIL;
}
