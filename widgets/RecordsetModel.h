#pragma once

#include "Recordset.h"
#include "zqwidgets_export.h"

#include <QAbstractTableModel>
#include <QPointer>
#include <QStringList>
#include <QVector>

class QItemSelectionModel;
class QTableView;

namespace zq::widgets {

using zq::data::Recordset;

/// Shows a `Recordset` in a grid: one row per fetched row, one column per field (or per
/// name given to `setColumns`). Read-only. Follows the recordset's signals.
class ZQWIDGETS_EXPORT RecordsetModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit RecordsetModel(QObject *parent = nullptr);

    void setRecordset(Recordset *recordset);
    Recordset *recordset() const { return m_rs; }

    /// The field names shown, in order ("" = every field of the recordset).
    void setColumns(const QStringList &fields);
    QStringList columns() const;
    /// Column titles shown instead of the field names (in column order; "" keeps the name).
    void setHeaderTitles(const QStringList &titles);
    /// The field shown in `column`.
    QString fieldOfColumn(int column) const;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section,
                        Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    /// Attaches the model to `view` and keeps the view's current row and the recordset's
    /// cursor following each other (whole-row selection). A view with the default cell
    /// painter gets a `GridCellPainter`.
    void attach(QTableView *view);

private:
    void syncViewToCursor();
    int fieldIndexOf(int column) const;
    QPointer<Recordset> m_rs;
    QStringList m_columns;
    QStringList m_titles;
    mutable QVector<int> m_fieldOf; // recordset column of each shown column
    QPointer<QTableView> m_view;
    bool m_syncing = false;
};

} // namespace zq::widgets
