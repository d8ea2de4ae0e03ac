#pragma once

#include "Connection.h"
#include "Recordset.h"

#include <QStringList>

namespace zq::test {

/// A small site for the printing and batch windows: departments D1 Head, D2 Sales, D3 Lab,
/// D4 Store (no rights rows); type Y1 with both card pictures, Y2 with only a landscape one;
/// holders whose department, title or type is missing, and one that is no punch-card holder.
/// Rights rows: admin D1, "op" D2 and D3, "clerk" D1 (so D1 has two rows).
inline QStringList labelSiteStatements()
{
    QStringList s{
        "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Head')",
        "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Sales')",
        "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', 'Lab')",
        "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D4', 'Store')",
        "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
        "INSERT INTO OccupationType (TypeNo, TypeName, PicNoV, PicNoH) VALUES ('Y1', 'Staff', "
        "'P1', 'P2')",
        "INSERT INTO OccupationType (TypeNo, TypeName, PicNoV, PicNoH) VALUES ('Y2', 'Guest', "
        "'P9', 'P2')",
        "INSERT INTO CardPicture (PicNo, PicName) VALUES ('P1', 'Portrait')",
        "INSERT INTO CardPicture (PicNo, PicName) VALUES ('P2', 'Landscape')",
        "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)",
        "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('clerk', 'Clerk', 0)",
        "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('admin', 'D1')",
        "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('clerk', 'D1')",
        "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D2')",
        "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D3')",
    };
    const QList<QStringList> holders{
        {"H1", "Ann", "D1", "T1", "Y1", "1"},
        {"H2", "O'Brien", "D2", "T1", "Y1", "1"},
        {"H3", "Cleo", "D2", "T1", "Y1", "0"},
        {"H4", "Dan", "D3", "T1", "Y1", "1"},
        {"H5", "Eve", "D2", "T9", "Y1", "1"},
        {"H6", "Finn", "DX", "T1", "Y1", "1"},
        {"H7", "Gus", "D3", "T1", "Y2", "1"},
        {"H8", "Hal", "D1", "T1", "Y9", "1"},
    };
    for (const QStringList &h : holders)
        s << "INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
             "PunchCard) VALUES ("
                 + zq::data::Connection::quoted(h[0]) + ", " + zq::data::Connection::quoted(h[1])
                 + ", '" + h[2] + "', '" + h[3] + "', '" + h[4] + "', " + h[5] + ")";
    return s;
}

/// The values of `column` over the rows of `statement`.
inline QStringList columnOf(zq::data::Connection &db,
                            const QString &statement,
                            const QString &column = QStringLiteral("HolderNo"))
{
    zq::data::Recordset rs;
    rs.setConnection(&db);
    rs.setStatement(statement);
    rs.open();
    QStringList values;
    for (int row = 0; row < rs.recordCount(); ++row)
        values << zq::data::Recordset::textOf(rs.valueAt(row, rs.fieldIndex(column))).trimmed();
    return values;
}

} // namespace zq::test
