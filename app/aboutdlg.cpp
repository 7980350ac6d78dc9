#include "app/aboutdlg.h"

#include <QLabel>
#include <QPushButton>

#include "resources/icons_main.h"
#include "resources/uikit.h"

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent) {
    setObjectName(QStringLiteral("AboutDlg"));
    setWindowTitle(QStringLiteral("About BrindlexOPC HDA Vistrel"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    const QFont font = ui::DialogFont();
    setFont(font);
    const QRect frame = ui::DluRect(font, 0, 0, 238, 54);
    setFixedSize(frame.size());

    auto* pIcon = new QLabel(this);
    pIcon->setObjectName(QStringLiteral("AppIcon"));
    const QRect iconRect = ui::DluRect(font, 11, 17, 20, 20);
    const int nIcon = std::min(iconRect.width(), iconRect.height()) >= 40 ? 48 : 32;
    pIcon->setPixmap(ui::AppIconPixmap(nIcon));
    pIcon->setGeometry(QRect(iconRect.topLeft(), QSize(nIcon, nIcon)));

    auto* pVersion = new QLabel(QStringLiteral("BrindlexOPC HDA Vistrel Version 1.1"), this);
    pVersion->setObjectName(QStringLiteral("VersionLine"));
    pVersion->setGeometry(ui::DluRect(font, 40, 10, 135, 8));

    auto* pSecond = new QLabel(QStringLiteral("A test client for OPC HDA historians"), this);
    pSecond->setObjectName(QStringLiteral("SecondLine"));
    pSecond->setGeometry(ui::DluRect(font, 40, 25, 135, 8));

    auto* pOk = new QPushButton(QStringLiteral("OK"), this);
    pOk->setObjectName(QStringLiteral("OkButton"));
    pOk->setGeometry(ui::DluRect(font, 181, 7, 50, 14));
    pOk->setDefault(true);
    connect(pOk, &QPushButton::clicked, this, &QDialog::accept);
}
