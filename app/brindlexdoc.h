// The document and view of the single-document frame. The document holds no data; the view is named
// for the frame's template but never created, since the frame builds its own client area.
#pragma once

#include <QString>
#include <QTreeView>

#include "com/types.h"

class CBrindlexHDADoc {
public:
    CBrindlexHDADoc() = default;
    virtual ~CBrindlexHDADoc() = default;

    // A new document: only the default title; nothing to clear.
    BOOL OnNewDocument();
    // Saving writes nothing: there is no content.
    BOOL OnSaveDocument();
    const QString& GetTitle() const { return m_strTitle; }

private:
    QString m_strTitle;
};

class CBrindlexHDAView : public QTreeView {
    Q_OBJECT
public:
    explicit CBrindlexHDAView(QWidget* pParent = nullptr) : QTreeView(pParent) {}
};
