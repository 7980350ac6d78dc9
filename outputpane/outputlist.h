// COutputList: every list of the output pane, a report view with a header. The result list is filled
// by the operations through the list-control style calls below; a value tab gives it a row source
// that formats its cells only when they are shown.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>
#include <QTreeView>
#include <memory>
#include <vector>

#include "client/timetext.h"

// Rows produced on demand. An interface: the value tab's snapshot implements it.
class IListRowSource {
public:
    virtual ~IListRowSource() = default;
    virtual int RowCount() const = 0;
    virtual QString Text(int nRow, int nColumn) const = 0;
    // Rows that show timestamps show them on this basis from now on.
    virtual void SetTimeBasis(client::TimeBasis) {}
};

class COutputListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    int InsertColumn(int nCol, const QString& heading);
    int InsertItem(int nItem, const QString& text);
    bool SetItemText(int nItem, int nSubItem, const QString& text);
    QString GetItemText(int nItem, int nSubItem) const;
    void DeleteAllItems();
    void SetRowSource(std::unique_ptr<IListRowSource> source);
    bool HasRowSource() const { return m_source != nullptr; }
    // The row source's timestamps on another basis; every shown cell is read again.
    void SetTimeBasis(client::TimeBasis basis);

private:
    QStringList m_headings;
    std::vector<QStringList> m_rows;  // rows added one by one; unset cells are empty
    std::unique_ptr<IListRowSource> m_source;
};

class COutputList final : public QTreeView {
    Q_OBJECT
public:
    static constexpr int IDC_OUTPUT_LIST = 61213;

    explicit COutputList(QWidget* parent);

    // As the list control of a report view: a column index beyond the end appends; InsertItem returns
    // the new row's index, or -1 when the list is showing a row source.
    int InsertColumn(int nCol, const QString& heading, int nWidth);
    int GetColumnCount() const;
    int GetColumnWidth(int nCol) const;
    void SetColumnWidth(int nCol, int nWidth);
    int InsertItem(int nItem, const QString& text);
    bool SetItemText(int nItem, int nSubItem, const QString& text);
    QString GetItemText(int nItem, int nSubItem) const;
    int GetItemCount() const;
    void DeleteAllItems();

    // Replaces every row by the rows of a source (columns stay).
    void SetRowSource(std::unique_ptr<IListRowSource> source);
    // The row source's timestamps on another basis (rows added one by one keep their texts).
    void SetTimeBasis(client::TimeBasis basis);

    // The width the columns share: the viewport, without a vertical scroll bar that is showing.
    int ClientWidth();
    // Columns 0, 1 and 2 (those present) to a third of the client width each; others keep theirs.
    void FitFirstThreeColumns();

    COutputListModel* ListModel() const { return m_pModel; }

private:
    COutputListModel* m_pModel;
};
