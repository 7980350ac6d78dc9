#include <gtest/gtest.h>

#include "com/objbase.h"
#include "com/oleauto.h"
#include "hda/opchda.h"

TEST(TaskMemory, LiveBlockCountFollowsAllocReallocFree) {
    long before = com::LiveTaskMemBlocks();
    void* a = CoTaskMemAlloc(16);
    void* b = CoTaskMemAlloc(0);  // a zero-byte request still yields a block
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before + 2);
    a = CoTaskMemRealloc(a, 4096);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before + 2);
    EXPECT_EQ(CoTaskMemRealloc(b, 0), nullptr);  // realloc to zero frees
    void* c = CoTaskMemRealloc(nullptr, 8);      // realloc of null allocates
    EXPECT_EQ(com::LiveTaskMemBlocks(), before + 2);
    CoTaskMemFree(a);
    CoTaskMemFree(c);
    CoTaskMemFree(nullptr);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(HdaHeader, RecordLayoutMatchesTheLp64Abi) {
    EXPECT_EQ(sizeof(OPCHDA_TIME), 24u);
    EXPECT_EQ(sizeof(OPCHDA_ITEM), 40u);
    EXPECT_EQ(sizeof(FILETIME), 8u);
    EXPECT_EQ(sizeof(VARIANT), 16u);
    EXPECT_TRUE(FAILED(OPC_W_NOFILTER));
    EXPECT_NE(CATID_OPCHDAServer10, IID_IOPCHDA_Server);
    EXPECT_NE(CLSID_OpcServerList, IID_IOPCServerList);
}

TEST(TaskMemory, SizeOfABlockIsWhatWasAskedFor) {
    auto* p = static_cast<DWORD*>(CoTaskMemAlloc(3 * sizeof(DWORD)));
    EXPECT_EQ(com::TaskMemSize(p), 12u);
    EXPECT_EQ(com::TaskMemCount(p), 3u);
    p = static_cast<DWORD*>(CoTaskMemRealloc(p, 40 * sizeof(DWORD)));
    EXPECT_EQ(com::TaskMemCount(p), 40u);
    CoTaskMemFree(p);
    EXPECT_EQ(com::TaskMemSize(nullptr), 0u);
    EXPECT_EQ(CoTaskMemAlloc(SIZE_MAX - 4), nullptr);
}

TEST(TaskMemory, InjectedFailuresHitTheNthAllocationOrEveryOneFromThere) {
    const long before = com::LiveTaskMemBlocks();
    com::FailTaskMemAlloc(2);
    void* first = CoTaskMemAlloc(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(SysAllocString(u"second"), nullptr);  // strings come from the same allocator
    void* third = CoTaskMemAlloc(8);
    EXPECT_NE(third, nullptr);
    EXPECT_EQ(com::InjectedTaskMemFailures(), 1u);

    com::FailTaskMemAlloc(1, true);
    EXPECT_EQ(CoTaskMemAlloc(1), nullptr);
    EXPECT_EQ(CoTaskMemRealloc(first, 64), nullptr);  // the old block stays valid
    EXPECT_EQ(CoTaskMemAlloc(1), nullptr);
    EXPECT_EQ(com::InjectedTaskMemFailures(), 3u);
    com::ResetTaskMemFailure();
    EXPECT_EQ(com::InjectedTaskMemFailures(), 0u);
    void* fourth = CoTaskMemAlloc(8);
    EXPECT_NE(fourth, nullptr);
    for (void* p : {first, third, fourth}) CoTaskMemFree(p);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);

    com::FailTaskMemAlloc(1);
    com::ResetRuntimeForTests();  // the runtime's reset ends it too
    void* fifth = CoTaskMemAlloc(8);
    EXPECT_NE(fifth, nullptr);
    CoTaskMemFree(fifth);
}
