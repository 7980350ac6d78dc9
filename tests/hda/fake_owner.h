// A connection owner without widgets: a sorted list of rows with a selection, and a map of
// connections to answer GetCurrentServer.
#pragma once

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "hda/hdaserver.h"
#include "hda/serverowner.h"

class FakeItemList : public IItemListView {
public:
    struct Row {
        std::u16string text;
        int image;
        bool selected = false;
    };
    int GetItemCount() const override { return static_cast<int>(rows.size()); }
    void DeleteAllItems() override { rows.clear(); }
    void InsertItem(int, const std::u16string& text, int image) override {
        // Sorted ascending, as the real list keeps itself.
        auto it = std::upper_bound(rows.begin(), rows.end(), text,
                                   [](const std::u16string& t, const Row& r) { return t < r.text; });
        rows.insert(it, Row{text, image});
    }
    void DeleteItem(int i) override { rows.erase(rows.begin() + i); }
    std::u16string GetItemText(int i) const override { return rows.at(i).text; }
    int GetSelectedCount() const override {
        return static_cast<int>(
            std::count_if(rows.begin(), rows.end(), [](const Row& r) { return r.selected; }));
    }
    int GetNextSelectedItem(int after) const override {
        for (int i = after + 1; i < GetItemCount(); ++i)
            if (rows[i].selected) return i;
        return -1;
    }
    std::vector<std::u16string> Texts() const {
        std::vector<std::u16string> t;
        for (const Row& r : rows) t.push_back(r.text);
        return t;
    }
    void Select(const std::u16string& text) {
        for (Row& r : rows)
            if (r.text == text) r.selected = true;
    }
    std::vector<Row> rows;
};

class FakeOwner : public IHDAServerOwner {
public:
    IItemListView* GetItemListView() override { return &list; }
    const void* GetMessageOwner() const override { return this; }
    CHDAServer* GetCurrentServer() override {
        auto it = servers.find(current);
        return it == servers.end() ? nullptr : it->second;
    }
    FakeItemList list;
    std::map<std::u16string, CHDAServer*> servers;
    std::u16string current;
};
