// The Read Attribute dialog against a scripted server.
#include <gtest/gtest.h>

#include "dialog_fakes.h"
#include "dialogs/readattributedlg.h"

namespace {

using dlgtest::Column;
using dlgtest::List;
using dlgtest::Press;

class ReadAttributeDlgTest : public dlgtest::DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        m_server = new dlgtest::FakeHdaServer;
        m_server->attributes = List({{1, u"Data Type", u"The item's data type"},
                                     {4294967295u, u"Vendor", u"Listed signed"},
                                     {3, u"Engineering Units", u"Its unit"}});
        m_host.server = m_server;
    }
    void TearDown() override {
        m_server->Release();
        DialogTest::TearDown();
    }
    static QTreeWidget* Tree(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_ATTRIBUTE_TREE); }
    static void Tick(QWidget* d, int k, bool on) {
        Tree(d)->topLevelItem(k)->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }

    dlgtest::FakeHdaServer* m_server = nullptr;
    dlgtest::FakeHost m_host;
};

TEST_F(ReadAttributeDlgTest, AllStartTickedAndOkHandsOverTheTickedIdsInTreeOrder) {
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList seen;
    QList<Qt::CheckState> ticks;
    ASSERT_EQ(dlgtest::RunModal<CReadAttributeDlg>(dlg,
                                                   [&](CReadAttributeDlg& d) {
                                                       dlgtest::Shot(&d, "readattribute");
                                                       seen << Column(&d, IDC_ATTRIBUTE_TREE, 0);
                                                       for (int c = 0; c < 3; ++c)
                                                           seen << Column(&d, IDC_ATTRIBUTE_LIST, c);
                                                       for (int k = 0; k < 3; ++k)
                                                           ticks << Tree(&d)->topLevelItem(k)->checkState(0);
                                                       Tick(&d, 1, false);
                                                       Press(&d, IDOK);
                                                   }),
              QDialog::Accepted);
    EXPECT_EQ(seen, QStringList({"Data Type", "Vendor", "Engineering Units",                  // tree
                                 "1", "-1", "3", "Data Type", "Vendor", "Engineering Units",  // list
                                 "The item's data type", "Listed signed", "Its unit"}));
    EXPECT_EQ(ticks, QList<Qt::CheckState>(3, Qt::Checked));
    EXPECT_EQ(dlg.m_checkedIds, (std::vector<DWORD>{1, 3}));
    // The list stays for the read until it has named its rows.
    ASSERT_EQ(dlg.m_serverAttributes.size(), 3u);
    EXPECT_EQ(dlg.m_serverAttributes[2].id, 3u);
    EXPECT_EQ(dlg.m_serverAttributes[2].name, u"Engineering Units");
    dlg.ReleaseAttributeList();
    EXPECT_TRUE(dlg.m_serverAttributes.empty());
    ExpectMessages({});
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAttributeDlgTest, NothingToHandOverKeepsTheDialogOpenAndCancelReleasesTheList) {
    dlgtest::ListAnswer failing = List({{1, u"Data Type", u""}});
    failing.hr = E_ACCESSDENIED;
    dlgtest::ListAnswer nullArrays;
    nullArrays.count = 7;
    nullArrays.types = false;
    struct Case {
        dlgtest::ListAnswer answer;
        std::vector<std::u16string> messages;
    } cases[] = {
        {m_server->attributes, {u"No Attibutes were checked"}},  // all unticked by the user
        {List({}), {u"No Attibutes were checked"}},
        {failing,
         {u"Error Retrieving Aggregates, Function Returned 0x80070005", u"No Attibutes were checked"}},
        {nullArrays, {u"No Attibutes were checked"}},
    };
    for (const Case& c : cases) {
        m_messages.clear();
        m_server->attributes = c.answer;
        CReadAttributeDlg dlg;
        dlg.m_pServerPane = &m_host;
        EXPECT_EQ(dlgtest::RunModal<CReadAttributeDlg>(dlg,
                                                       [&](CReadAttributeDlg& d) {
                                                           for (int k = 0; k < Tree(&d)->topLevelItemCount();
                                                                ++k)
                                                               Tick(&d, k, false);
                                                           Press(&d, IDOK);
                                                           EXPECT_TRUE(d.isVisible());
                                                           Press(&d, IDCANCEL);
                                                       }),
                  QDialog::Rejected);
        std::vector<std::u16string> got;
        for (const auto& m : m_messages) got.push_back(m.text);
        EXPECT_EQ(got, c.messages);
        EXPECT_EQ(m_messages.back().caption, u"Read Attribute");
        EXPECT_TRUE(dlg.m_checkedIds.empty());
        EXPECT_TRUE(dlg.m_serverAttributes.empty());
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadAttributeDlgTest, AMisbehavingServersListIsBoundedAndTheNamesReachAsFarAsTheIds) {
    // Claims five; three ids, two names (the second null), four descriptions (one null), no types.
    dlgtest::ListAnswer a;
    a.count = 5;
    a.ids = std::vector<DWORD>{10, 20, 30};
    a.names = std::vector<dlgtest::OptStr>{u"Alpha", std::nullopt};
    a.descs = std::vector<dlgtest::OptStr>{u"a", std::nullopt, u"c", u"beyond the ids"};
    a.types = false;
    m_server->attributes = a;
    {
        CReadAttributeDlg dlg;
        dlg.m_pServerPane = &m_host;
        QStringList seen;
        ASSERT_EQ(dlgtest::RunModal<CReadAttributeDlg>(dlg,
                                                       [&](CReadAttributeDlg& d) {
                                                           seen << Column(&d, IDC_ATTRIBUTE_TREE, 0)
                                                                << Column(&d, IDC_ATTRIBUTE_LIST, 2);
                                                           Press(&d, IDOK);
                                                       }),
                  QDialog::Accepted);
        EXPECT_EQ(seen, QStringList({"Alpha", "(no name, ID 20)", "(no name, ID 30)", "a", "", "c"}));
        ASSERT_EQ(dlg.m_serverAttributes.size(), 3u);
        EXPECT_EQ(dlg.m_serverAttributes[0].name, u"Alpha");
        EXPECT_EQ(dlg.m_serverAttributes[1].name, std::nullopt);
        EXPECT_EQ(dlg.m_serverAttributes[2].name, std::nullopt);
        EXPECT_EQ(dlg.m_checkedIds, (std::vector<DWORD>{10, 20, 30}));
    }
    ExpectNoTaskMemLeft();
}

}  // namespace
