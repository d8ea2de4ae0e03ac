#pragma once

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

/// The holders of one export as value texts in column order, read as a stream.
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
    int rowCount() const { return m_count; }
    /// Calls `row` for each holder in export order until it returns false. False when
    /// the rows stopped short (a failed fetch, or `row` refused one).
    bool forEachRow(const std::function<bool(int index, const QStringList &values)> &row);
    QString errorText() const { return m_error; }

private:
    struct Rows;
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
