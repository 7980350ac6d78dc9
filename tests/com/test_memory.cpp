#include <gtest/gtest.h>

#include "com/objbase.h"
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
