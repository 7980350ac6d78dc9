#include "app/brindlexdoc.h"

BOOL CBrindlexHDADoc::OnNewDocument() {
    m_strTitle = QStringLiteral("Untitled");
    return TRUE;
}

BOOL CBrindlexHDADoc::OnSaveDocument() {
    return TRUE;
}
