// The Add Items dialog against the recording test server: the calls it makes and in which order,
// what it shows, what it registers, what it releases, and how it copes with servers that misbehave.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "dialogs/additem.h"
#include "dialogs/dlgkit.h"
#include "outputpane/errorsdlg.h"
#include "resources/uikit.h"
#include "serverpane/opcitemctrls.h"
#include "tests/com/store_fixture.h"
#include "tests/plugins/recording_control.h"
#include "tests/serverpane/fake_frame.h"
#include "tests/serverpane/message_recorder.h"

void PrintTo(const QString& s, std::ostream* os);

namespace {

using namespace hdatest;
using Strings = std::vector<std::string>;
using U16s = std::vector<std::u16string>;

// The pane as the dialog sees it: the server, and a registry that keeps the first handle of an ID.
class FakeAddItemHost : public IAddItemHost {
public:
    IOPCHDA_Server* server = nullptr;
    std::map<std::u16string, OPCHANDLE> registry;
    std::vector<std::pair<std::u16string, OPCHANDLE>> added;  // every AddItemToServer, in order

    IOPCHDA_Server* GetAddItemsServer() const override { return server; }
    BOOL AddItemToServer(const std::u16string& strItemId, OPCHANDLE hServer) override {
        added.emplace_back(strItemId, hServer);
        return registry.try_emplace(strItemId, hServer).second ? TRUE : FALSE;
    }
};

std::string U8s(const std::u16string& s) {
    return U8(s);
}

// The browse calls of a log, one short line each.
Strings BrowseCalls(const std::vector<RecordedCall>& calls) {
    Strings out;
    for (const RecordedCall& c : calls) {
        if (c.method == "IOPCHDA_Server::CreateBrowse") {
            std::string s = "CreateBrowse(" + std::to_string(c.count);
            for (const RecordedFilter& f : c.filters)
                s += "; " + std::to_string(f.attributeId) + " " + std::to_string(f.op) + " vt" +
                     std::to_string(f.value.vt) + " '" + U8s(f.value.text) + "'";
            out.push_back(s + ")");
        } else if (c.method == "IOPCHDA_Browser::GetEnum") {
            out.push_back("GetEnum(" + std::to_string(c.browseType) + ")");
        } else if (c.method == "IEnumString::Next") {
            out.push_back("Next(" + std::to_string(c.count) + ")");
        } else if (c.method == "IOPCHDA_Browser::ChangeBrowsePosition") {
            out.push_back("Change(" + std::to_string(c.browseDirection) + ",'" + U8s(c.text) + "')");
        } else if (c.method == "IOPCHDA_Browser::GetItemID") {
            out.push_back("GetItemID('" + U8s(c.text) + "')");
        }
    }
    return out;
}

QStringList Texts(const QListWidget* list) {
    QStringList out;
    for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
    return out;
}
std::vector<int> Images(const QListWidget* list) {
    std::vector<int> out;
    for (int i = 0; i < list->count(); ++i) out.push_back(CAddItem::EntryImage(list->item(i)));
    return out;
}
QStringList Children(const QTreeWidget* tree, const QTreeWidgetItem* parent = nullptr) {
    QStringList out;
    const int n = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < n; ++i) out << (parent ? parent->child(i) : tree->topLevelItem(i))->text(0);
    return out;
}
QTreeWidgetItem* Child(QTreeWidget* tree, QTreeWidgetItem* parent, const QString& text) {
    const int n = parent ? parent->childCount() : tree->topLevelItemCount();
    for (int i = 0; i < n; ++i) {
        QTreeWidgetItem* c = parent ? parent->child(i) : tree->topLevelItem(i);
        if (c->text(0) == text) return c;
    }
    return nullptr;
}
void SelectEntries(QListWidget* list, const QStringList& texts) {
    list->clearSelection();
    for (int i = 0; i < list->count(); ++i)
        if (texts.contains(list->item(i)->text())) list->item(i)->setSelected(true);
}

// When VISTREL_SHOTS names a directory, saves a picture of the widget there (to look at, not to compare).
void Shot(QWidget* w, const char* name) {
    const QString dir = qEnvironmentVariable("VISTREL_SHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QLatin1String(".png"));
}

// Acts on the next modal window once it is up (and closes it if the action left it open).
std::shared_ptr<bool> OnNextModal(std::function<void(QWidget*)> act) {
    auto ran = std::make_shared<bool>(false);
    QTimer::singleShot(0, [ran, act] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) return;
        *ran = true;
        act(w);
        if (w->isVisible()) w->close();
    });
    return ran;
}

class AddItemTest : public vistrel_test::StoreTest {
protected:
    void SetUp() override {
        StoreTest::SetUp();
        ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        ASSERT_EQ(RegisterRecordingProfiles(HDATEST_RECORDING_PATH), S_OK);
        m_blocks = com::LiveTaskMemBlocks();
        m_control.emplace(CLSID_HdaTestRecording);
        ASSERT_TRUE(m_control->ok());
        ASSERT_EQ(CoCreateInstance(CLSID_HdaTestRecording, nullptr, CLSCTX_INPROC_SERVER, IID_IOPCHDA_Server,
                                   m_server.ReleaseAndGetVoidAddress()),
                  S_OK);
        host.server = m_server.Get();
        Control()->ClearCalls();
    }
    void TearDown() override {
        m_dlg.reset();  // releases the browser
        host.server = nullptr;
        m_server.Reset();
        EXPECT_EQ(Control()->LiveObjects(), 0) << "browser, enumerator or server left alive";
        EXPECT_EQ(Control()->OutstandingReferences(), 0);
        m_control.reset();
        EXPECT_EQ(com::LiveTaskMemBlocks(), m_blocks) << "task memory left";
        CoUninitialize();
        StoreTest::TearDown();
    }
    IRecordingControl* Control() { return m_control->control(); }

    // A dialog for the fake host, initialised as exec() would (without running it).
    CAddItem& Open() {
        m_dlg = std::make_unique<CAddItem>();
        m_dlg->m_pServerPane = &host;
        m_dlg->OnInitDialog();
        return *m_dlg;
    }
    CAddItem& Dlg() { return *m_dlg; }
    QTreeWidget* Tree() { return m_dlg->GetBrowseTree(); }
    QListWidget* Leaves() { return m_dlg->GetLeavesList(); }
    QListWidget* Tags() { return m_dlg->GetTagList(); }
    void Select(QTreeWidgetItem* node) {
        ASSERT_NE(node, nullptr);
        Tree()->setCurrentItem(node);
    }
    // Selects a path of branches from the root, each in turn as a user would.
    QTreeWidgetItem* Browse(std::initializer_list<const char*> path) {
        QTreeWidgetItem* node = nullptr;
        for (const char* name : path) {
            node = Child(Tree(), node, QString::fromUtf8(name));
            if (!node) return nullptr;
            Tree()->setCurrentItem(node);
        }
        return node;
    }
    void Type(const QString& id) {
        Dlg().GetItemIdEdit()->setText(id);
        Dlg().OnAddItemId();
    }
    Strings Browsed() { return BrowseCalls(Control()->Calls()); }
    std::vector<RecordedCall> CallsTo(const char* method) { return Control()->CallsTo(method); }

    FakeAddItemHost host;
    MessageRecorder messages;
    std::optional<ScopedControl> m_control;
    com::ComPtr<IOPCHDA_Server> m_server;
    std::unique_ptr<CAddItem> m_dlg;
    long m_blocks = 0;
};

// ---- Opening ----

TEST_F(AddItemTest, OpensWithItsControlsMenusAndTheRootBranches) {
    CAddItem& dlg = Open();
    EXPECT_EQ(dlg.windowTitle(), "Insert Item");
    for (int id : {CAddItem::IDC_ITEMID, CAddItem::IDC_ADD_ITEMID, CAddItem::IDC_BROWSE_TREE,
                   CAddItem::IDC_LEAVES_LIST, CAddItem::IDC_TAG_LIST, 1})
        EXPECT_NE(dlg::GetDlgItem(&dlg, id), nullptr) << id;
    EXPECT_EQ(dlg.GetItemIdEdit()->text(), "Item ID");
    EXPECT_EQ(dlg.m_strItemId, u"Item ID");
    EXPECT_TRUE(dlg.GetAddButton()->isDefault());
    EXPECT_FALSE(dlg.GetAddButton()->icon().isNull());
    EXPECT_EQ(dlg.m_TreeImages.size(), 2);
    EXPECT_EQ(dlg.m_LeafImages.size(), 1);
    EXPECT_EQ(dlg.m_TagImages.size(), 3);

    // The menu bar: three popups, their commands, and Validate off while the tag list is empty.
    QStringList titles;
    for (QAction* a : dlg.GetMenuBar()->actions()) titles << a->text();
    EXPECT_EQ(titles, (QStringList{"&Browse", "&Item", "  "}));
    auto entries = [&](int popup) {
        QStringList out;
        for (QAction* a : dlg.GetPopup(popup)->actions()) out << a->text() + "=" + a->data().toString();
        return out;
    };
    EXPECT_EQ(entries(0),
              (QStringList{"&Edit Item ID=32784", "&Add To Tag List=32783", "A&dd All Items To List=32782"}));
    EXPECT_EQ(entries(1), (QStringList{"&Validate=32781"}));
    EXPECT_EQ(entries(2), (QStringList{"Delete Selected Items=32786"}));
    EXPECT_EQ(dlg.GetCommand(CAddItem::ID_BROWSE_EDITITEMID)->statusTip(), "Edit the tag id");
    EXPECT_EQ(dlg.GetCommand(CAddItem::ID_ITEM_VALIDATE)->statusTip(), "Validate selected items");
    EXPECT_FALSE(dlg.GetCommand(CAddItem::ID_ITEM_VALIDATE)->isEnabled());

    // One browser with the "*" item ID filter, then the root's branches one name at a time.
    EXPECT_EQ(Browsed(),
              (Strings{"CreateBrowse(1; 13 1 vt8 '*')", "GetEnum(1)", "Next(1)", "Next(1)", "Next(1)"}));
    EXPECT_EQ(Children(Tree()), (QStringList{"Plant", "Utilities"}));
    EXPECT_EQ(Leaves()->count(), 0);  // leaves come with a selection
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(AddItemTest, ABranchThreeLevelsDownIsReachedFromTheRootAndFilledOnce) {
    Control()->SetAddressSpace({u"A.B.C.Leaf2", u"A.B.C.Leaf1", u"A.B.Side", u"Top"}, u'.');
    Open();
    ASSERT_EQ(Children(Tree()), (QStringList{"A"}));
    QTreeWidgetItem* b = Browse({"A", "B"});
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(Children(Tree(), b), (QStringList{"C"}));
    EXPECT_EQ(Texts(Leaves()), (QStringList{"Side"}));

    Control()->ClearCalls();
    Select(Child(Tree(), b, "C"));
    EXPECT_EQ(Browsed(), (Strings{"Change(1,'')", "Change(3,'A')", "Change(2,'B')", "Change(2,'C')",  // walk
                                  "GetEnum(4)", "Next(1)", "Next(1)", "Next(1)",  // leaves
                                  "GetEnum(1)"}));                // no sub-branches: S_FALSE, nothing to read
    EXPECT_EQ(Texts(Leaves()), (QStringList{"Leaf1", "Leaf2"}));  // sorted

    // Back to B: its leaves are read again, its sub-branches are not asked for again.
    Control()->ClearCalls();
    Select(b);
    EXPECT_EQ(Browsed(), (Strings{"Change(1,'')", "Change(3,'A')", "Change(2,'B')", "GetEnum(4)", "Next(1)",
                                  "Next(1)"}));
    EXPECT_EQ(Children(Tree(), b), (QStringList{"C"}));
    EXPECT_EQ(Texts(Leaves()), (QStringList{"Side"}));

    // A branch whose sub-branch list was empty is not asked again either.
    Select(Child(Tree(), b, "C"));
    Control()->ClearCalls();
    Select(b);
    Select(Child(Tree(), b, "C"));
    EXPECT_EQ(CallsTo("IOPCHDA_Browser::GetEnum").size(), 2u);  // B's and C's leaves only
    EXPECT_TRUE(messages.seen.empty());
}

// ---- Collecting item IDs ----

TEST_F(AddItemTest, LeavesAreResolvedByGetItemIdAtTheSelectedBranch) {
    Open();
    Browse({"Plant", "Area1"});
    ASSERT_EQ(Texts(Leaves()), (QStringList{"Pressure", "Temperature"}));

    Control()->ClearCalls();
    SelectEntries(Leaves(), {"Temperature", "Pressure"});
    Dlg().OnAddToTagList();  // in list order
    EXPECT_EQ(Browsed(), (Strings{"GetItemID('Pressure')", "GetItemID('Temperature')"}));
    EXPECT_EQ(Texts(Tags()), (QStringList{"Plant.Area1.Pressure", "Plant.Area1.Temperature"}));
    EXPECT_EQ(Images(Tags()), (std::vector<int>{0, 0}));
    EXPECT_TRUE(Dlg().GetCommand(CAddItem::ID_ITEM_VALIDATE)->isEnabled());

    // Edit Item ID takes the first selected leaf; a double click does the same.
    Dlg().OnEditItemId();
    EXPECT_EQ(Dlg().GetItemIdEdit()->text(), "Plant.Area1.Pressure");
    EXPECT_EQ(Dlg().m_strItemId, u"Plant.Area1.Pressure");
    Leaves()->clearSelection();
    Leaves()->item(1)->setSelected(true);
    emit Leaves()->itemDoubleClicked(Leaves()->item(1));
    EXPECT_EQ(Dlg().GetItemIdEdit()->text(), "Plant.Area1.Temperature");

    // All items: every leaf, selected or not; the same ID twice is kept twice.
    Dlg().OnAddAllItems();
    EXPECT_EQ(Texts(Tags()), (QStringList{"Plant.Area1.Pressure", "Plant.Area1.Pressure",
                                          "Plant.Area1.Temperature", "Plant.Area1.Temperature"}));
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(AddItemTest, ALeafTheServerCannotResolveIsNamedAndTheOthersStillCome) {
    Open();
    Browse({"Plant", "Area1"});
    Control()->Hooks().GetItemID = [](LPCWSTR szNode, LPWSTR* out) -> HRESULT {
        *out = nullptr;
        if (std::u16string(szNode) == u"Pressure") return E_FAIL;
        if (std::u16string(szNode) == u"Temperature") return S_OK;  // success without a string
        return E_INVALIDARG;
    };
    Type("Typed");
    SelectEntries(Leaves(), {"Pressure", "Temperature"});
    Dlg().OnAddToTagList();
    ASSERT_EQ(messages.Texts(),
              (U16s{u"PressureError getting tagname", u"TemperatureError getting tagname"}));
    EXPECT_EQ(messages.seen[0].caption, u"BrindlexOPC HDA Vistrel");
    EXPECT_EQ(messages.seen[0].buttons, hda::MsgButtons::Ok);
    EXPECT_EQ(Texts(Tags()), (QStringList{"Typed"}));

    // Nothing selected: the empty name is asked for, and the edit box keeps its text.
    Leaves()->clearSelection();
    Control()->ClearCalls();
    Dlg().OnEditItemId();
    EXPECT_EQ(Browsed(), (Strings{"GetItemID('')"}));
    EXPECT_EQ(messages.Texts().back(), u"Error getting tagname");
    EXPECT_EQ(Dlg().GetItemIdEdit()->text(), "Typed");
}

TEST_F(AddItemTest, EnterInTheItemIdBoxAddsTheTextWithoutACheckAndKeepsTheDialogOpen) {
    CAddItem& dlg = Open();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    dlg.GetItemIdEdit()->setFocus();
    dlg.GetItemIdEdit()->setText("zeta");
    QTest::keyClick(dlg.GetItemIdEdit(), Qt::Key_Return);
    dlg.GetItemIdEdit()->setText("alpha");
    QTest::mouseClick(dlg.GetAddButton(), Qt::LeftButton);
    dlg.GetItemIdEdit()->clear();
    QTest::keyClick(dlg.GetItemIdEdit(), Qt::Key_Return);
    QTest::keyClick(dlg.GetItemIdEdit(), Qt::Key_Return);
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_EQ(Texts(Tags()), (QStringList{"", "", "alpha", "zeta"}));  // sorted, empty and duplicate included
    EXPECT_EQ(dlg.m_strItemId, u"");
    EXPECT_TRUE(BrowseCalls(CallsTo("IOPCHDA_Browser::GetItemID")).empty());
    dlg.hide();
}

// ---- Validate and delete ----

TEST_F(AddItemTest, ValidateMarksEveryEntryAndLeavesTheListAloneWhenTheCallFails) {
    CAddItem& dlg = Open();
    Control()->ClearCalls();
    dlg.GetCommand(CAddItem::ID_ITEM_VALIDATE)->trigger();  // disabled: nothing happens
    dlg.OnValidate();                                       // empty: nothing happens
    EXPECT_TRUE(Control()->Calls().empty());

    Type("b.ok");
    Type("");  // refused as an invalid ID
    Type("a.ok");
    dlg.OnValidate();
    auto v = CallsTo("IOPCHDA_Server::ValidateItemIDs");
    ASSERT_EQ(v.size(), 1u);
    EXPECT_EQ(v[0].count, 3u);
    EXPECT_EQ(v[0].itemIds, (U16s{u"", u"a.ok", u"b.ok"}));  // the whole list in list order
    EXPECT_EQ(Images(Tags()), (std::vector<int>{2, 1, 1}));
    Type("c.new");
    EXPECT_EQ(Images(Tags()), (std::vector<int>{2, 1, 1, 0}));  // a new entry starts unvalidated

    Control()->Hooks().ValidateItemIDs = [](DWORD, LPWSTR*, HRESULT** ppErrors) {
        *ppErrors = nullptr;
        return E_FAIL;
    };
    dlg.OnValidate();
    EXPECT_EQ(messages.Texts(), (U16s{u"Can't validate Item IDs."}));
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(Images(Tags()), (std::vector<int>{2, 1, 1, 0}));
}

TEST_F(AddItemTest, DeleteAsksFirstAndRemovesOnlyTheSelectedEntriesOnYes) {
    CAddItem& dlg = Open();
    Control()->ClearCalls();
    dlg.OnDeleteSelected();  // nothing selected: no question
    for (const char* id : {"one", "two", "three"}) Type(id);
    SelectEntries(Tags(), {"one", "three"});

    messages.answers = {hda::MsgResult::No, hda::MsgResult::Cancel};
    dlg.OnDeleteSelected();
    QTest::keyClick(Tags(), Qt::Key_Delete);
    EXPECT_EQ(Texts(Tags()), (QStringList{"one", "three", "two"}));
    ASSERT_EQ(messages.seen.size(), 2u);
    EXPECT_EQ(messages.seen[0].text, u"Delete All Selected Items?");
    EXPECT_EQ(messages.seen[0].caption, u"Confirm Delete");
    EXPECT_EQ(messages.seen[0].icon, hda::MsgIcon::Question);
    EXPECT_EQ(messages.seen[0].buttons, hda::MsgButtons::YesNoCancel);

    QTest::keyClick(Tags(), Qt::Key_Delete);  // Yes
    EXPECT_EQ(Texts(Tags()), (QStringList{"two"}));
    SelectEntries(Tags(), {"two"});
    dlg.GetCommand(CAddItem::ID_DELETE_SELECTED)->trigger();
    EXPECT_EQ(Tags()->count(), 0);
    EXPECT_FALSE(dlg.GetCommand(CAddItem::ID_ITEM_VALIDATE)->isEnabled());
    EXPECT_TRUE(Control()->Calls().empty());
}

TEST_F(AddItemTest, RightClicksOpenTheBrowsePopupOverTheLeavesAndTheDeletePopupOverTheTags) {
    Open();
    Browse({"Plant", "Area1"});
    Type("t.one");
    Type("t.two");
    SelectEntries(Tags(), {"t.one"});
    QMenu* shown = nullptr;
    auto pick = [&](int nId) {
        QTimer::singleShot(0, [&, nId] {
            shown = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!shown) return;
            if (nId)
                for (QAction* a : shown->actions())
                    if (a->data().toInt() == nId) a->trigger();
            shown->close();
        });
    };
    pick(0);
    emit Leaves()->customContextMenuRequested(QPoint(4, 4));
    EXPECT_EQ(shown, Dlg().GetPopup(0));

    // The commands of a popup reach the dialog as from its menu bar.
    shown = nullptr;
    SelectEntries(Leaves(), {"Temperature"});
    pick(CAddItem::ID_BROWSE_ADDTOTAGLIST);
    emit Leaves()->customContextMenuRequested(QPoint(4, 4));
    EXPECT_EQ(shown, Dlg().GetPopup(0));
    shown = nullptr;
    pick(CAddItem::ID_DELETE_SELECTED);
    emit Tags()->customContextMenuRequested(QPoint(4, 4));
    EXPECT_EQ(shown, Dlg().GetPopup(2));
    EXPECT_EQ(messages.Texts(), (U16s{u"Delete All Selected Items?"}));
    EXPECT_EQ(Texts(Tags()), (QStringList{"Plant.Area1.Temperature", "t.two"}));
}

// ---- OK: the handle request ----

TEST_F(AddItemTest, OkAsksForHandlesOfTheWholeListAndRegistersWhatTheServerAccepted) {
    CAddItem& dlg = Open();
    for (const char* id : {"Plant.Status", "Refused.Softly", "Bad", "Sinusoid"}) Type(id);
    Control()->Hooks().GetItemHandles = [](DWORD n, LPWSTR* ids, OPCHANDLE*, OPCHANDLE** pphServer,
                                           HRESULT** ppErrors) {
        *pphServer = TaskArray<OPCHANDLE>(n);
        *ppErrors = TaskArray<HRESULT>(n);
        for (DWORD i = 0; i < n; ++i) {
            const std::u16string id(ids[i]);
            (*pphServer)[i] = 100 + i;
            (*ppErrors)[i] = id == u"Refused.Softly" ? S_FALSE : id == u"Bad" ? OPC_E_INVALIDITEMID : S_OK;
        }
        return S_FALSE;
    };

    QStringList rows;
    auto ran = OnNextModal([&](QWidget* w) {
        auto* errors = qobject_cast<CErrorsEncounteredDlg*>(w);
        ASSERT_NE(errors, nullptr);
        QTreeWidget* list = errors->GetList();
        for (int r = 0; r < list->topLevelItemCount(); ++r)
            rows << list->topLevelItem(r)->text(0) + "|" + list->topLevelItem(r)->text(1) + "|" +
                        list->topLevelItem(r)->text(2);
        errors->accept();
    });
    dlg.OnOK();
    EXPECT_TRUE(*ran) << "no list of refused items";
    EXPECT_EQ(rows, (QStringList{"Bad|C0040008|The item definition does not conform to the servers syntax",
                                 "Refused.Softly|1|Unknown Error"}));

    auto h = CallsTo("IOPCHDA_Server::GetItemHandles");
    ASSERT_EQ(h.size(), 1u);
    EXPECT_EQ(h[0].count, 4u);
    EXPECT_EQ(h[0].itemIds, (U16s{u"Bad", u"Plant.Status", u"Refused.Softly", u"Sinusoid"}));
    EXPECT_EQ(h[0].clientHandles, (std::vector<OPCHANDLE>{0, 0, 0, 0}));
    EXPECT_EQ(host.added, (std::vector<std::pair<std::u16string, OPCHANDLE>>{{u"Plant.Status", 101},
                                                                             {u"Sinusoid", 103}}));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(CallsTo("IOPCHDA_Server::ReleaseItemHandles").empty());
    EXPECT_TRUE(messages.seen.empty());
}

TEST_F(AddItemTest, OkWithAnEmptyListCallsNothingAndAFailedRequestRegistersNothing) {
    CAddItem& dlg = Open();
    Control()->ClearCalls();
    dlg.OnOK();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_TRUE(Control()->Calls().empty());
    EXPECT_TRUE(messages.seen.empty());

    dlg.setResult(QDialog::Rejected);
    Type("x");
    Type("x");  // the same ID twice goes twice; the registry keeps the first
    Control()->Hooks().GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** pphServer,
                                           HRESULT** ppErrors) {
        *pphServer = TaskArray<OPCHANDLE>({7, 8});  // a failing server's arrays are released all the same
        *ppErrors = nullptr;
        return E_FAIL;
    };
    dlg.OnOK();
    EXPECT_EQ(messages.Texts(), (U16s{u"Error retrieving server handles"}));
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_TRUE(host.added.empty());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    Control()->Hooks().GetItemHandles = nullptr;
    dlg.OnOK();
    EXPECT_EQ(host.added, (std::vector<std::pair<std::u16string, OPCHANDLE>>{{u"x", 1}, {u"x", 2}}));
    EXPECT_EQ(host.registry, (std::map<std::u16string, OPCHANDLE>{{u"x", 1}}));
}

TEST_F(AddItemTest, MemoryRunningOutIsSaidCallsNothingAndKeepsTheDialogOpen) {
    CAddItem& dlg = Open();
    Type("a");
    Type("b");
    Control()->ClearCalls();
    com::FailTaskMemAlloc(2);  // the second item ID's copy
    dlg.OnValidate();
    com::FailTaskMemAlloc(1);
    dlg.setResult(QDialog::Rejected);
    dlg.OnOK();
    com::ResetTaskMemFailure();
    EXPECT_EQ(messages.Texts(), (U16s{u"Out of Memory!", u"Out of Memory!"}));
    EXPECT_EQ(messages.seen[0].caption, u"Error");
    EXPECT_EQ(dlg.result(), QDialog::Rejected);  // OK did not close it
    EXPECT_EQ(Images(Tags()), (std::vector<int>{0, 0}));
    EXPECT_TRUE(Control()->Calls().empty());
    EXPECT_TRUE(host.added.empty());
}

TEST_F(AddItemTest, ClosingWithoutOkCallsNothing) {
    CAddItem& dlg = Open();
    Type("never.sent");
    Control()->ClearCalls();
    dlg.reject();
    EXPECT_TRUE(Control()->Calls().empty());
    EXPECT_TRUE(host.added.empty());
}

TEST_F(AddItemTest, RunsModallyAndEscapeCancels) {
    m_dlg = std::make_unique<CAddItem>();
    m_dlg->m_pServerPane = &host;
    auto ran = OnNextModal([&](QWidget* w) {
        EXPECT_EQ(w, m_dlg.get());
        EXPECT_EQ(Children(Tree()), (QStringList{"Plant", "Utilities"}));
        Type("typed");
        QTest::keyClick(w, Qt::Key_Escape);
    });
    EXPECT_EQ(m_dlg->exec(), QDialog::Rejected);
    EXPECT_TRUE(*ran);
    EXPECT_TRUE(CallsTo("IOPCHDA_Server::GetItemHandles").empty());
}

// The whole road on screen: browse three levels down, add, validate. With VISTREL_SHOTS set, pictures
// of each step are saved there to look at.
TEST_F(AddItemTest, OnScreenBrowseThreeLevelsDownAddAndValidate) {
    Control()->SetAddressSpace(
        {u"Plant.Area1.Line3.Temperature", u"Plant.Area1.Line3.Pressure", u"Plant.Area1.Line3.Flow.Rate",
         u"Plant.Area1.Line4.Level", u"Plant.Area2.Flow", u"Plant.Status", u"Utilities.Power", u"Sinusoid"},
        u'.');
    CAddItem& dlg = Open();
    dlg.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    Shot(&dlg, "additem-1-open");
    QTreeWidgetItem* line3 = Browse({"Plant", "Area1", "Line3"});
    ASSERT_NE(line3, nullptr);
    for (QTreeWidgetItem* n = line3; n; n = n->parent())
        EXPECT_TRUE(n->isExpanded()) << n->text(0).toStdString();
    EXPECT_EQ(Texts(Leaves()), (QStringList{"Pressure", "Temperature"}));
    EXPECT_EQ(Children(Tree(), line3), (QStringList{"Flow"}));
    QApplication::processEvents();
    Shot(&dlg, "additem-2-browsed");
    SelectEntries(Leaves(), {"Pressure", "Temperature"});
    dlg.OnAddToTagList();
    Type("Sinusoid");
    Type("");
    QApplication::processEvents();
    Shot(&dlg, "additem-3-added");
    dlg.OnValidate();
    EXPECT_EQ(Images(Tags()), (std::vector<int>{2, 1, 1, 1}));
    QApplication::processEvents();
    Shot(&dlg, "additem-4-validated");
    dlg.hide();
}

TEST_F(AddItemTest, TheServerPaneOpensItForTheSelectedServerAndListsWhatWasRegistered) {
    FakeFrame frame;
    auto pane = std::make_unique<CServerPane>();
    pane->m_pMainFrame = &frame;
    frame.pane = pane.get();
    frame.combo.addItem(QStringLiteral("HdaTest.Recording.1"));
    frame.combo.setCurrentIndex(0);
    pane->OnConnect();
    ASSERT_EQ(pane->m_mapServers.size(), 1u);

    auto ran = OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CAddItem*>(w);
        ASSERT_NE(dlg, nullptr);
        EXPECT_EQ(dlg->parentWidget(), nullptr);
        QTreeWidget* tree = dlg->GetBrowseTree();
        QTreeWidgetItem* plant = Child(tree, nullptr, "Plant");
        tree->setCurrentItem(plant);
        tree->setCurrentItem(Child(tree, plant, "Area1"));
        SelectEntries(dlg->GetLeavesList(), {"Pressure", "Temperature"});
        dlg->OnAddToTagList();
        dlg->GetItemIdEdit()->setText("Sinusoid");
        dlg->OnAddItemId();
        dlg->OnValidate();
        EXPECT_EQ(Images(dlg->GetTagList()), (std::vector<int>{1, 1, 1}));
        dlg::GetDlgItem<QPushButton>(dlg, 1)->click();
    });
    pane->OnAddItems();
    EXPECT_TRUE(*ran);
    QStringList rows;
    for (int i = 0; i < pane->GetItemList()->count(); ++i) rows << pane->GetItemList()->item(i)->text();
    EXPECT_EQ(rows, (QStringList{"Plant.Area1.Pressure", "Plant.Area1.Temperature", "Sinusoid"}));
    const CHDAServer* server = pane->FindServer(u"HdaTest.Recording.1");
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->GetItemServerHandle(u"Plant.Area1.Pressure"), 1u);
    EXPECT_EQ(server->GetItemServerHandle(u"Sinusoid"), 3u);
    EXPECT_TRUE(messages.seen.empty());
    frame.pane = nullptr;
    pane.reset();
}

#ifdef SIM_PLUGIN_PATH
// The whole road against the simulation historian: connect, browse three levels down, add, validate,
// register, and see the items in the pane's list.
TEST_F(AddItemTest, TheSimulationHistorianEndToEnd) {
    const std::string command =
        std::string(VISTREL_REGSVR_PATH) + " --store '" + m_dir + "' '" + SIM_PLUGIN_PATH + "' > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    vistrel_test::ScopedEnv db("VISTREL_SIM_DB", std::string(":memory:"));

    FakeFrame frame;
    auto pane = std::make_unique<CServerPane>();
    pane->m_pMainFrame = &frame;
    frame.pane = pane.get();
    frame.combo.addItem(QStringLiteral("Brindlex.OPC.Simulation"));
    frame.combo.setCurrentIndex(0);
    pane->OnConnect();
    ASSERT_EQ(pane->m_mapServers.size(), 1u) << (messages.seen.empty() ? "" : U8(messages.seen[0].text));

    QStringList refused;
    auto ran = OnNextModal([&](QWidget* w) {
        auto* dlg = qobject_cast<CAddItem*>(w);
        ASSERT_NE(dlg, nullptr);
        QTreeWidget* tree = dlg->GetBrowseTree();
        EXPECT_EQ(Children(tree), (QStringList{"Generated", "Writable"}));
        QTreeWidgetItem* node = nullptr;
        for (const char* name : {"Generated", "Plant", "Boiler"}) {
            node = Child(tree, node, QString::fromUtf8(name));
            ASSERT_NE(node, nullptr) << name;
            tree->setCurrentItem(node);
        }
        EXPECT_EQ(Texts(dlg->GetLeavesList()),
                  (QStringList{"BurnerOn", "Level", "Pressure", "State", "Temperature"}));
        SelectEntries(dlg->GetLeavesList(), {"Pressure", "Temperature"});
        dlg->OnAddToTagList();
        for (const char* id : {"Generated.Plant.Reactor", "No.Such.Item"}) {
            dlg->GetItemIdEdit()->setText(QString::fromUtf8(id));
            dlg->OnAddItemId();
        }
        dlg->OnValidate();
        EXPECT_EQ(Images(dlg->GetTagList()), (std::vector<int>{1, 1, 1, 2}));
        dlg->show();
        QApplication::processEvents();
        Shot(dlg, "additem-sim-validated");
        OnNextModal([&](QWidget* e) {
            if (auto* errors = qobject_cast<CErrorsEncounteredDlg*>(e)) {
                QTreeWidget* list = errors->GetList();
                for (int r = 0; r < list->topLevelItemCount(); ++r)
                    refused << list->topLevelItem(r)->text(0) + "|" + list->topLevelItem(r)->text(1) + "|" +
                                   list->topLevelItem(r)->text(2);
                Shot(errors, "additem-sim-refused");
            }
        });
        dlg::GetDlgItem<QPushButton>(dlg, 1)->click();
    });
    pane->OnAddItems();
    EXPECT_TRUE(*ran);
    EXPECT_EQ(refused, (QStringList{"No.Such.Item|C0040007|Unknown Error"}));
    QStringList rows;
    for (int i = 0; i < pane->GetItemList()->count(); ++i) rows << pane->GetItemList()->item(i)->text();
    EXPECT_EQ(rows, (QStringList{"Generated.Plant.Boiler.Pressure", "Generated.Plant.Boiler.Temperature",
                                 "Generated.Plant.Reactor"}));
    const CHDAServer* server = pane->FindServer(u"Brindlex.OPC.Simulation");
    ASSERT_NE(server, nullptr);
    bool found = false;
    EXPECT_NE(server->GetItemServerHandle(u"Generated.Plant.Reactor", &found), 0u);
    EXPECT_TRUE(found);
    EXPECT_TRUE(messages.seen.empty()) << U8(messages.seen.empty() ? u"" : messages.seen[0].text);
    frame.pane = nullptr;
    pane.reset();
}
#endif

// ---- Misbehaving servers ----

TEST_F(AddItemTest, WithoutABrowserTheDialogStillAddsTypedItems) {
    Control()->Hooks().CreateBrowse = [](DWORD, DWORD*, OPCHDA_OPERATORCODES*, VARIANT*, IOPCHDA_Browser** pp,
                                         HRESULT** ppErrors) {
        *pp = nullptr;
        *ppErrors = TaskArray<HRESULT>({E_FAIL});  // released unread
        return E_FAIL;
    };
    CAddItem& dlg = Open();
    ASSERT_EQ(messages.Texts(), (U16s{u"Unable to get browser: GetBrowser returns 80004005"}));
    EXPECT_EQ(messages.seen[0].caption, u"Oops!");
    EXPECT_EQ(Tree()->topLevelItemCount(), 0);
    EXPECT_FALSE(dlg.HasBrowser());
    dlg.OnAddAllItems();  // nothing to add, nothing to call
    Type("Sinusoid");
    dlg.OnOK();
    EXPECT_EQ(host.added, (std::vector<std::pair<std::u16string, OPCHANDLE>>{{u"Sinusoid", 1}}));

    // Success without a browser is no browser either.
    messages.seen.clear();
    Control()->Hooks().CreateBrowse = [](DWORD, DWORD*, OPCHDA_OPERATORCODES*, VARIANT*, IOPCHDA_Browser** pp,
                                         HRESULT** ppErrors) {
        *pp = nullptr;
        *ppErrors = nullptr;
        return S_OK;
    };
    EXPECT_FALSE(dlg.CreateBrowser());
    EXPECT_EQ(messages.Texts(), (U16s{u"Unable to get browser: CreateBrowse returned 0 without a browser"}));
}

TEST_F(AddItemTest, AnEnumeratorThatClaimsANameWithoutOneEndsTheListAndIsNamed) {
    // The second Next says S_OK but gives no string (first with a count of one, then of zero).
    for (ULONG claimed : {1u, 0u}) {
        SCOPED_TRACE(claimed);
        messages.seen.clear();
        Control()->Hooks().EnumNext = [claimed](OPCHDA_BROWSETYPE, ULONG call,
                                                const std::vector<std::u16string>& names, ULONG,
                                                LPOLESTR* rgelt, ULONG* fetched) -> HRESULT {
            rgelt[0] = call == 0 ? TaskString(names[0]) : nullptr;
            *fetched = call == 0 ? 1 : claimed;
            return S_OK;
        };
        Control()->ClearCalls();
        Open();
        EXPECT_EQ(Browsed(), (Strings{"CreateBrowse(1; 13 1 vt8 '*')", "GetEnum(1)", "Next(1)", "Next(1)"}));
        EXPECT_EQ(Children(Tree()), (QStringList{"Plant"}));
        ASSERT_EQ(messages.seen.size(), 1u);
        EXPECT_EQ(
            messages.seen[0].text,
            u"The server's list of branches ended early: Next returned S_OK without a name. The 1 received "
            u"are shown.");
        Browse({"Plant"});  // the leaves' list is cut the same way
        EXPECT_EQ(Texts(Leaves()), (QStringList{"Status"}));
        EXPECT_EQ(messages.seen.size(), 3u);  // leaves, then Plant's branches
        m_dlg.reset();
    }
}

TEST_F(AddItemTest, AnEnumeratorThatNeverEndsIsStoppedAndSaysSo) {
    ULONG calls = 0;
    // The names of the list over and over again.
    Control()->Hooks().EnumNext = [&calls](OPCHDA_BROWSETYPE, ULONG call,
                                           const std::vector<std::u16string>& names, ULONG, LPOLESTR* rgelt,
                                           ULONG* fetched) -> HRESULT {
        ++calls;
        rgelt[0] = TaskString(names[call % names.size()]);
        *fetched = 1;
        return S_OK;
    };
    CAddItem& dlg = Open();
    EXPECT_EQ(dlg.m_nMaxBrowseNames, 100000u);
    EXPECT_EQ(calls, 100001u);  // the limit, and one more to know there is more
    EXPECT_EQ(Tree()->topLevelItemCount(), 100000);
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_EQ(messages.seen[0].text,
              u"The server lists more than 100000 branches here; only the first 100000 are shown.");
    EXPECT_EQ(messages.seen[0].caption, u"Error");

    // The leaves list the same way (a lower limit keeps the test short).
    dlg.m_nMaxBrowseNames = 50;
    calls = 0;
    Select(Tree()->topLevelItem(0));
    EXPECT_EQ(Leaves()->count(), 50);
    EXPECT_EQ(calls, 51u * 2);  // leaves and sub-branches
    EXPECT_EQ(messages.Texts().back(),
              u"The server lists more than 50 branches here; only the first 50 are shown.");
    EXPECT_EQ(messages.Texts()[1], u"The server lists more than 50 items here; only the first 50 are shown.");
}

TEST_F(AddItemTest, NamesOfAHundredThousandCharactersAreShownCutAndSentWhole) {
    const std::u16string branch(100000, u'B');
    const std::u16string leaf = std::u16string(99999, u'L') + u"x";
    Control()->SetAddressSpace({branch + u"." + leaf}, u'.');
    CAddItem& dlg = Open();
    ASSERT_EQ(Tree()->topLevelItemCount(), 1);
    QTreeWidgetItem* node = Tree()->topLevelItem(0);
    EXPECT_EQ(node->text(0), ui::ToQString(std::u16string(256, u'B') + u"\u2026"));
    EXPECT_EQ(CAddItem::EntryText(node), branch);

    Control()->ClearCalls();
    Select(node);
    auto moves = CallsTo("IOPCHDA_Browser::ChangeBrowsePosition");
    ASSERT_EQ(moves.size(), 2u);
    EXPECT_EQ(moves[1].text, branch);
    ASSERT_EQ(Leaves()->count(), 1);
    EXPECT_EQ(Leaves()->item(0)->text().size(), 257);
    EXPECT_EQ(CAddItem::EntryText(Leaves()->item(0)), leaf);

    Leaves()->item(0)->setSelected(true);
    dlg.OnAddToTagList();
    dlg.OnEditItemId();
    const std::u16string id = branch + u"." + leaf;
    EXPECT_EQ(dlg.m_strItemId, id);
    EXPECT_EQ(ui::ToU16(dlg.GetItemIdEdit()->text()), id);  // the edit box holds it whole
    dlg.OnAddItemId();
    ASSERT_EQ(Tags()->count(), 2);
    EXPECT_EQ(dlg.TagListTexts(), (U16s{id, id}));
    dlg.OnValidate();
    EXPECT_EQ(CallsTo("IOPCHDA_Server::ValidateItemIDs")[0].itemIds, (U16s{id, id}));
    dlg.OnOK();
    ASSERT_EQ(host.added.size(), 2u);
    EXPECT_EQ(host.added[0].first, id);
    EXPECT_TRUE(messages.seen.empty());

    // A message naming such a leaf stays short.
    Control()->Hooks().GetItemID = [](LPCWSTR, LPWSTR* out) {
        *out = nullptr;
        return E_FAIL;
    };
    dlg.OnEditItemId();
    ASSERT_EQ(messages.seen.size(), 1u);
    EXPECT_LT(messages.seen[0].text.size(), 300u);
    EXPECT_NE(messages.seen[0].text.find(u"Error getting tagname"), std::u16string::npos);
}

TEST_F(AddItemTest, HandlesWithoutArraysRegisterNothingAndShortArraysOnlyWhatTheyReach) {
    CAddItem& dlg = Open();
    Type("a");
    Type("b");
    Type("c");
    Control()->Hooks().GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** pphServer,
                                           HRESULT** ppErrors) {
        *pphServer = nullptr;
        *ppErrors = TaskArray<HRESULT>({S_OK, S_OK, S_OK});
        return S_OK;
    };
    dlg.OnOK();
    EXPECT_TRUE(host.added.empty());
    EXPECT_EQ(messages.Texts(),
              (U16s{u"GetItemHandles returned 0x0 without a server handle or a result for 3 of 3 "
                    u"item IDs; those were not registered."}));
    EXPECT_EQ(dlg.result(), QDialog::Accepted);

    // Two handles and one result for three IDs: "a" alone is both answered and accepted.
    messages.seen.clear();
    Control()->Hooks().GetItemHandles = [](DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE** pphServer,
                                           HRESULT** ppErrors) {
        *pphServer = TaskArray<OPCHANDLE>({41, 42});
        *ppErrors = TaskArray<HRESULT>({S_OK});
        return S_OK;
    };
    dlg.OnOK();
    EXPECT_EQ(host.added, (std::vector<std::pair<std::u16string, OPCHANDLE>>{{u"a", 41}}));
    EXPECT_EQ(messages.Texts(),
              (U16s{u"GetItemHandles returned 0x0 without a server handle or a result for 2 of 3 "
                    u"item IDs; those were not registered."}));

    // Validate with a short result array marks only what it reaches.
    messages.seen.clear();
    Control()->Hooks().ValidateItemIDs = [](DWORD, LPWSTR*, HRESULT** ppErrors) {
        *ppErrors = TaskArray<HRESULT>({OPC_E_UNKNOWNITEMID});
        return S_FALSE;
    };
    dlg.OnValidate();
    EXPECT_EQ(Images(Tags()), (std::vector<int>{2, 0, 0}));
    EXPECT_EQ(messages.Texts(),
              (U16s{u"ValidateItemIDs returned 0x1 with results for 1 of 3 item IDs; the others are "
                    u"shown as not validated."}));
}

TEST_F(AddItemTest, FailedListingsAndARefusedMoveAreSaidAndShowNothingWrong) {
    Open();
    Browse({"Plant", "Area1"});
    ASSERT_EQ(Leaves()->count(), 2);

    // The browser refuses to go down: the leaves of wherever it stayed are not shown as Area2's.
    Control()->Hooks().ChangeBrowsePosition = [](OPCHDA_BROWSEDIRECTION dir, LPCWSTR) {
        return dir == OPCHDA_BROWSE_DOWN ? E_FAIL : S_OK;
    };
    Control()->ClearCalls();
    Select(Child(Tree(), Child(Tree(), nullptr, "Plant"), "Area2"));
    EXPECT_EQ(Browsed(), (Strings{"Change(1,'')", "Change(3,'Plant')", "Change(2,'Area2')"}));
    EXPECT_EQ(Leaves()->count(), 0);
    EXPECT_EQ(messages.Texts(),
              (U16s{u"Unable to browse to 'Area2': ChangeBrowsePosition returns 0x80004005"}));
    Control()->Hooks().ChangeBrowsePosition = nullptr;

    // GetEnum fails, or succeeds without a list.
    messages.seen.clear();
    Control()->Hooks().GetEnum = [](OPCHDA_BROWSETYPE type, IEnumString** pp) {
        *pp = nullptr;
        return type == OPCHDA_ITEMS ? OPC_E_MAXEXCEEDED : S_OK;
    };
    QTreeWidgetItem* utilities = Child(Tree(), nullptr, "Utilities");
    Select(utilities);
    EXPECT_EQ(Leaves()->count(), 0);
    EXPECT_EQ(utilities->childCount(), 0);
    EXPECT_EQ(messages.Texts(),
              (U16s{u"Unable to list the items here: GetEnum returns 0xC0041001",
                    u"Unable to list the branches here: GetEnum returned 0x0 without a list"}));

    // Not answered, so asked again on the next selection.
    Control()->Hooks().GetEnum = nullptr;
    Select(Child(Tree(), nullptr, "Plant"));
    Control()->ClearCalls();
    Select(utilities);
    EXPECT_EQ(CallsTo("IOPCHDA_Browser::GetEnum").size(), 2u);
    EXPECT_EQ(Texts(Leaves()), (QStringList{"Power"}));
}

}  // namespace
