#include "Schema.h"

#include <QSet>

namespace zq::data {

namespace {

using T = ColumnType;

QList<TableDef> buildTables()
{
    QList<TableDef> t;
    t << TableDef{
        "OccupationTitle",
        {{"TitleNo", T::Text, 10, true}, {"TitleName", T::Text, 20}, {"Description", T::Text, 40}},
        {"TitleNo"},
        {}};
    t << TableDef{"OccupationType",
                  {{"TypeNo", T::Text, 10, true},
                   {"TypeName", T::Text, 20},
                   {"Description", T::Text, 40},
                   {"PicNoV", T::Text, 20},
                   {"PicNoH", T::Text, 20}},
                  {"TypeNo"},
                  {}};
    t << TableDef{"DepartmentData",
                  {{"DepartmentNo", T::Text, 10, true},
                   {"DepartmentName", T::Text, 20},
                   {"Description", T::Text, 40},
                   {"UnderNo", T::Text, 10}},
                  {"DepartmentNo"},
                  {{"ix_DepartmentData_UnderNo", {"UnderNo"}}}};
    t << TableDef{"CardPicture",
                  {{"PicNo", T::Text, 20, true},
                   {"PicName", T::Text, 20},
                   {"GBPhoto", T::Blob},
                   {"Description", T::Text, 40}},
                  {"PicNo"},
                  {}};
    t << TableDef{"HolderData",
                  {{"HolderNo", T::Text, 20, true}, {"HolderName", T::Text, 40},
                   {"ShowText", T::Text, 16},       {"Birthday", T::DateTime},
                   {"DepartmentNo", T::Text, 10},   {"TitleNo", T::Text, 10},
                   {"TypeNo", T::Text, 10},         {"Photo", T::Blob},
                   {"Enabled", T::SmallInt},        {"PIN", T::Text, 10},
                   {"PunchCard", T::SmallInt},      {"Definable1", T::Text, 20},
                   {"Definable2", T::Text, 20},     {"Site", T::Text, 20},
                   {"Area", T::Text, 20},           {"Email", T::Text, 40},
                   {"StartDate", T::DateTime},      {"ExpiredDate", T::DateTime},
                   {"SuperiorNo1", T::Text, 20},    {"SuperiorNo2", T::Text, 20},
                   {"SuperiorNo3", T::Text, 20},    {"HolderPassword", T::Text, 20},
                   {"AnnounceFlag", T::SmallInt},   {"LoginFlag", T::SmallInt},
                   {"CheckMark", T::SmallInt},      {"Description", T::Text, 40},
                   {"SequenceNo", T::Integer},      {"Deposit01", T::DateTime},
                   {"Deposit02", T::DateTime},      {"Deposit03", T::DateTime},
                   {"Deposit04", T::Text, 50}},
                  {"HolderNo"},
                  {{"ix_HolderData_DepartmentNo", {"DepartmentNo"}},
                   {"ix_HolderData_TitleNo", {"TitleNo"}},
                   {"ix_HolderData_TypeNo", {"TypeNo"}},
                   {"ix_HolderData_SequenceNo", {"SequenceNo"}},
                   {"ix_HolderData_HolderName", {"HolderName"}},
                   // The holder window fills in missing birthdays and start dates each time
                   // it opens; these stay empty on a tidy site, so the fix-up finds nothing
                   // without reading the table, and writes of dated holders never touch them.
                   {"ix_HolderData_NoBirthday", {"HolderNo"}, false, "Birthday IS NULL"},
                   {"ix_HolderData_NoStartDate", {"HolderNo"}, false, "StartDate IS NULL"}}};
    t << TableDef{
        "CardData",
        {{"CardNo", T::Numeric, 0, true}, {"HolderNo", T::Text, 20}, {"CardFlag", T::SmallInt}},
        {"CardNo"},
        {{"ix_CardData_HolderNo", {"HolderNo"}}}};
    t << TableDef{"DeviceUnit",
                  {{"DeviceNo", T::Numeric, 0, true},
                   {"DeviceName", T::Text, 40},
                   {"DeviceEnabled", T::SmallInt}},
                  {"DeviceNo"},
                  {}};
    t << TableDef{"UserData",
                  {{"UserID", T::Text, 20, true},
                   {"UserName", T::Text, 40},
                   {"UserPassword", T::Text, 40},
                   {"Supervisor", T::Integer}},
                  {"UserID"},
                  {}};
    t << TableDef{"UserRightDept",
                  {{"UserID", T::Text, 20, true}, {"DepartmentNo", T::Text, 10, true}},
                  {"UserID", "DepartmentNo"},
                  {{"ix_UserRightDept_DepartmentNo", {"DepartmentNo"}}}};
    t << TableDef{"UserRightDevice",
                  {{"UserID", T::Text, 20, true}, {"DeviceNo", T::Numeric, 0, true}},
                  {"UserID", "DeviceNo"},
                  {}};
    // The host's own tables: rights per window key and the audit trail.
    t << TableDef{"UserProgramRight",
                  {{"UserID", T::Text, 20, true},
                   {"RightKey", T::Text, 40, true},
                   {"RightValue", T::Integer}},
                  {"UserID", "RightKey"},
                  {}};
    t << TableDef{"ProgramRunEdit",
                  {{"RunTime", T::DateTime},
                   {"UserID", T::Text, 20},
                   {"RightKey", T::Text, 40},
                   {"Entry", T::Text, 200}},
                  {},
                  {{"ix_ProgramRunEdit_RightKey", {"RightKey"}}}};
    t << TableDef{"DeviceCardJournal",
                  {{"DeviceNo", T::Integer},
                   {"CardNo", T::Numeric},
                   {"DeletedAt", T::DateTime},
                   {"UserID", T::Text, 20}},
                  {},
                  {{"ix_DeviceCardJournal_DeviceNo", {"DeviceNo"}}}};
    return t;
}

} // namespace

const QList<TableDef> &siteTables()
{
    static const QList<TableDef> tables = buildTables();
    return tables;
}

const TableDef *findTable(const QString &name)
{
    for (const TableDef &t : siteTables())
        if (name.compare(QLatin1String(t.name), Qt::CaseInsensitive) == 0)
            return &t;
    return nullptr;
}

bool isDateTimeColumn(const QString &name)
{
    static const QSet<QString> names = [] {
        QSet<QString> s;
        for (const TableDef &t : siteTables())
            for (const ColumnDef &c : t.columns)
                if (c.type == T::DateTime)
                    s.insert(QString::fromLatin1(c.name).toLower());
        return s;
    }();
    return names.contains(name.toLower());
}

QStringList createStatements(const TableDef &table, Engine engine)
{
    QStringList parts;
    for (const ColumnDef &c : table.columns) {
        QString col = QString::fromLatin1(c.name) + QLatin1Char(' ')
                      + Dialect::of(engine).typeName(c.type, c.width);
        if (c.notNull)
            col += QStringLiteral(" NOT NULL");
        parts << col;
    }
    if (!table.primaryKey.isEmpty())
        parts
            << QStringLiteral("PRIMARY KEY (%1)").arg(table.primaryKey.join(QStringLiteral(", ")));
    QStringList result;
    result << QStringLiteral("CREATE TABLE %1 (%2)")
                  .arg(QString::fromLatin1(table.name), parts.join(QStringLiteral(", ")));
    for (const IndexDef &ix : table.indexes) {
        QString sql = QStringLiteral("CREATE %1INDEX %2 ON %3 (%4)")
                          .arg(ix.unique ? QStringLiteral("UNIQUE ") : QString(),
                               QString::fromLatin1(ix.name),
                               QString::fromLatin1(table.name),
                               ix.columns.join(QStringLiteral(", ")));
        if (*ix.where)
            sql += QStringLiteral(" WHERE ") + QString::fromLatin1(ix.where);
        result << sql;
    }
    return result;
}

bool createSchema(Connection &connection, const QStringList &only)
{
    if (!connection.isConnected() && !connection.open())
        return false;
    const QStringList existing = connection.userTables();
    for (const TableDef &t : siteTables()) {
        const QString name = QString::fromLatin1(t.name);
        if (!only.isEmpty() && !only.contains(name, Qt::CaseInsensitive))
            continue;
        if (existing.contains(name, Qt::CaseInsensitive))
            continue;
        if (!connection.begin())
            return false;
        for (const QString &sql : createStatements(t, connection.engine())) {
            if (!connection.execute(sql)) {
                const auto errors = connection.errors();
                connection.rollback();
                connection.setErrors(errors);
                return false;
            }
        }
        if (!connection.commit())
            return false;
    }
    return true;
}

} // namespace zq::data
