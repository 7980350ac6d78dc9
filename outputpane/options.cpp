#include "outputpane/options.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <memory>
#include <new>

#include "hda/messages.h"
#include "resources/uikit.h"

COptions::COptions(QWidget* parent) : QDialog(parent), m_pEdit(nullptr) {
    const QFont font = ui::DialogFont();
    setFont(font);
    setWindowTitle(QStringLiteral("Options"));
    setFixedSize(ui::DluX(font, 203), ui::DluY(font, 63));

    auto* prompt = new QLabel(
        QStringLiteral("Enter the maximum number of items to display.  Maximum is 99999, minimum is 0."),
        this);
    prompt->setTextFormat(Qt::PlainText);
    prompt->setWordWrap(true);
    prompt->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    prompt->setGeometry(ui::DluRect(font, 7, 9, 142, 19));

    m_pEdit = new QLineEdit(this);
    m_pEdit->setObjectName(QStringLiteral("IDC_MAX_DISPLAY_ITEMS"));
    m_pEdit->setProperty("controlId", IDC_MAX_DISPLAY_ITEMS);
    // Digits only, typed or pasted.
    m_pEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), m_pEdit));
    m_pEdit->setGeometry(ui::DluRect(font, 151, 13, 45, 12));

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    ok->setObjectName(QStringLiteral("IDOK"));
    ok->setDefault(true);
    ok->setGeometry(ui::DluRect(font, 89, 42, 50, 14));
    connect(ok, &QPushButton::clicked, this, &COptions::accept);

    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    cancel->setObjectName(QStringLiteral("IDCANCEL"));
    cancel->setGeometry(ui::DluRect(font, 146, 42, 50, 14));
    connect(cancel, &QPushButton::clicked, this, &COptions::reject);

    setTabOrder(m_pEdit, ok);
    setTabOrder(ok, cancel);
}

void COptions::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    m_pEdit->setMaxLength(kMaxDigits);
    const DWORD limit = m_pServerPane ? m_pServerPane->GetMaxDisplayItems() : 0;
    m_pEdit->setText(QString::number(limit));
    m_pEdit->setFocus();
    m_pEdit->selectAll();
}

DWORD COptions::ParseLeadingDigits(const QString& text) {
    DWORD value = 0;
    for (int i = 0; i < text.size() && i < kMaxDigits; ++i) {
        const QChar c = text[i];
        if (c < QLatin1Char('0') || c > QLatin1Char('9')) break;
        value = value * 10 + static_cast<DWORD>(c.unicode() - u'0');
    }
    return value;
}

void COptions::accept() {
    if (m_pServerPane) m_pServerPane->SetMaxDisplayItems(ParseLeadingDigits(m_pEdit->text()));
    QDialog::accept();
}

int RunOptionsDialog(IOutputPaneHost* pServerPane) {
    std::unique_ptr<COptions> dialog;
    try {
        dialog = std::make_unique<COptions>();
    } catch (const std::bad_alloc&) {
        hda::ShowMessage(nullptr, u"Out of Memory!!!", u"Error", hda::MsgIcon::Exclamation);
        return QDialog::Rejected;
    }
    dialog->m_pServerPane = pServerPane;
    return dialog->exec();
}
