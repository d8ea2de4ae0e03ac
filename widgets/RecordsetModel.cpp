#include "RecordsetModel.h"

#include "GridCellPainter.h"
#include "Recordset.h"

#include <QItemSelectionModel>
#include <QStyledItemDelegate>
#include <QTableView>

#include <typeinfo>

namespace zq::widgets {

using zq::data::Recordset;

RecordsetModel::RecordsetModel(QObject *parent)
    : QAbstractTableModel(parent)
{}

void RecordsetModel::setRecordset(Recordset *recordset)
{
    beginResetModel();
    if (m_rs)
        disconnect(m_rs, nullptr, this, nullptr);
    m_rs = recordset;
    m_fieldOf.clear();
    if (m_rs) {
        connect(m_rs, &Recordset::rowsReset, this, [this] {
            beginResetModel();
            m_fieldOf.clear();
            endResetModel();
            syncViewToCursor();
        });
        connect(m_rs, &Recordset::rowChanged, this, [this](int row) {
            emit dataChanged(index(row, 0), index(row, columnCount() - 1));
        });
        connect(m_rs, &Recordset::rowInserted, this, [this](int row) {
            beginInsertRows({}, row, row);
            endInsertRows();
        });
        connect(m_rs, &Recordset::rowRemoved, this, [this](int row) {
            beginRemoveRows({}, row, row);
            endRemoveRows();
        });
        connect(m_rs, &Recordset::currentRowChanged, this, [this] { syncViewToCursor(); });
        connect(m_rs, &QObject::destroyed, this, [this] {
            beginResetModel();
            m_rs = nullptr;
            m_fieldOf.clear();
            endResetModel();
        });
    }
    endResetModel();
}

void RecordsetModel::setColumns(const QStringList &fields)
{
    beginResetModel();
    m_columns = fields;
    m_fieldOf.clear();
    endResetModel();
}

QStringList RecordsetModel::columns() const
{
    if (!m_columns.isEmpty() || !m_rs)
        return m_columns;
    QStringList all;
    for (int i = 0; i < m_rs->fieldCount(); ++i)
        all << m_rs->fieldName(i);
    return all;
}

void RecordsetModel::setHeaderTitles(const QStringList &titles)
{
    m_titles = titles;
    if (columnCount() > 0)
        emit headerDataChanged(Qt::Horizontal, 0, columnCount() - 1);
}

QString RecordsetModel::fieldOfColumn(int column) const
{
    if (!m_columns.isEmpty())
        return m_columns.value(column);
    return m_rs ? m_rs->fieldName(column) : QString();
}

int RecordsetModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() || !m_rs ? 0 : m_rs->recordCount();
}

int RecordsetModel::columnCount(const QModelIndex &parent) const
{
    if (parent.isValid() || !m_rs)
        return 0;
    return m_columns.isEmpty() ? m_rs->fieldCount() : int(m_columns.size());
}

QVariant RecordsetModel::data(const QModelIndex &index, int role) const
{
    if (!m_rs || !index.isValid())
        return QVariant();
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return QVariant();
    const int field = fieldIndexOf(index.column());
    if (field < 0)
        return QVariant();
    if (m_rs->isBlobField(field)) {
        const QVariant v = m_rs->valueAt(index.row(), field);
        return v.isNull() ? QString() : QStringLiteral("(BLOB)");
    }
    const QVariant v = m_rs->valueAt(index.row(), field);
    if (v.metaType().id() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        return dt.time() == QTime(0, 0) ? dt.date().toString(QStringLiteral("yyyy-MM-dd"))
                                        : Recordset::textOf(v);
    }
    return Recordset::textOf(v);
}

// A grid asks for every visible cell at each paint; the names are looked up once per set of
// rows.
int RecordsetModel::fieldIndexOf(int column) const
{
    if (m_columns.isEmpty())
        return column;
    if (m_fieldOf.isEmpty()) {
        m_fieldOf.reserve(m_columns.size());
        for (const QString &name : m_columns)
            m_fieldOf.append(m_rs->fieldIndex(name));
    }
    return m_fieldOf.value(column, -1);
}

QVariant RecordsetModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Vertical)
        return section + 1;
    const QString title = m_titles.value(section);
    return title.isEmpty() ? fieldOfColumn(section) : title;
}

void RecordsetModel::attach(QTableView *view)
{
    m_view = view;
    view->setModel(this);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    // A painter set by the window stays; the view's default one gives way to the same look
    // drawn in fewer steps.
    if (QAbstractItemDelegate *current = view->itemDelegate();
        current && typeid(*current) == typeid(QStyledItemDelegate))
        view->setItemDelegate(new GridCellPainter(view));
    connect(view->selectionModel(),
            &QItemSelectionModel::currentRowChanged,
            this,
            [this](const QModelIndex &current) {
                if (m_syncing || !m_rs || !current.isValid())
                    return;
                if (current.row() == m_rs->currentRow())
                    return;
                m_syncing = true;
                m_rs->moveTo(current.row());
                m_syncing = false;
            });
    syncViewToCursor();
}

void RecordsetModel::syncViewToCursor()
{
    if (m_syncing || !m_view || !m_rs || m_view->model() != this)
        return;
    const int row = m_rs->currentRow();
    QItemSelectionModel *sel = m_view->selectionModel();
    if (!sel)
        return;
    m_syncing = true;
    if (row < 0) {
        sel->clearSelection();
    } else {
        const QModelIndex current = sel->currentIndex();
        const QModelIndex target = index(row, current.isValid() ? current.column() : 0);
        sel->setCurrentIndex(target,
                             QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_view->scrollTo(target);
    }
    m_syncing = false;
}

} // namespace zq::widgets
