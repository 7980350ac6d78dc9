// Fakes for the dialog tests: a server pane, an HDA server that answers GetAggregates and
// GetItemAttributes as scripted (also wrongly), a message recorder and a driver for modal dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTimer>
#include <QWidget>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "com/objbase.h"
#include "com/timeapi.h"
#include "dialogs/dialoghost.h"
#include "hda/messages.h"
#include "hda/opchda.h"

namespace dlgtest {

using OptStr = std::optional<std::u16string>;

inline LPWSTR TaskString(const std::u16string& s) {
    auto* p = static_cast<LPWSTR>(CoTaskMemAlloc((s.size() + 1) * sizeof(WCHAR)));
    std::memcpy(p, s.c_str(), (s.size() + 1) * sizeof(WCHAR));
    return p;
}

// What one list call answers. An array that is nullopt comes back as a null pointer; a string that is
// nullopt as a null entry. The count defaults to the number of ids.
struct ListAnswer {
    HRESULT hr = S_OK;
    std::optional<DWORD> count;
    std::optional<std::vector<DWORD>> ids;
    std::optional<std::vector<OptStr>> names;
    std::optional<std::vector<OptStr>> descs;
    bool types = true;  // attributes only: a data-type array as long as the ids

    DWORD Count() const { return count ? *count : (ids ? static_cast<DWORD>(ids->size()) : 0); }
};

// Attributes or aggregates given as (id, name, description), all present.
inline ListAnswer List(std::initializer_list<std::tuple<DWORD, const char16_t*, const char16_t*>> rows) {
    ListAnswer a;
    a.ids.emplace();
    a.names.emplace();
    a.descs.emplace();
    for (const auto& [id, name, desc] : rows) {
        a.ids->push_back(id);
        a.names->push_back(std::u16string(name));
        a.descs->push_back(std::u16string(desc));
    }
    return a;
}

class FakeHdaServer : public com::ComObject<IOPCHDA_Server> {
public:
    ListAnswer aggregates;
    ListAnswer attributes;
    int nGetAggregates = 0;
    int nGetItemAttributes = 0;

    HRESULT STDMETHODCALLTYPE GetItemAttributes(DWORD* pdwCount, DWORD** ppdwAttrID, LPWSTR** ppszAttrName,
                                                LPWSTR** ppszAttrDesc, VARTYPE** ppvtAttrDataType) override {
        ++nGetItemAttributes;
        Answer(attributes, pdwCount, ppdwAttrID, ppszAttrName, ppszAttrDesc);
        *ppvtAttrDataType = nullptr;
        if (attributes.types && attributes.ids) {
            *ppvtAttrDataType = static_cast<VARTYPE*>(CoTaskMemAlloc(attributes.ids->size() * sizeof(VARTYPE)));
            for (std::size_t i = 0; i < attributes.ids->size(); ++i) (*ppvtAttrDataType)[i] = VT_I4;
        }
        return attributes.hr;
    }
    HRESULT STDMETHODCALLTYPE GetAggregates(DWORD* pdwCount, DWORD** ppdwAggrID, LPWSTR** ppszAggrName,
                                            LPWSTR** ppszAggrDesc) override {
        ++nGetAggregates;
        Answer(aggregates, pdwCount, ppdwAggrID, ppszAggrName, ppszAggrDesc);
        return aggregates.hr;
    }
    HRESULT STDMETHODCALLTYPE GetHistorianStatus(OPCHDA_SERVERSTATUS*, FILETIME**, FILETIME**, WORD*, WORD*, WORD*,
                                                 DWORD*, LPWSTR*, LPWSTR*) override {
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
    static LPWSTR* Strings(const std::optional<std::vector<OptStr>>& v) {
        if (!v) return nullptr;
        auto* p = static_cast<LPWSTR*>(CoTaskMemAlloc(v->size() * sizeof(LPWSTR)));
        for (std::size_t i = 0; i < v->size(); ++i) p[i] = (*v)[i] ? TaskString(*(*v)[i]) : nullptr;
        return p;
    }
    static void Answer(const ListAnswer& a, DWORD* pdwCount, DWORD** ppIds, LPWSTR** ppNames, LPWSTR** ppDescs) {
        *pdwCount = a.Count();
        *ppIds = nullptr;
        if (a.ids) {
            *ppIds = static_cast<DWORD*>(CoTaskMemAlloc(a.ids->size() * sizeof(DWORD)));
            for (std::size_t i = 0; i < a.ids->size(); ++i) (*ppIds)[i] = (*a.ids)[i];
        }
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
};

// Records every message and answers OK.
class MessageRecorder {
public:
    MessageRecorder() {
        m_previous = hda::SetMessageSink([this](const hda::MessageRequest& r) {
            messages.push_back(r);
            return hda::MsgResult::Ok;
        });
    }
    ~MessageRecorder() { hda::SetMessageSink(m_previous); }
    std::vector<hda::MessageRequest> messages;

private:
    hda::MessageSink m_previous;
};

// When VISTREL_SHOTS names a directory, saves a picture of the widget there.
inline void Shot(QWidget* w, const char* name) {
    const QByteArray dir = qgetenv("VISTREL_SHOTS");
    if (dir.isEmpty()) return;
    QDir().mkpath(QString::fromLocal8Bit(dir));
    w->grab().save(QString::fromLocal8Bit(dir) + QLatin1Char('/') + QLatin1String(name) + QLatin1String(".png"));
}

// Runs a dialog modally and acts on it once it is the active modal window; closes it (Cancel) if the
// action left it open. Returns what exec() returned.
template <class D>
int RunModal(D& dlg, const std::function<void(D&)>& act) {
    bool ran = false;
    QTimer::singleShot(0, [&] {
        ran = true;
        QWidget* active = QApplication::activeModalWidget();
        EXPECT_EQ(active, &dlg);
        if (active == &dlg) act(dlg);
        if (dlg.isVisible()) dlg.reject();
    });
    const int r = dlg.exec();
    EXPECT_TRUE(ran);
    return r;
}

// The runtime clock fixed for one test, and the task-memory baseline.
class DialogTest : public ::testing::Test {
protected:
    void SetUp() override { m_liveBefore = com::LiveTaskMemBlocks(); }
    void TearDown() override { com::ResetClock(); }
    // "Back where it was": nothing the dialog or the server allocated is left.
    void ExpectNoTaskMemLeft() { EXPECT_EQ(com::LiveTaskMemBlocks(), m_liveBefore); }
    static ULONGLONG Ticks(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
        SYSTEMTIME st{static_cast<WORD>(y), static_cast<WORD>(mo), 0, static_cast<WORD>(d), static_cast<WORD>(h),
                      static_cast<WORD>(mi), static_cast<WORD>(s), static_cast<WORD>(ms)};
        FILETIME ft{};
        EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
        return FileTimeToU64(ft);
    }
    // Local clock reading now = the given UTC moment; bias as Windows counts it (UTC+1 is -60).
    static void FixNow(ULONGLONG utcTicks, LONG biasMinutes) {
        com::SetFixedNow(utcTicks);
        com::SetFixedBiasMinutes(biasMinutes);
    }

    MessageRecorder m_messages;
    long m_liveBefore = 0;
};

}  // namespace dlgtest
