// A stand-in for the server pane: records forwarded commands, answers the enabling rules from a set,
// and owns a result set built in task memory the way a server returns one.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "outputpane/outputhost.h"

// One item of a result set. Each array is allocated with exactly the given elements (none: a null
// array); dwCount is what the server claims, which need not match.
struct FakeItem {
    DWORD dwCount = 0;
    std::vector<VARIANT> values;  // taken over: strings in it belong to the result set afterwards
    std::vector<FILETIME> times;
    std::vector<DWORD> qualities;
};

class FakeHost final : public IOutputPaneHost {
public:
    ~FakeHost() { ReleaseResultSet(); }

    void OnCommand(int nId) override { commands.push_back(nId); }
    bool IsCommandEnabled(int nId) const override { return enabled.count(nId) != 0; }

    DWORD GetMaxDisplayItems() const override { return limit; }
    void SetMaxDisplayItems(DWORD n) override { limit = n; }

    std::vector<std::u16string> GetSelectedItemIds() const override { return selected; }

    const OPCHDA_ITEM* GetLastItemValues() const override { return m_pValues; }
    const HRESULT* GetLastErrors() const override { return m_pErrors; }
    DWORD GetLastResultCount() const override { return m_nCount; }

    // Stores a new result set as a read does (the previous one released first).
    void SetResultSet(std::vector<FakeItem> items, std::vector<HRESULT> errors);
    // Frees every array of the result set and leaves nulls behind, as an operation does before its call.
    void ReleaseResultSet();

    std::vector<int> commands;
    std::set<int> enabled;
    DWORD limit = 1000;
    std::vector<std::u16string> selected;

private:
    OPCHDA_ITEM* m_pValues = nullptr;
    HRESULT* m_pErrors = nullptr;
    DWORD m_nCount = 0;
};

// Helpers for values and times.
VARIANT MakeBstr(const std::u16string& s);
VARIANT MakeI4(LONG v);
VARIANT MakeVt(VARTYPE vt, ULONGLONG bits = 0);
// A UTC FILETIME from calendar fields (proleptic Gregorian), independent of the runtime.
FILETIME MakeFileTime(int year, int month, int day, int hour, int minute, int second, int ms, int ticks = 0);
// n values "v0".."v{n-1}", times one second apart from 2009/02/24 13:05:07.250 UTC, quality 0xC0|RAW.
FakeItem MakeStringItem(DWORD n, const std::u16string& prefix = u"v");
