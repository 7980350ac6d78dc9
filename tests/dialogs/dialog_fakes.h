// Fakes for the dialog tests: a server pane, an HDA server that answers GetAggregates and
// GetItemAttributes as scripted (also wrongly), recorded messages and a driver for modal dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialogs/dialoghost.h"
#include "dialogs/dlgkit.h"
#include "hda/messages.h"
#include "hda/opchda.h"

namespace dlgtest {

using OptStr = std::optional<std::u16string>;

// One list call's answer. A nullopt array comes back as a null pointer, a nullopt string as a null
// entry; every array is allocated exactly as long as given. The count defaults to the number of ids.
struct ListAnswer {
    HRESULT hr = S_OK;
    std::optional<DWORD> count;
    std::optional<std::vector<DWORD>> ids;
    std::optional<std::vector<OptStr>> names, descs;
    bool types = true;  // attributes: a data-type array as long as the ids
};

// (id, name, description) rows, all present.
inline ListAnswer List(std::initializer_list<std::tuple<DWORD, const char16_t*, const char16_t*>> rows) {
    ListAnswer a{S_OK, std::nullopt, std::vector<DWORD>{}, std::vector<OptStr>{}, std::vector<OptStr>{}};
    for (const auto& [id, name, desc] : rows) {
        a.ids->push_back(id);
        a.names->push_back(std::u16string(name));
        a.descs->push_back(std::u16string(desc));
    }
    return a;
}

class FakeHdaServer : public com::ComObject<IOPCHDA_Server> {
public:
    ListAnswer aggregates, attributes;

    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames,
                                                LPWSTR** ppDescs, VARTYPE** ppTypes) override {
        Answer(attributes, pdwCount, ppIds, ppNames, ppDescs);
        const std::size_t n = attributes.ids ? attributes.ids->size() : 0;
        *ppTypes = attributes.types ? static_cast<VARTYPE*>(CoTaskMemAlloc(n * sizeof(VARTYPE))) : nullptr;
        return attributes.hr;
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames,
                                            LPWSTR** ppDescs) override {
        Answer(aggregates, pdwCount, ppIds, ppNames, ppDescs);
        return aggregates.hr;
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS*, FILETIME**, FILETIME**, WORD*, WORD*,
                                                 WORD*, DWORD*, LPWSTR*, LPWSTR*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetItemHandles(DWORD, LPWSTR*, OPCHANDLE*, OPCHANDLE**, HRESULT**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ReleaseItemHandles(DWORD, OPCHANDLE*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ValidateItemIDs(DWORD, LPWSTR*, HRESULT**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CreateBrowse(DWORD, DWORD*, OPCHDA_OPERATORCODES*, VARIANT*, IOPCHDA_Browser**,
                                           HRESULT**) override {
        return E_NOTIMPL;
    }

private:
    template <class T>
    static T* Array(std::size_t n) {
        return static_cast<T*>(CoTaskMemAlloc(n * sizeof(T)));
    }
    static LPWSTR* Strings(const std::optional<std::vector<OptStr>>& v) {
        if (!v) return nullptr;
        LPWSTR* p = Array<LPWSTR>(v->size());
        for (std::size_t i = 0; i < v->size(); ++i) {
            p[i] = nullptr;
            if (!(*v)[i]) continue;
            p[i] = Array<WCHAR>((*v)[i]->size() + 1);
            std::memcpy(p[i], (*v)[i]->c_str(), ((*v)[i]->size() + 1) * sizeof(WCHAR));
        }
        return p;
    }
    static void Answer(const ListAnswer& a, DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames,
                       LPWSTR** ppDescs) {
        *pdwCount = a.count ? *a.count : (a.ids ? static_cast<DWORD>(a.ids->size()) : 0);
        *ppIds = a.ids ? Array<DWORD>(a.ids->size()) : nullptr;
        if (a.ids) std::copy(a.ids->begin(), a.ids->end(), *ppIds);
        *ppNames = Strings(a.names);
        *ppDescs = Strings(a.descs);
    }
};

class FakeHost : public IDialogHost {
public:
    std::vector<std::u16string> items;
    IOPCHDA_Server* server = nullptr;
    std::vector<std::u16string> GetSelectedItemIds() const override { return items; }
    IOPCHDA_Server* GetCurrentHdaServer() const override { return server; }
    // The server answers to serverKey only.
    std::u16string serverKey;
    IOPCHDA_Server* GetHdaServer(const std::u16string& strKey) const override {
        return strKey == serverKey ? server : nullptr;
    }
};

// When VISTREL_SHOTS names a directory, saves a picture of the widget there (to look at, not to compare).
inline void Shot(QWidget* w, const char* name) {
    const QString dir = qEnvironmentVariable("VISTREL_SHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(dir);
    w->grab().save(dir + QLatin1Char('/') + QLatin1String(name) + QLatin1String(".png"));
}

// Runs a dialog modally and acts on it once it is the active modal window; cancels it if the action
// left it open. Returns what exec() returned.
template <class D>
int RunModal(D& dlg, const std::function<void(D&)>& act) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        EXPECT_EQ(QApplication::activeModalWidget(), &dlg);
        if (QApplication::activeModalWidget() == &dlg) act(dlg);
        if (dlg.isVisible()) dlg.reject();
    });
    const int r = dlg.exec();
    EXPECT_TRUE(ran);
    return r;
}

inline void Press(QWidget* dlg, int id) {
    dlg::GetDlgItem<QPushButton>(dlg, id)->click();
}
inline QStringList Column(QWidget* dlg, int listId, int col) {
    auto* list = dlg::GetDlgItem<QTreeWidget>(dlg, listId);
    QStringList out;
    for (int r = 0; r < list->topLevelItemCount(); ++r) out << list->topLevelItem(r)->text(col);
    return out;
}
inline QStringList Entries(QComboBox* c) {
    QStringList out;
    for (int i = 0; c && i < c->count(); ++i) out << c->itemText(i);
    return out;
}

// Records messages (answering OK), fixes the clock, and knows the task-memory baseline.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_previousSink = hda::SetMessageSink([this](const hda::MessageRequest& r) {
            m_messages.push_back(r);
            return hda::MsgResult::Ok;
        });
        m_liveBefore = com::LiveTaskMemBlocks();
    }
    void TearDown() override {
        hda::SetMessageSink(m_previousSink);
        com::ResetClock();
    }
    // Nothing the dialog or the server allocated is left.
    void ExpectNoTaskMemLeft() const { EXPECT_EQ(com::LiveTaskMemBlocks(), m_liveBefore); }
    void ExpectMessages(std::initializer_list<std::u16string> texts) const {
        std::vector<std::u16string> got;
        for (const auto& m : m_messages) got.push_back(m.text);
        EXPECT_EQ(got, std::vector<std::u16string>(texts));
        for (const auto& m : m_messages) EXPECT_EQ(m.icon, hda::MsgIcon::Exclamation);
    }
    static ULONGLONG Ticks(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
        SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0,
                      static_cast<WORD>(d), static_cast<WORD>(h),  static_cast<WORD>(mi),
                      static_cast<WORD>(s), static_cast<WORD>(ms)};
        FILETIME ft{};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
        return FileTimeToU64(ft);
    }
    // Now is the given UTC moment, in a zone of the given bias (Windows sign: UTC+1 is -60).
    static void FixNow(ULONGLONG utcTicks, LONG biasMinutes) {
        com::SetFixedNow(utcTicks);
        com::SetFixedBiasMinutes(biasMinutes);
    }

    std::vector<hda::MessageRequest> m_messages;
    hda::MessageSink m_previousSink;
    long m_liveBefore = 0;
};

}  // namespace dlgtest
