// An IPv4 address box: four octet fields (0..255) between dots, each of which may be blank. Typing a
// dot or the third digit moves on to the next field, Backspace in an empty field back to the previous
// one; a whole address typed or pasted into any field ("10.1.2.3") fills all four.
#pragma once

#include <QFrame>
#include <array>

#include "com/types.h"

class QLineEdit;

class CIPAddressCtrl : public QFrame {
    Q_OBJECT
public:
    explicit CIPAddressCtrl(QWidget* pParent = nullptr);

    // True when every field is blank.
    bool IsBlank() const;
    // The four octets, a blank field read as 0; returns how many fields are not blank.
    int GetAddress(BYTE& n0, BYTE& n1, BYTE& n2, BYTE& n3) const;
    void SetAddress(BYTE n0, BYTE n1, BYTE n2, BYTE n3);
    void ClearAddress();
    // A field (0..3), for tests and focus.
    QLineEdit* Field(int n) const { return m_fields[static_cast<std::size_t>(n)]; }

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnFieldEdited(int n, const QString& text);
    void FocusField(int n);

    std::array<QLineEdit*, 4> m_fields{};
};
