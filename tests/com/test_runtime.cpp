#include <gtest/gtest.h>

#include "com/objbase.h"
#include "store_fixture.h"

namespace {

using vistrel_test::StoreTest;

class Runtime : public StoreTest {};

// An activation that needs an initialised runtime: tells whether it is.
bool Initialised() {
    void* p = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_ICatInformation, &p);
    if (p) static_cast<IUnknown*>(p)->Release();
    EXPECT_TRUE(hr == S_OK || hr == CO_E_NOTINITIALIZED) << std::hex << hr;
    return hr == S_OK;
}

HRESULT Security(DWORD authn = RPC_C_AUTHN_LEVEL_CONNECT, DWORD imp = RPC_C_IMP_LEVEL_IDENTIFY,
                 LONG cAuthSvc = -1) {
    return CoInitializeSecurity(nullptr, cAuthSvc, nullptr, nullptr, authn, imp, nullptr, EOAC_NONE, nullptr);
}

TEST_F(Runtime, InitialisationIsCountedAndBalancedByUninitialise) {
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED | COINIT_DISABLE_OLE1DDE), S_FALSE);
    EXPECT_TRUE(Initialised());
    CoUninitialize();
    CoUninitialize();
    EXPECT_TRUE(Initialised());
    CoUninitialize();
    EXPECT_FALSE(Initialised());
    CoUninitialize();  // unbalanced: harmless
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

TEST_F(Runtime, AnotherConcurrencyModelIsRefusedAndNotCounted) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), RPC_E_CHANGED_MODE);
    EXPECT_EQ(CoInitialize(nullptr), RPC_E_CHANGED_MODE);
    CoUninitialize();
    EXPECT_FALSE(Initialised()) << "a refused call must not need its own CoUninitialize";
    // Once the count is back to zero another model may start.
    EXPECT_EQ(CoInitialize(nullptr), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    CoUninitialize();
    CoUninitialize();
}

TEST_F(Runtime, BadInitialisationArguments) {
    int reserved = 0;
    EXPECT_EQ(CoInitializeEx(&reserved, COINIT_MULTITHREADED), E_INVALIDARG);
    EXPECT_EQ(CoInitializeEx(nullptr, 0x100), E_INVALIDARG);
    EXPECT_FALSE(Initialised());
}

TEST_F(Runtime, SecurityIsFixedOnceAndTheFirstSettingsAreKept) {
    EXPECT_EQ(Security(), CO_E_NOTINITIALIZED);
    EXPECT_FALSE(com::CurrentSecurity().fixed);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(Security(RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY), S_OK);
    EXPECT_EQ(Security(RPC_C_AUTHN_LEVEL_PKT_PRIVACY, RPC_C_IMP_LEVEL_IMPERSONATE), RPC_E_TOO_LATE);
    auto s = com::CurrentSecurity();
    EXPECT_TRUE(s.fixed);
    EXPECT_EQ(s.authnLevel, RPC_C_AUTHN_LEVEL_CONNECT);
    EXPECT_EQ(s.impLevel, RPC_C_IMP_LEVEL_IDENTIFY);
    EXPECT_EQ(s.capabilities, EOAC_NONE);
    // Security belongs to the process, not to one initialisation.
    CoUninitialize();
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(Security(), RPC_E_TOO_LATE);
    CoUninitialize();
    com::ResetRuntimeForTests();
    EXPECT_FALSE(com::CurrentSecurity().fixed);
}

TEST_F(Runtime, RefusedSecurityArgumentsFixNothing) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    EXPECT_EQ(Security(7, RPC_C_IMP_LEVEL_IDENTIFY), E_INVALIDARG);
    EXPECT_EQ(Security(RPC_C_AUTHN_LEVEL_CONNECT, 5), E_INVALIDARG);
    EXPECT_EQ(Security(RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY, -2), E_INVALIDARG);
    EXPECT_EQ(Security(RPC_C_AUTHN_LEVEL_CONNECT, RPC_C_IMP_LEVEL_IDENTIFY, 1),
              E_INVALIDARG);  // list missing
    EXPECT_FALSE(com::CurrentSecurity().fixed);
    EXPECT_EQ(Security(), S_OK);
    CoUninitialize();
}

TEST_F(Runtime, ResetForTestsForgetsInitialisation) {
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    com::ResetRuntimeForTests();
    EXPECT_FALSE(Initialised());
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    CoUninitialize();
}

}  // namespace
