// The per-connection item registry and how it keeps the owner's item list in step.
#include <gtest/gtest.h>

#include "tests/hda/fake_owner.h"

namespace {

using Texts = std::vector<std::u16string>;

class ItemRegistry : public ::testing::Test {
protected:
    void SetUp() override {
        owner.servers[u"Brindlex.OPC.Simulation"] = &first;
        owner.servers[u"hostB.Other.Server"] = &second;
        owner.current = u"Brindlex.OPC.Simulation";
    }
    FakeOwner owner;
    CHDAServer first{&owner};
    CHDAServer second{&owner};
};

TEST_F(ItemRegistry, SecondRegistrationOfAnIdKeepsTheFirstHandleAndOneRow) {
    EXPECT_TRUE(first.AddItemToServer(u"Plant.Flow", 7));
    EXPECT_FALSE(first.AddItemToServer(u"Plant.Flow", 99));
    EXPECT_EQ(first.m_mapItems.size(), 1u);
    EXPECT_EQ(first.GetItemServerHandle(u"Plant.Flow"), 7u);
    EXPECT_EQ(owner.list.Texts(), (Texts{u"Plant.Flow"}));
    EXPECT_EQ(owner.list.rows[0].image, kItemImage);
}

TEST_F(ItemRegistry, IdsDifferingOnlyInCaseAreTwoItems) {
    first.AddItemToServer(u"Tank.Level", 1);
    first.AddItemToServer(u"tank.level", 2);
    EXPECT_EQ(first.m_mapItems.size(), 2u);
    EXPECT_EQ(first.GetItemServerHandle(u"Tank.Level"), 1u);
    EXPECT_EQ(first.GetItemServerHandle(u"tank.level"), 2u);
}

TEST_F(ItemRegistry, RegistrationGoesToTheOwnersCurrentConnection) {
    // Whichever record the dialog calls through, the item lands with the current server.
    owner.current = u"hostB.Other.Server";
    EXPECT_TRUE(first.AddItemToServer(u"A", 5));
    EXPECT_TRUE(first.m_mapItems.empty());
    EXPECT_EQ(second.GetItemServerHandle(u"A"), 5u);

    // No current connection: nothing is stored and no row appears.
    owner.current = u"nowhere";
    EXPECT_FALSE(first.AddItemToServer(u"B", 6));
    EXPECT_EQ(owner.list.Texts(), (Texts{u"A"}));
}

TEST_F(ItemRegistry, ShowServerItemsReplacesTheRowsWithThisConnectionsItems) {
    first.AddItemToServer(u"b", 2);
    first.AddItemToServer(u"a", 1);
    owner.current = u"hostB.Other.Server";
    second.AddItemToServer(u"z", 9);
    EXPECT_EQ(owner.list.Texts(), (Texts{u"a", u"b", u"z"}));  // one list, shared by every connection

    first.ShowServerItems();
    EXPECT_EQ(owner.list.Texts(), (Texts{u"a", u"b"}));
    second.ShowServerItems();
    EXPECT_EQ(owner.list.Texts(), (Texts{u"z"}));
    first.ShowServerItems();
    EXPECT_EQ(owner.list.Texts(), (Texts{u"a", u"b"}));
}

TEST_F(ItemRegistry, RemoveSelectedItemsTakesExactlyTheSelectedRowsAndRecords) {
    for (auto [id, h] : {std::pair{u"i1", 1}, {u"i2", 2}, {u"i3", 3}, {u"i4", 4}, {u"i5", 5}})
        first.AddItemToServer(id, static_cast<OPCHANDLE>(h));
    owner.list.Select(u"i1");
    owner.list.Select(u"i3");
    owner.list.Select(u"i5");
    first.RemoveSelectedItems();
    EXPECT_EQ(owner.list.Texts(), (Texts{u"i2", u"i4"}));
    ASSERT_EQ(first.m_mapItems.size(), 2u);
    EXPECT_EQ(first.GetItemServerHandle(u"i2"), 2u);
    EXPECT_EQ(first.GetItemServerHandle(u"i4"), 4u);
    bool found = true;
    EXPECT_EQ(first.GetItemServerHandle(u"i3", &found), 0u);
    EXPECT_FALSE(found);
}

TEST_F(ItemRegistry, RemoveAllItemsEmptiesTheRegistryButNotTheList) {
    first.AddItemToServer(u"x", 1);
    first.AddItemToServer(u"y", 2);
    first.RemoveAllItems();
    EXPECT_TRUE(first.m_mapItems.empty());
    EXPECT_EQ(owner.list.GetItemCount(), 2);
}

}  // namespace
