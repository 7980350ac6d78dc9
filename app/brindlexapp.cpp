#include "app/brindlexapp.h"

#include <QCoreApplication>
#include <QSettings>

#include "app/aboutdlg.h"
#include "app/brindlexdoc.h"
#include "app/mainframe.h"
#include "app/texts.h"

namespace {
// The window title, the second part of the document template's string.
QString TemplateWindowTitle() {
    return QString::fromLatin1(app::kDocTemplate).section(QChar('\n'), 0, 0);
}
}  // namespace

CBrindlexHDAApp::CBrindlexHDAApp() = default;

CBrindlexHDAApp::~CBrindlexHDAApp() {
    // The frame (with its panes, which end COM) before the document.
    m_pMainWnd.reset();
    m_pDocument.reset();
}

void CBrindlexHDAApp::LoadStdProfileSettings(int nMaxMRU) {
    QSettings settings;
    m_recentFiles.clear();
    for (int i = 1; i <= nMaxMRU; ++i) {
        const QString strFile = settings.value(QStringLiteral("Recent File List/File%1").arg(i)).toString();
        if (!strFile.isEmpty()) m_recentFiles.push_back(strFile);
    }
}

QString CBrindlexHDAApp::RewriteCaption(const QString& strCaption) {
    const qsizetype nHyphen = strCaption.lastIndexOf(QChar('-'));
    return QStringLiteral("BrindlexOPC ") + (nHyphen < 0 ? strCaption : strCaption.mid(nHyphen + 2));
}

BOOL CBrindlexHDAApp::InitInstance() {
    // Settings live under "Brindlex"; nothing but the standard profile settings is read.
    QCoreApplication::setOrganizationName(QStringLiteral("Brindlex"));
    QCoreApplication::setApplicationName(TemplateWindowTitle());
    LoadStdProfileSettings(4);

    // The shell's "new document": the document, then the frame that shows it.
    m_pDocument = std::make_unique<CBrindlexHDADoc>();
    if (!m_pDocument->OnNewDocument()) return FALSE;
    m_pMainWnd = std::make_unique<CMainFrame>(this);
    if (m_pMainWnd->OnCreate() != 0) {
        m_pMainWnd.reset();
        return FALSE;
    }
    m_pMainWnd->setWindowTitle(m_pDocument->GetTitle() + QStringLiteral(" - ") + TemplateWindowTitle());

    m_pMainWnd->show();
    m_pMainWnd->setWindowTitle(RewriteCaption(m_pMainWnd->windowTitle()));
    m_pMainWnd->update();
    return TRUE;
}

void CBrindlexHDAApp::OnAppAbout() {
    CAboutDlg dlg(m_pMainWnd.get());
    dlg.exec();
}

void CBrindlexHDAApp::OnFileNew() {
    // The document holds nothing, so a new one changes nothing on screen; the caption stays.
    if (m_pDocument) m_pDocument->OnNewDocument();
}

void CBrindlexHDAApp::OnFileSave() {
    if (m_pDocument) m_pDocument->OnSaveDocument();
}
