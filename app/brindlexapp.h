// The application object: settings root, document, main frame, and the application's own commands.
#pragma once

#include <QStringList>
#include <memory>

#include "com/types.h"

class CBrindlexHDADoc;
class CMainFrame;

class CBrindlexHDAApp {
public:
    CBrindlexHDAApp();
    ~CBrindlexHDAApp();
    CBrindlexHDAApp(const CBrindlexHDAApp&) = delete;
    CBrindlexHDAApp& operator=(const CBrindlexHDAApp&) = delete;

    // The start-up sequence; FALSE when the main window could not be built.
    BOOL InitInstance();

    void OnAppAbout();
    void OnFileNew();
    void OnFileSave();

    CMainFrame* GetMainWnd() const { return m_pMainWnd.get(); }
    CBrindlexHDADoc* GetDocument() const { return m_pDocument.get(); }
    const QStringList& GetRecentFiles() const { return m_recentFiles; }

    // The caption "BrindlexOPC " + the text after the frame title's last hyphen and its blank.
    static QString RewriteCaption(const QString& strCaption);

private:
    void LoadStdProfileSettings(int nMaxMRU);

    std::unique_ptr<CBrindlexHDADoc> m_pDocument;
    std::unique_ptr<CMainFrame> m_pMainWnd;
    QStringList m_recentFiles;
};
