// A main frame for the server pane alone: the server box, a Function menu, and a record of the
// commands routed through it.
#pragma once

#include <QAction>
#include <QComboBox>
#include <QMenu>
#include <QWidget>
#include <vector>

#include "serverpane/commandids.h"
#include "serverpane/mainframelink.h"
#include "serverpane/serverpane.h"

class FakeFrame : public IMainFrameLink {
public:
    FakeFrame() {
        for (int id : {ID_FUNCTION_READRAW, ID_FUNCTION_READATTRIBUTE}) {
            QAction* a = function.addAction(QString::number(id));
            a->setData(id);
        }
    }
    QComboBox* GetServerCombo() const override { return const_cast<QComboBox*>(&combo); }
    QMenu* GetFunctionMenu() const override { return const_cast<QMenu*>(&function); }
    QWidget* GetMainWindow() override { return &window; }
    void RouteCommand(int nId) override {
        routed.push_back(nId);
        if (pane) pane->OnCommand(nId);
    }
    bool IsCommandEnabled(int nId) const override { return pane && pane->IsCommandEnabled(nId); }
    QString GetCommandPrompt(int) const override { return {}; }
    void UpdateCommandUI() override { ++updates; }

    QWidget window;
    QComboBox combo;
    QMenu function;
    CServerPane* pane = nullptr;
    std::vector<int> routed;
    int updates = 0;
};
