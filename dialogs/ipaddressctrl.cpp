#include "dialogs/ipaddressctrl.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>
#include <algorithm>

namespace {

// "10.1.2.3": four decimal octets of one to three digits each.
bool ParseDottedQuad(const QString& text, std::array<int, 4>* pOctets) {
    const QStringList parts = text.trimmed().split(QLatin1Char('.'));
    if (parts.size() != 4) return false;
    for (int i = 0; i < 4; ++i) {
        const QString& p = parts[i];
        if (p.isEmpty() || p.size() > 3) return false;
        for (QChar c : p)
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return false;
        const int v = p.toInt();
        if (v > 255) return false;
        (*pOctets)[static_cast<std::size_t>(i)] = v;
    }
    return true;
}

}  // namespace

CIPAddressCtrl::CIPAddressCtrl(QWidget* pParent) : QFrame(pParent) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    setBackgroundRole(QPalette::Base);
    setAutoFillBackground(true);
    setFocusPolicy(Qt::StrongFocus);

    auto* pLayout = new QHBoxLayout(this);
    pLayout->setContentsMargins(2, 0, 2, 0);
    pLayout->setSpacing(0);
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            auto* pDot = new QLabel(QStringLiteral("."), this);
            pDot->setBackgroundRole(QPalette::Base);
            pLayout->addWidget(pDot);
        }
        auto* pField = new QLineEdit(this);
        pField->setFrame(false);
        pField->setAlignment(Qt::AlignCenter);
        pField->setObjectName(QStringLiteral("octet%1").arg(i));
        pField->installEventFilter(this);
        connect(pField, &QLineEdit::textEdited, this,
                [this, i](const QString& text) { OnFieldEdited(i, text); });
        pLayout->addWidget(pField, 1);
        m_fields[static_cast<std::size_t>(i)] = pField;
    }
    setFocusProxy(m_fields[0]);
}

bool CIPAddressCtrl::IsBlank() const {
    for (const QLineEdit* p : m_fields)
        if (!p->text().isEmpty()) return false;
    return true;
}

int CIPAddressCtrl::GetAddress(BYTE& n0, BYTE& n1, BYTE& n2, BYTE& n3) const {
    BYTE* out[4] = {&n0, &n1, &n2, &n3};
    int nFilled = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        const QString text = m_fields[i]->text();
        *out[i] = static_cast<BYTE>(text.isEmpty() ? 0 : std::min(text.toInt(), 255));
        if (!text.isEmpty()) ++nFilled;
    }
    return nFilled;
}

void CIPAddressCtrl::SetAddress(BYTE n0, BYTE n1, BYTE n2, BYTE n3) {
    const BYTE in[4] = {n0, n1, n2, n3};
    for (std::size_t i = 0; i < 4; ++i) m_fields[i]->setText(QString::number(in[i]));
}

void CIPAddressCtrl::ClearAddress() {
    for (QLineEdit* p : m_fields) p->clear();
}

void CIPAddressCtrl::FocusField(int n) {
    if (n < 0 || n > 3) return;
    QLineEdit* p = m_fields[static_cast<std::size_t>(n)];
    p->setFocus(Qt::OtherFocusReason);
    p->selectAll();
}

void CIPAddressCtrl::OnFieldEdited(int n, const QString& text) {
    QLineEdit* pField = m_fields[static_cast<std::size_t>(n)];
    // A whole address, typed or pasted: all four fields.
    std::array<int, 4> octets{};
    if (text.contains(QLatin1Char('.')) && ParseDottedQuad(text, &octets)) {
        SetAddress(static_cast<BYTE>(octets[0]), static_cast<BYTE>(octets[1]), static_cast<BYTE>(octets[2]),
                   static_cast<BYTE>(octets[3]));
        FocusField(3);
        m_fields[3]->deselect();
        m_fields[3]->end(false);
        return;
    }
    // The digits before the first dot, at most three, at most 255.
    const qsizetype nDot = text.indexOf(QLatin1Char('.'));
    QString digits;
    for (QChar c : nDot < 0 ? text : text.left(nDot))
        if (c >= QLatin1Char('0') && c <= QLatin1Char('9') && digits.size() < 3) digits += c;
    if (!digits.isEmpty() && digits.toInt() > 255) digits = QStringLiteral("255");
    if (digits != text) {
        const int nCursor = static_cast<int>(std::min<qsizetype>(pField->cursorPosition(), digits.size()));
        pField->setText(digits);
        pField->setCursorPosition(nCursor);
    }
    // A dot after some digits, or the third digit typed at the end, moves on.
    if ((nDot >= 0 && !digits.isEmpty()) || (nDot < 0 && digits.size() == 3 && pField->cursorPosition() == 3))
        FocusField(n + 1);
}

bool CIPAddressCtrl::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pEvent->type() == QEvent::KeyPress) {
        const auto* pKey = static_cast<QKeyEvent*>(pEvent);
        for (int i = 0; i < 4; ++i) {
            QLineEdit* pField = m_fields[static_cast<std::size_t>(i)];
            if (pWatched != pField) continue;
            if (pKey->key() == Qt::Key_Backspace && pField->text().isEmpty() && i > 0) {
                QLineEdit* pPrev = m_fields[static_cast<std::size_t>(i - 1)];
                pPrev->setFocus(Qt::OtherFocusReason);
                pPrev->end(false);
                return true;
            }
            if (pKey->key() == Qt::Key_Left && pField->cursorPosition() == 0 && !pField->hasSelectedText() &&
                i > 0) {
                QLineEdit* pPrev = m_fields[static_cast<std::size_t>(i - 1)];
                pPrev->setFocus(Qt::OtherFocusReason);
                pPrev->end(false);
                return true;
            }
            if (pKey->key() == Qt::Key_Right && pField->cursorPosition() == pField->text().size() && i < 3) {
                QLineEdit* pNext = m_fields[static_cast<std::size_t>(i + 1)];
                pNext->setFocus(Qt::OtherFocusReason);
                pNext->home(false);
                return true;
            }
        }
    }
    return QFrame::eventFilter(pWatched, pEvent);
}
