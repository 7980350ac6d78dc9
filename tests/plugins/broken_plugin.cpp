// A server library that registers a class but lacks DllGetClassObject: activation must fail with
// CO_E_ERRORINDLL, never crash.
#include "com/classstore.h"
#include "tests/plugins/recording_control.h"

#define HDATEST_EXPORT extern "C" __attribute__((visibility("default")))

HDATEST_EXPORT HRESULT DllCanUnloadNow() {
    return S_OK;
}

HDATEST_EXPORT HRESULT DllRegisterServer() {
    com::ClassRegistration reg;
    reg.clsid = hdatest::CLSID_HdaTestBroken;
    reg.progId = u"HdaTest.Broken.1";
    reg.versionIndependentProgId = u"HdaTest.Broken";
    reg.description = u"Server library without DllGetClassObject";
    reg.categories.push_back(CATID_OPCHDAServer10);
    return com::RegisterComClass(reg);
}

HDATEST_EXPORT HRESULT DllUnregisterServer() {
    return com::UnregisterComClass(hdatest::CLSID_HdaTestBroken);
}
