// On PostgreSQL a recordset reads a query on libpq's own connection: every type the driver
// converts must come out exactly as the driver gives it (type, NULL or '', padding, date-time
// fields and zone), failures must read as the driver's, and whatever the direct read does not
// take must go the driver's way. The driver's way is taken inside an open transaction, which
// the direct read leaves to the driver; `transaction_read_only` tells which way a statement
// went, since the direct read runs it in a read-only transaction of its own.
#include "Backend.h"
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QDateTime>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

using namespace zq::data;

namespace {

const char *const kReadOnly = "current_setting('transaction_read_only') AS ro";

void fillAwkward(zq::test::TestDatabase &db)
{
    db.exec({
        "CREATE TABLE Awkward (k integer PRIMARY KEY, b boolean, s2 smallint, i4 integer, "
        "i8 bigint, o oid, f4 real, f8 double precision, n numeric, n3 numeric(12,3), t text, "
        "vc varchar(20), bp char(6), nm name, ch \"char\", d date, tm time, ttz timetz, "
        "ts timestamp, tstz timestamptz, by bytea, StartDate varchar(30), Birthday integer)",
        "CREATE SEQUENCE awkward_seq",
        "INSERT INTO Awkward (k) VALUES (1)",
        // '' everywhere it can go; the zero of every number.
        "INSERT INTO Awkward VALUES (2, false, 0, 0, 0, 0, 0, '-0', 0, 0.000, '', '', '', '', "
        "'', '2024-02-29', '00:00:00', '00:00:00+00', '2024-02-29 00:00:00', "
        "'2024-02-29 00:00:00+00', '', '', 0)",
        // Blanks after keys, numbers in text columns, the ends of every range.
        "INSERT INTO Awkward VALUES (3, true, -32768, -2147483648, -9223372036854775808, "
        "4294967295, 3.4028235e38, 1e308, -123456789012345678901234567890.123456789, "
        "123456789.123, 'H1  ', 'H1  ', 'H1', 'H1  ', 'x', 'infinity', '24:00:00', "
        "'23:59:59.999999-12', '1999-12-31 23:59:59.999999', "
        "'2024-02-29 08:30:15.123456+08', '\\x00ff805c2700', '0012', 20240229)",
        "INSERT INTO Awkward VALUES (4, true, 32767, 2147483647, 9223372036854775807, 1, 'NaN', "
        "'-Infinity', 'NaN', -0.001, '0012', '42', '-7.50', 'name', '7', '-infinity', "
        "'12:34:56.789', '12:34:56+05:30', 'infinity', '-infinity', '\\x5c5c00', "
        "'2024-02-29 08:30:15', -1)",
        // Before Christ, beyond year 9999, outside the text's Latin-1, a time the local zone
        // skips (Asia/Taipei put its clocks from 00:00 to 01:00 on 1974-04-01).
        "INSERT INTO Awkward VALUES (5, NULL, NULL, NULL, NULL, NULL, '1.17549435e-38', "
        "'4.9e-324', 'Infinity', 'NaN', E'\\u9673\\u5927\\u6587 \\U0001F600', '\u00e9', "
        "'\u00e9', '\u00e9', NULL, '0044-03-15 BC', NULL, NULL, '0044-03-15 12:00:00 BC', "
        "'1974-04-01 00:30:00+08', '\\x80ffff', 'someday', NULL)",
        "INSERT INTO Awkward (k, n, ts, tstz, d, StartDate, t) VALUES (6, "
        "('1' || repeat('0', 400))::numeric, '1974-04-01 00:30:00', "
        "'10000-01-01 00:00:00+00', '10000-01-01', '2024-02-29T08:30:15', "
        "E'tab\\there\\nline ''quoted'' \"double\" \\\\ %_')",
        "INSERT INTO Awkward (k, n, ts, StartDate, vc) VALUES (7, "
        "('0.' || repeat('0', 399) || '1')::numeric, '10000-01-01 00:00:00', ' 2025-01-02', "
        "'  ')",
        "INSERT INTO Awkward (k, ts, tstz, StartDate) VALUES (8, '2024-02-29 08:30:15.5', "
        "'2024-02-29 23:59:59.9995+14', '2025-02-30 00:00:00')",
    });
}

std::string describe(const QVariant &v)
{
    QString text;
    if (v.metaType().id() == QMetaType::QDateTime) {
        const QDateTime dt = v.toDateTime();
        text = QStringLiteral("QDateTime(%1 %2 spec %3 offset %4 %5)")
                   .arg(dt.date().toString(Qt::ISODate), dt.time().toString(Qt::ISODateWithMs))
                   .arg(int(dt.timeSpec()))
                   .arg(dt.offsetFromUtc())
                   .arg(dt.isValid() ? "valid" : "invalid");
    } else if (v.metaType().id() == QMetaType::QByteArray) {
        text = QString::fromLatin1(v.toByteArray().toHex());
    } else {
        text = v.toString();
    }
    return std::string(v.metaType().name() ? v.metaType().name() : "invalid") + " "
           + (v.isNull() ? "null " : "") + text.toStdString();
}

// The same value: its type, NULL or not, and for date-times their fields and zone, not only
// the moment they stand for; NaN is NaN.
testing::AssertionResult sameValue(const QVariant &direct, const QVariant &driver)
{
    bool same = direct.metaType() == driver.metaType() && direct.isNull() == driver.isNull()
                && direct.isValid() == driver.isValid();
    if (same) {
        switch (driver.metaType().id()) {
        case QMetaType::QDateTime: {
            const QDateTime a = direct.toDateTime(), b = driver.toDateTime();
            same = a.isValid() == b.isValid() && a.date() == b.date() && a.time() == b.time()
                   && a.timeSpec() == b.timeSpec() && (!b.isValid() || a == b);
            break;
        }
        case QMetaType::Double: {
            const double a = direct.toDouble(), b = driver.toDouble();
            same = std::memcmp(&a, &b, sizeof a) == 0 || (std::isnan(a) && std::isnan(b));
            break;
        }
        default:
            same = direct == driver;
        }
    }
    if (same)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << "direct " << describe(direct) << ", driver " << describe(driver);
}

void openWith(BackendKind kind, Recordset &rs, Connection &c, const QString &sql)
{
    c.setBackendKind(kind);
    rs.setConnection(&c);
    rs.setStatement(sql);
    rs.open();
}

// The statement read on libpq's connection (whatever ZQ_DATA_BACKEND says).
void openOn(Recordset &rs, Connection &c, const QString &sql)
{
    openWith(BackendKind::PostgreSQL, rs, c, sql);
}

// The statement read through the reference backend (Qt's driver alone).
void openByDriver(Recordset &rs, Connection &c, const QString &sql)
{
    openWith(BackendKind::Reference, rs, c, sql);
}

QString errorsOf(const Connection &c)
{
    QStringList parts;
    for (const DbErrorItem &e : c.errors())
        parts << QStringLiteral("%1/%2/%3").arg(e.nativeCode).arg(e.sqlState, e.text);
    return parts.join(QLatin1Char('|'));
}

void expectSameRecordsets(const Recordset &direct, const Recordset &driver)
{
    ASSERT_EQ(direct.fieldCount(), driver.fieldCount());
    ASSERT_EQ(direct.recordCount(), driver.recordCount());
    for (int c = 0; c < driver.fieldCount(); ++c) {
        EXPECT_EQ(direct.fieldName(c), driver.fieldName(c));
        EXPECT_EQ(direct.isBlobField(c), driver.isBlobField(c))
            << driver.fieldName(c).toStdString();
    }
    for (int r = 0; r < driver.recordCount(); ++r) {
        for (int c = 0; c < driver.fieldCount(); ++c) {
            if (driver.fieldName(c) == QLatin1String("ro"))
                continue;
            const QVariant a = direct.valueAt(r, c), b = driver.valueAt(r, c);
            EXPECT_TRUE(sameValue(a, b)) << "row " << r << " " << driver.fieldName(c).toStdString();
            EXPECT_EQ(Recordset::textOf(a), Recordset::textOf(b))
                << "row " << r << " " << driver.fieldName(c).toStdString();
        }
    }
}

QString readOnlyOf(const Recordset &rs)
{
    const int column = rs.fieldIndex(QStringLiteral("ro"));
    return column < 0 || rs.recordCount() == 0 ? QString() : rs.valueAt(0, column).toString();
}

} // namespace

TEST(RecordsetPostgresDirect, EveryTypeReadsAsTheDriverReadsIt)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    fillAwkward(db);
    const QString ro = QString::fromLatin1(kReadOnly);
    const QStringList statements{
        "SELECT " + ro + ", * FROM Awkward ORDER BY k",
        "SELECT " + ro
            + ", k::oid AS ko, 1 AS one, 2.5 AS half, NULL AS nothing, '' AS empty, "
              "'x' || t AS joined, by AS picture, count(*) OVER () AS n8, d + 1 AS nextday, "
              "ts::date AS tsday, 'boolin'::regproc AS proc, pg_sleep(0) AS nothing2, "
              "i8 / -3 AS divided, f4::float8 AS widened FROM Awkward ORDER BY k",
        // Dates under names the site uses for its date columns, in types that are not dates.
        "SELECT " + ro
            + ", t AS Birthday, i4 AS StartDate, by AS ExpiredDate, ts AS Deposit01 "
              "FROM Awkward ORDER BY k",
        "  -- a comment first\n (SELECT " + ro + ", bp, vc FROM Awkward WHERE k > 2 ORDER BY k);",
        "WITH a AS (SELECT * FROM Awkward) SELECT " + ro + ", n3, n FROM a ORDER BY k",
        "VALUES (1, 'one'), (2, NULL)",
        "SELECT " + ro + ", by, StartDate FROM Awkward WHERE 1 = 0",
        "SELECT COUNT(*) AS N, " + ro + " FROM Awkward",
    };
    for (const QString &sql : statements) {
        SCOPED_TRACE(sql.toStdString());
        Recordset direct, driver;
        openOn(direct, db.connection(), sql);
        openByDriver(driver, db.connection(), sql);
        if (direct.recordCount() > 0 && direct.hasField(QStringLiteral("ro"))) {
            EXPECT_EQ(readOnlyOf(direct), "on");
            EXPECT_EQ(readOnlyOf(driver), "off");
        }
        expectSameRecordsets(direct, driver);
    }

    // What the site relies on, whatever the driver: a char column keeps its padding, a
    // zone-free timestamp is the local wall-clock time it says.
    Recordset rs;
    openOn(rs, db.connection(), "SELECT bp, vc, ts FROM Awkward WHERE k = 3 OR k = 2 ORDER BY k");
    ASSERT_EQ(rs.recordCount(), 2);
    EXPECT_EQ(rs.valueAt(0, 0), QVariant(QStringLiteral("      ")));
    EXPECT_EQ(rs.valueAt(1, 0), QVariant(QStringLiteral("H1    ")));
    EXPECT_EQ(rs.valueAt(1, 1), QVariant(QStringLiteral("H1  ")));
    const QDateTime day = rs.valueAt(0, 2).toDateTime();
    EXPECT_EQ(day.timeSpec(), Qt::LocalTime);
    EXPECT_EQ(day, QDateTime(QDate(2024, 2, 29), QTime(0, 0)));
}

TEST(RecordsetPostgresDirect, NumbersFollowThePrecisionPolicy)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    fillAwkward(db);
    QSqlDatabase database = db.connection().database();
    const QString sql = "SELECT " + QString::fromLatin1(kReadOnly)
                        + ", n, n3, f4, f8, i8, s2, 12.50 AS literal FROM Awkward ORDER BY k";
    struct Case
    {
        const char *name;
        QSql::NumericalPrecisionPolicy policy;
        const char *readOnly; // the direct read takes only the two policies it follows
    };
    const QList<Case> cases{
        {"high precision", QSql::HighPrecision, "on"},
        {"double", QSql::LowPrecisionDouble, "on"},
        {"64-bit integers", QSql::LowPrecisionInt64, "off"},
        {"32-bit integers", QSql::LowPrecisionInt32, "off"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        database.setNumericalPrecisionPolicy(c.policy);
        Recordset direct, driver;
        openOn(direct, db.connection(), sql);
        openByDriver(driver, db.connection(), sql);
        EXPECT_EQ(readOnlyOf(direct), c.readOnly);
        expectSameRecordsets(direct, driver);
    }
    database.setNumericalPrecisionPolicy(QSql::HighPrecision);
    Recordset rs;
    openOn(rs, db.connection(), "SELECT n FROM Awkward WHERE k = 3");
    EXPECT_EQ(rs.value("n"), QVariant(QStringLiteral("-123456789012345678901234567890.123456789")));
}

TEST(RecordsetPostgresDirect, WhatItDoesNotTakeGoesTheDriversWay)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    fillAwkward(db);
    const QString ro = QString::fromLatin1(kReadOnly);
    struct Case
    {
        const char *name;
        QString sql;
        bool parameter;
        bool transaction;
    };
    const QList<Case> cases{
        {"a parameter", "SELECT " + ro + ", t FROM Awkward ORDER BY k", true, false},
        {"an open transaction", "SELECT " + ro + ", t FROM Awkward ORDER BY k", false, true},
        {"a type it does not convert",
         "SELECT " + ro
             + ", '{\"a\": 1}'::json AS j, "
               "'pg_class'::regclass AS r, interval '1 day' AS i, "
               "ARRAY[1, 2] AS a, t FROM Awkward ORDER BY k",
         false,
         false},
        {"rows of another statement", "SHOW transaction_read_only", false, false},
        {"a lock that needs writing",
         "SELECT " + ro + ", k FROM Awkward ORDER BY k FOR UPDATE",
         false,
         false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Recordset rs, driver;
        db.connection().setBackendKind(BackendKind::PostgreSQL);
        rs.setConnection(&db.connection());
        rs.setStatement(c.sql);
        if (c.parameter)
            rs.setParameter(QStringLiteral(":unused"), 0);
        if (c.transaction) {
            ASSERT_TRUE(db.connection().begin());
        }
        rs.open();
        if (c.transaction)
            db.connection().rollback();
        ASSERT_GT(rs.recordCount(), 0);
        EXPECT_EQ(rs.valueAt(0, 0).toString(), "off");
        // Handed over visibly: counted once, with its reason.
        EXPECT_EQ(db.connection().fallbacks(), 1);
        EXPECT_FALSE(db.connection().backend().lastFallback().isEmpty());
        openByDriver(driver, db.connection(), c.sql);
        expectSameRecordsets(rs, driver);
    }
}

// A statement the server refuses to run read-only is run again by the driver: it has then
// run exactly once, as before.
TEST(RecordsetPostgresDirect, AStatementThatWritesRunsOnce)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    fillAwkward(db);
    const QString ro = QString::fromLatin1(kReadOnly);
    const QStringList statements{
        "WITH u AS (UPDATE Awkward SET i4 = i4 + 1 WHERE k = 2 RETURNING i4) SELECT " + ro
            + ", i4 FROM u",
        "SELECT " + ro + ", nextval('awkward_seq') AS i4",
    };
    for (const QString &sql : statements) {
        SCOPED_TRACE(sql.toStdString());
        for (int time = 1; time <= 2; ++time) {
            Recordset rs;
            openOn(rs, db.connection(), sql);
            ASSERT_EQ(rs.recordCount(), 1);
            EXPECT_EQ(rs.value("ro").toString(), "off");
            EXPECT_EQ(rs.value("i4").toInt(), time);
        }
    }
}

TEST(RecordsetPostgresDirect, FailuresReadAsTheDriversOnesAndLeaveNoTransaction)
{
    ZQ_OPEN_TEST_DB(db, Engine::PostgreSQL);
    fillAwkward(db);
    struct Case
    {
        const char *name;
        const char *sql;
    };
    const QList<Case> cases{
        {"no such table", "SELECT * FROM NoSuchTable"},
        {"no such column", "SELECT NoSuchColumn FROM Awkward"},
        {"syntax", "SELECT FROM WHERE ("},
        {"while running", "SELECT 1 / (k - k) FROM Awkward"},
        {"after some rows", "SELECT k, 1 / (k - 3) FROM Awkward"},
        {"a bad cast of a value", "SELECT t::integer FROM Awkward WHERE k = 3"},
        {"unclosed comment", "SELECT 1 /* open"},
        {"two statements", "SELECT 1; SELECT 2"},
    };
    const QString check = "SELECT " + QString::fromLatin1(kReadOnly);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString sql = QString::fromLatin1(c.sql);
        Recordset direct, driver;
        EXPECT_THROW(openOn(direct, db.connection(), sql), DbError);
        EXPECT_FALSE(direct.isOpen());
        const QString directErrors = errorsOf(db.connection());
        EXPECT_THROW(openByDriver(driver, db.connection(), sql), DbError);
        EXPECT_EQ(directErrors, errorsOf(db.connection()));
        EXPECT_FALSE(directErrors.isEmpty());
        // The failed read left no transaction behind, aborted or open.
        Recordset after;
        openOn(after, db.connection(), check);
        EXPECT_EQ(after.value("ro").toString(), "on");
        EXPECT_TRUE(db.connection().errors().isEmpty());
    }
}
