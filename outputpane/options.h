// COptions: the display limit, the one user option. It lives in the server pane, in memory only.
#pragma once

#include <QDialog>

#include "outputpane/outputhost.h"

class QLineEdit;

class COptions final : public QDialog {
    Q_OBJECT
public:
    static constexpr int IDC_MAX_DISPLAY_ITEMS = 1041;
    static constexpr int kMaxDigits = 5;

    // Modal dialogs are made without a parent window.
    explicit COptions(QWidget* parent = nullptr);

    // Set by the opener before showing; not owned; may be null (the box then shows 0 and OK stores
    // nothing).
    IOutputPaneHost* m_pServerPane = nullptr;

    QLineEdit* GetEdit() const { return m_pEdit; }

    // OK: stores the number in the box with SetMaxDisplayItems, then closes.
    void accept() override;

    // The leading digits of a text as a number; a text that does not start with a digit gives 0.
    static DWORD ParseLeadingDigits(const QString& text);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_pEdit;
};

// What the server pane's OnOptions does: a COptions for that pane, shown modally. When the dialog
// cannot be made, "Out of Memory!!!" is shown instead. Returns the dialog's result (QDialog::Accepted
// or Rejected).
int RunOptionsDialog(IOutputPaneHost* pServerPane);
