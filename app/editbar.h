// The toolbar titled "Server": the drop-down list of the HDA servers found on this computer in its
// first slot, then the command buttons.
#pragma once

#include <QToolBar>
#include <functional>

#include "com/types.h"

class QComboBox;
class QMainWindow;

class CEditBar : public QToolBar {
    Q_OBJECT
public:
    explicit CEditBar(QWidget* pParent = nullptr);
    ~CEditBar() override;

    // Creates the bar's slots and the server box. actionFor gives the frame's action of a command id.
    BOOL CreateEditBar(QMainWindow* pParent, BOOL bToolTips, const std::function<QAction*(int)>& actionFor);

    // Slot 0 shows the server box (horizontal) or a button without a handler (vertical).
    void ShowHorizontal();
    void ShowVertical();

    QComboBox* m_pServerCombo = nullptr;  // owned
    BOOL m_bVertical = 0;

    // A floating bar is laid out horizontally, like a bar docked at the top or bottom.
    void OnFloatingChanged(bool bFloating);

    QAction* GetServerBoxSlot() const { return m_pComboSlot; }
    QAction* GetVerticalSlot() const { return m_pButtonSlot; }

private:
    void OnOrientationChanged(Qt::Orientation orientation);

    QAction* m_pComboSlot = nullptr;
    QAction* m_pButtonSlot = nullptr;
};
