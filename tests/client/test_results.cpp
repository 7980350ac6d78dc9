// The result set: it releases the arrays inside each record and the values' contents, never reads
// past what the server allocated, and releases an array shared between records once.
#include <gtest/gtest.h>

#include "client/results.h"
#include "com/objbase.h"
#include "com/oleauto.h"
#include "tests/plugins/recording_control.h"

namespace {

using hdatest::MakeItem;
using hdatest::TaskArray;

OPCHDA_ITEM* MakeItems(DWORD n, DWORD values) {
    auto* items = TaskArray<OPCHDA_ITEM>(n);
    for (DWORD i = 0; i < n; ++i) items[i] = MakeItem(i, values);
    return items;
}

TEST(ResultSet, ReleasingFreesEveryArrayAndMovingPassesOwnership) {
    const long before = com::LiveTaskMemBlocks();
    client::ResultSet results(MakeItems(2, 3), TaskArray<HRESULT>(2), 2);
    EXPECT_EQ(results.Count(), 2u);
    client::ResultSet moved = std::move(results);
    EXPECT_TRUE(results.Empty());
    EXPECT_EQ(moved.Count(), 2u);
    moved.Release();
    EXPECT_TRUE(moved.Empty());
    EXPECT_EQ(moved.Count(), 0u);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);

    // The destructor frees a result set still held, a record array without codes too.
    { client::ResultSet held(MakeItems(1, 1), nullptr, 1); }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(ResultSet, AClaimedCountBeyondTheArraysIsBounded) {
    const long before = com::LiveTaskMemBlocks();
    OPCHDA_ITEM* items = MakeItems(2, 1);
    items[1].dwCount = 1000000;  // more values than the server allocated
    {
        client::ResultSet results(items, TaskArray<HRESULT>(1), 50);  // fewer codes than items
        EXPECT_EQ(results.Count(), 1u);
    }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(ResultSet, ArraysSharedBetweenRecordsAndStringValuesAreReleasedOnce) {
    const long before = com::LiveTaskMemBlocks();
    OPCHDA_ITEM* items = TaskArray<OPCHDA_ITEM>(3);
    items[0] = MakeItem(1, 2);
    items[0].pvDataValues[1].vt = VT_BSTR;
    items[0].pvDataValues[1].bstrVal = SysAllocString(u"shared");
    items[1] = items[2] = items[0];
    { client::ResultSet results(items, TaskArray<HRESULT>(3), 3); }
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

TEST(ResultSet, AttributeRecordsAreReleasedWithinTheirBlocks) {
    const long before = com::LiveTaskMemBlocks();
    auto* records = TaskArray<OPCHDA_ATTRIBUTE>(2);
    records[0].dwNumValues = 7;  // one of each allocated
    records[0].ftTimeStamps = TaskArray<FILETIME>(1);
    records[0].vAttributeValues = TaskArray<VARIANT>(1);
    records[0].vAttributeValues[0].vt = VT_BSTR;
    records[0].vAttributeValues[0].bstrVal = SysAllocString(u"x");
    // Beyond the count asked for: never followed.
    records[1].ftTimeStamps = reinterpret_cast<FILETIME*>(0x10);
    client::ReleaseAttributeValues(records, 1);
    EXPECT_EQ(com::LiveTaskMemBlocks(), before);
}

}  // namespace
