// The Read Attribute dialog against a scripted server.
#include <gtest/gtest.h>

#include <QPushButton>
#include <QTreeWidget>

#include "dialog_fakes.h"
#include "dialogs/readattributedlg.h"

namespace {

using dlgtest::DialogTest;
using dlgtest::FakeHdaServer;
using dlgtest::FakeHost;
using dlgtest::List;
using dlgtest::RunModal;

QStringList Column(QTreeWidget* list, int col) {
    QStringList out;
    for (int r = 0; r < list->topLevelItemCount(); ++r) out << list->topLevelItem(r)->text(col);
    return out;
}

class ReadAttributeDlgTest : public DialogTest {
protected:
    void SetUp() override {
        DialogTest::SetUp();
        m_server = new FakeHdaServer;
        m_server->attributes = List({{1, u"Data Type", u"The item's data type"},
                                     {2, u"Description", u"What the item is"},
                                     {3, u"Engineering Units", u"Its unit"}});
        m_host.items = {u"Plant.A"};
        m_host.server = m_server;
    }
    void TearDown() override {
        m_server->Release();
        DialogTest::TearDown();
    }
    static QTreeWidget* Tree(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_ATTRIBUTE_TREE); }
    static QTreeWidget* RefList(QWidget* d) { return dlg::GetDlgItem<QTreeWidget>(d, IDC_ATTRIBUTE_LIST); }
    static void Press(QWidget* d, int id) { dlg::GetDlgItem<QPushButton>(d, id)->click(); }
    // What the read does after OK: name its rows, then release the list and the ids.
    static void ReleaseResults(CReadAttributeDlg& d) {
        d.ReleaseAttributeList();
        CoTaskMemFree(d.m_pCheckedIds);
        d.m_pCheckedIds = nullptr;
    }

    FakeHdaServer* m_server = nullptr;
    FakeHost m_host;
};

TEST_F(ReadAttributeDlgTest, AllAttributesStartTickedAndOkHandsOverTheTickedIdsInTreeOrder) {
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList names, ids, listNames, descs;
    std::vector<Qt::CheckState> ticks;
    QString title;
    const int r = RunModal<CReadAttributeDlg>(dlg, [&](CReadAttributeDlg& d) {
        dlgtest::Shot(&d, "readattribute");
        title = d.windowTitle();
        QTreeWidget* tree = Tree(&d);
        names = Column(tree, 0);
        for (int k = 0; k < tree->topLevelItemCount(); ++k) {
            ticks.push_back(tree->topLevelItem(k)->checkState(0));
            EXPECT_FALSE(tree->topLevelItem(k)->icon(0).isNull());
        }
        ids = Column(RefList(&d), 0);
        listNames = Column(RefList(&d), 1);
        descs = Column(RefList(&d), 2);
        tree->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
        Press(&d, IDOK);
    });
    ASSERT_EQ(r, QDialog::Accepted);
    EXPECT_EQ(title, "Read Attribute");
    EXPECT_EQ(m_server->nGetItemAttributes, 1);
    EXPECT_EQ(names, QStringList({"Data Type", "Description", "Engineering Units"}));
    EXPECT_EQ(ticks, std::vector<Qt::CheckState>(3, Qt::Checked));
    EXPECT_EQ(ids, QStringList({"1", "2", "3"}));
    EXPECT_EQ(listNames, names);
    EXPECT_EQ(descs, QStringList({"The item's data type", "What the item is", "Its unit"}));

    ASSERT_EQ(dlg.m_nCheckedCount, 2);
    EXPECT_EQ(std::vector<DWORD>(dlg.m_pCheckedIds, dlg.m_pCheckedIds + 2), (std::vector<DWORD>{1, 3}));
    // The list is lent to the read until it has named its rows.
    ASSERT_EQ(dlg.m_nServerAttributes, 3);
    EXPECT_EQ(std::u16string(dlg.m_pServerAttributeNames[2]), u"Engineering Units");
    EXPECT_EQ(dlg.m_pServerAttributeIds[2], 3u);
    ReleaseResults(dlg);
    EXPECT_EQ(dlg.m_pServerAttributeNames, nullptr);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAttributeDlgTest, NothingTickedKeepsTheDialogOpenAndCancelReleasesTheList) {
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = &m_host;
    bool stayedOpen = false;
    const int r = RunModal<CReadAttributeDlg>(dlg, [&](CReadAttributeDlg& d) {
        for (int k = 0; k < Tree(&d)->topLevelItemCount(); ++k)
            Tree(&d)->topLevelItem(k)->setCheckState(0, Qt::Unchecked);
        Press(&d, IDOK);
        stayedOpen = d.isVisible();
        Press(&d, IDCANCEL);
    });
    EXPECT_EQ(r, QDialog::Rejected);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(m_messages.messages.size(), 1u);
    EXPECT_EQ(m_messages.messages[0].text, u"No Attibutes were checked");
    EXPECT_EQ(m_messages.messages[0].caption, u"Read Attribute");
    EXPECT_EQ(m_messages.messages[0].icon, hda::MsgIcon::Exclamation);
    EXPECT_EQ(dlg.m_pCheckedIds, nullptr);
    EXPECT_EQ(dlg.m_pServerAttributeIds, nullptr);
    EXPECT_EQ(dlg.m_nServerAttributes, 0);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAttributeDlgTest, IdsAreListedSigned) {
    m_server->attributes = List({{4294967295u, u"Vendor", u""}, {2147483648u, u"Other", u""}, {0, u"Zero", u""}});
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList ids;
    RunModal<CReadAttributeDlg>(dlg, [&](CReadAttributeDlg& d) {
        ids = Column(RefList(&d), 0);
        EXPECT_EQ(RefList(&d)->topLevelItem(0)->textAlignment(0) & Qt::AlignHorizontal_Mask, Qt::AlignRight);
        Press(&d, IDCANCEL);
    });
    EXPECT_EQ(ids, QStringList({"-1", "-2147483648", "0"}));
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAttributeDlgTest, AnEmptyOrFailedListLeavesNothingToTick) {
    struct Case {
        const char* what;
        dlgtest::ListAnswer answer;
        const char16_t* openingMessage;
    } cases[] = {
        {"none", List({}), nullptr},
        {"failure", [] { auto a = List({{1, u"Data Type", u""}}); a.hr = E_ACCESSDENIED; return a; }(),
         u"Error Retrieving Aggregates, Function Returned 0x80070005"},
        {"null arrays with a count", [] { dlgtest::ListAnswer a; a.count = 7; a.types = false; return a; }(),
         nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        m_messages.messages.clear();
        m_server->attributes = c.answer;
        CReadAttributeDlg dlg;
        dlg.m_pServerPane = &m_host;
        int treeRows = -1, listRows = -1;
        size_t atOpening = 0;
        RunModal<CReadAttributeDlg>(dlg, [&](CReadAttributeDlg& d) {
            atOpening = m_messages.messages.size();
            treeRows = Tree(&d)->topLevelItemCount();
            listRows = RefList(&d)->topLevelItemCount();
            Press(&d, IDOK);
            EXPECT_TRUE(d.isVisible());
        });
        EXPECT_EQ(treeRows, 0);
        EXPECT_EQ(listRows, 0);
        ASSERT_EQ(atOpening, c.openingMessage ? 1u : 0u);
        if (c.openingMessage) {
            EXPECT_EQ(m_messages.messages[0].text, c.openingMessage);
            EXPECT_EQ(m_messages.messages[0].caption, u"Error");
        }
        EXPECT_EQ(m_messages.messages.back().text, u"No Attibutes were checked");
        ExpectNoTaskMemLeft();
    }
}

TEST_F(ReadAttributeDlgTest, AMisbehavingServersListIsBoundedAndTheLentNamesReachAsFarAsTheIds) {
    // Claims five; three ids, two names (the second null), four descriptions (one null), no types.
    dlgtest::ListAnswer a;
    a.count = 5;
    a.ids = std::vector<DWORD>{10, 20, 30};
    a.names = std::vector<dlgtest::OptStr>{std::u16string(u"Alpha"), std::nullopt};
    a.descs = std::vector<dlgtest::OptStr>{std::u16string(u"a"), std::nullopt, std::u16string(u"c"),
                                           std::u16string(u"beyond the ids")};
    a.types = false;
    m_server->attributes = a;
    CReadAttributeDlg dlg;
    dlg.m_pServerPane = &m_host;
    QStringList names, descs;
    ASSERT_EQ(RunModal<CReadAttributeDlg>(dlg,
                                          [&](CReadAttributeDlg& d) {
                                              names = Column(Tree(&d), 0);
                                              descs = Column(RefList(&d), 2);
                                              Press(&d, IDOK);
                                          }),
              QDialog::Accepted);
    EXPECT_EQ(names, QStringList({"Alpha", "(no name, ID 20)", "(no name, ID 30)"}));
    EXPECT_EQ(descs, QStringList({"a", "", "c"}));
    ASSERT_EQ(dlg.m_nServerAttributes, 3);
    EXPECT_GE(com::TaskMemCount(dlg.m_pServerAttributeNames), 3u);
    EXPECT_EQ(std::u16string(dlg.m_pServerAttributeNames[0]), u"Alpha");
    EXPECT_EQ(dlg.m_pServerAttributeNames[1], nullptr);
    EXPECT_EQ(dlg.m_pServerAttributeNames[2], nullptr);
    ASSERT_EQ(dlg.m_nCheckedCount, 3);
    EXPECT_EQ(std::vector<DWORD>(dlg.m_pCheckedIds, dlg.m_pCheckedIds + 3), (std::vector<DWORD>{10, 20, 30}));
    ReleaseResults(dlg);
    ExpectNoTaskMemLeft();
}

TEST_F(ReadAttributeDlgTest, TheDialogReleasesTheListItselfIfTheCallerNeverDoes) {
    {
        CReadAttributeDlg dlg;
        dlg.m_pServerPane = &m_host;
        ASSERT_EQ(RunModal<CReadAttributeDlg>(dlg, [](CReadAttributeDlg& d) { Press(&d, IDOK); }),
                  QDialog::Accepted);
        CoTaskMemFree(dlg.m_pCheckedIds);
    }
    ExpectNoTaskMemLeft();
}

}  // namespace
