#pragma once

#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

namespace zq::data {
class Connection;
}

namespace zq::transfer {

/// Which holders an export takes.
struct ExportRequest
{
    bool allDepartments = true; ///< all departments the user holds a right on, else one
    bool supervisor = false;    ///< all departments means every one, whatever the rights
    bool punchCardOnly = false;
    QString departmentNo; ///< for one department
    QString userId;       ///< for all departments
};

/// The right bits of the import/export window that allow an export: add, edit or confirm.
constexpr int ExportRights = 0x01 | 0x04 | 0x10;
inline bool exportAllowed(int rights)
{
    return (rights & ExportRights) != 0;
}

/// Whether `userId` holds a department right on `departmentNo` (the departments an export
/// of one department may take); false when the database cannot tell.
bool holdsDepartmentRight(zq::data::Connection *connection,
                          const QString &userId,
                          const QString &departmentNo);

/// Whether `userId` is a supervisor (`UserData.Supervisor` = 1), whom no rights rows limit;
/// false when the user has no row or the database cannot tell.
bool isSupervisor(zq::data::Connection *connection, const QString &userId);

/// The export statement for `request`, selecting `selectList`; without `ordered` it has no
/// ORDER BY (for counting).
QString exportStatement(const ExportRequest &request,
                        const QString &selectList,
                        bool ordered = true);
/// The fields that the transfer columns write, for the select list.
QString exportSelectList();

/// One value of an exported holder as it goes into a file.
struct ExportValue
{
    /// The value text as UTF-8, followed by a NUL; valid during the row's call.
    QByteArrayView utf8;
    /// Set instead where the value came through Qt's driver (a value the engine does not
    /// hold as plain UTF-8 text): its characters, to which the writers apply their own rules.
    const QString *text = nullptr;
};

/// The holders of one export as value texts in column order, read as a stream.
///
/// The rows are read straight from the engine's client library where it can (see
/// `zq::data::TextRows`), through Qt's driver otherwise; both give the same texts.
class HolderExport
{
public:
    HolderExport(zq::data::Connection *connection,
                 const ExportRequest &request,
                 const QString &columnOrder,
                 const QString &dateFormat);
    ~HolderExport();

    /// Counts and opens the rows; false when a statement fails (the error in `errorText`).
    bool open();
    /// True when the open rows are read straight from the engine.
    bool readsDirectly() const;
    int rowCount() const { return m_count; }
    /// Calls `row` for each holder in export order until it returns false. False when
    /// the rows stopped short (a failed fetch, or `row` refused one).
    bool forEachRow(const std::function<bool(int index, const QStringList &values)> &row);
    /// The same rows as file values, without a QString per value where the engine gives
    /// UTF-8 text.
    bool forEachValues(const std::function<bool(int index, const QList<ExportValue> &values)> &row);
    QString errorText() const { return m_error; }

private:
    struct Rows;
    bool forEachDirect(const std::function<bool(int, const QList<ExportValue> &)> &row);
    qint64 m_mapBefore = -1; // the SQLite connection's memory-map size before the export
    zq::data::Connection *m_connection;
    ExportRequest m_request;
    QString m_order;
    QString m_dateFormat;
    int m_count = 0;
    QString m_error;
    std::unique_ptr<Rows> m_rows;
};

/// Progress of a file being written: rows done so far. Returning false stops the export;
/// the file is then not written (and `error` stays empty).
using ExportProgress = std::function<bool(int done)>;

/// Writes the holders as a text file (one line each, each value followed by `separator`) or
/// as a workbook (one row each, from A1). The file at `path` is replaced only when the
/// whole file was written.
bool writeTextFile(HolderExport &holders,
                   const QString &path,
                   const ExportProgress &progress,
                   QString &error,
                   QChar separator = u',');
bool writeWorkbook(HolderExport &holders,
                   const QString &path,
                   const ExportProgress &progress,
                   QString &error);

} // namespace zq::transfer
