// The rows of the Insert dialog and of the data generator: a value, a local moment and a quality text
// per row, shown in a three-column report list whose newest row is always on top.
//
// A generated row keeps its number and writes it "%f" only when the row is shown or handed over, so a
// list of a million generated rows costs tens of megabytes, not hundreds.
#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <QTreeView>
#include <cstdint>
#include <vector>

#include "com/types.h"

namespace dlg {

struct DataRow {
    QString value;        // the value as typed (rows added by hand)
    double number = 0.0;  // the value of a generated row
    bool bGenerated = false;
    ULONGLONG localTicks = 0;  // the moment as a local wall-clock FILETIME tick count
    QString quality;           // the quality text

    QString ValueText() const;
    // "yyyy/mm/dd hh:mm:ss.mmm"; empty when the ticks have no calendar form.
    QString TimeText() const;
};

// "%f" of a number, whatever the locale: six decimals and a point.
QString FixedSix(double v);

// The text of a local tick count as a time text; false when it has no calendar form.
bool LocalTicksText(ULONGLONG localTicks, QString* pText);

class CDataRowModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    CDataRowModel(QStringList headings, QObject* parent);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int Count() const { return static_cast<int>(m_rows.size()); }
    // Row 0 is the top row.
    const DataRow& Row(int nRow) const { return m_rows[m_rows.size() - 1 - static_cast<std::size_t>(nRow)]; }
    // Every row, top row first.
    std::vector<DataRow> TopFirst() const { return std::vector<DataRow>(m_rows.rbegin(), m_rows.rend()); }
    // Puts the rows on top one after the other, as many single insertions at the top would: the last
    // of them ends on top.
    void InsertOnTop(std::vector<DataRow> rows);
    // Removes the rows of the given indexes (any order, duplicates allowed).
    void RemoveRows(std::vector<int> rows);

private:
    QStringList m_headings;
    std::vector<DataRow> m_rows;  // bottom row first, so that a new top row is appended
};

// The list control of the two dialogs: report view, full-row selection, tips, several rows selectable.
class CDataRowList final : public QTreeView {
    Q_OBJECT
public:
    CDataRowList(QWidget* parent, int nId);

    CDataRowModel* Rows() const { return m_pModel; }
    // The width of the list's client area, its frame left out.
    int ClientWidth() const;
    // The selected rows, top first.
    std::vector<int> SelectedRows() const;

private:
    CDataRowModel* m_pModel;
};

}  // namespace dlg
