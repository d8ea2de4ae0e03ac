// A recordset opened on an engine's own library reads the same fields and values, and fails
// with the same errors, as one opened through the reference backend (Qt's driver alone), and
// the statements it serves do not fall back: awkward texts, NULL and '', numbers where texts
// belong, blobs declared and computed, date-time texts of every shape.
#include "Backend.h"
#include "Connection.h"
#include "Recordset.h"
#include "TestDatabase.h"

#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>

#include <gtest/gtest.h>

using namespace zq::data;

class RecordsetDirectTest : public testing::TestWithParam<Engine>
{
};

namespace {

void fill(zq::test::TestDatabase &db)
{
    // Date columns of SQLite hold what other programs wrote; PostgreSQL only takes dates.
    const bool sqlite = db.connection().engine() == Engine::SQLite;
    const auto date = [sqlite](const char *text) {
        return sqlite || QDateTime::fromString(QString::fromLatin1(text), Qt::ISODate).isValid()
                   ? QVariant(QString::fromLatin1(text))
                   : QVariant();
    };
    QSqlQuery q(db.connection().database());
    ASSERT_TRUE(q.prepare("INSERT INTO HolderData (HolderNo, HolderName, ShowText, PIN, Email, "
                          "Photo, SequenceNo, Enabled, StartDate, Birthday) "
                          "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    const QList<QVariantList> rows{
        {"H1  ",
         "Lena Lin",
         "",
         QVariant(),
         "a@b",
         QByteArray("\xff\xd8\x00photo", 8),
         1,
         1,
         date("2024-02-29 00:00:00"),
         date("")},
        {"H2",
         "O'Brien \"Q\" \\ %_",
         QVariant(),
         "0012",
         "",
         QByteArray(""),
         2,
         0,
         date("2024-02-29T08:30:15.250"),
         date("someday")},
        {"H3",
         "\u9673\u5927\u6587 \U0001F600",
         "\u00e9",
         "",
         QVariant(),
         QVariant(),
         QVariant(),
         QVariant(),
         QVariant(),
         date(" 2025-01-02")},
        {"H4",
         "  ",
         "\t",
         "x",
         "y",
         QVariant(),
         -7,
         1,
         date("2025-02-30 00:00:00"),
         date("2025-01-02 03:04")},
    };
    for (const QVariantList &row : rows) {
        for (const QVariant &v : row)
            q.addBindValue(v);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }
    if (db.connection().engine() == Engine::SQLite) {
        // Other programs store numbers in text columns and text in number columns.
        db.exec({"INSERT INTO HolderData (HolderNo, HolderName, SequenceNo, ShowText) "
                 "VALUES ('H5', 42, 'seven', 2.5)"});
    }
}

Recordset *openOn(Recordset &rs, zq::test::TestDatabase &db, const QString &sql, bool driver)
{
    Connection &c = db.connection();
    c.setBackendKind(driver ? BackendKind::Reference : Backend::ownKind(c.engine()));
    rs.setConnection(&c);
    rs.setStatement(sql);
    rs.open();
    return &rs;
}

QString describe(const QList<DbErrorItem> &errors)
{
    QStringList parts;
    for (const DbErrorItem &e : errors)
        parts << QStringLiteral("%1/%2/%3").arg(e.nativeCode).arg(e.sqlState, e.text);
    return parts.join(QLatin1Char('|'));
}

} // namespace

TEST_P(RecordsetDirectTest, FieldsAndValuesAreTheDriversOnes)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    const QStringList statements{
        "SELECT * FROM HolderData ORDER BY HolderNo",
        "SELECT T1.HolderNo AS \"Quoted\", T1.Photo, T1.StartDate, T1.Birthday FROM HolderData "
        "T1 ORDER BY T1.HolderNo",
        "SELECT 1 AS One, 2.5 AS Half, NULL AS NoValue, '' AS Empty, 'x' || HolderNo AS Joined, "
        "Photo AS Picture FROM HolderData ORDER BY HolderNo",
        "SELECT Photo, Birthday FROM HolderData WHERE 1 = 0",
        "SELECT COUNT(*) AS N FROM HolderData",
    };
    for (const QString &sql : statements) {
        SCOPED_TRACE(sql.toStdString());
        Recordset direct, driver;
        openOn(direct, db, sql, false);
        EXPECT_EQ(db.connection().fallbacks(), 0)
            << db.connection().backend().lastFallback().toStdString();
        openOn(driver, db, sql, true);
        ASSERT_EQ(direct.fieldCount(), driver.fieldCount());
        ASSERT_EQ(direct.recordCount(), driver.recordCount());
        for (int c = 0; c < driver.fieldCount(); ++c) {
            EXPECT_EQ(direct.fieldName(c), driver.fieldName(c));
            EXPECT_EQ(direct.isBlobField(c), driver.isBlobField(c)) << c;
        }
        for (int r = 0; r < driver.recordCount(); ++r) {
            direct.moveTo(r);
            driver.moveTo(r);
            for (int c = 0; c < driver.fieldCount(); ++c) {
                const QVariant a = direct.valueAt(r, c), b = driver.valueAt(r, c);
                EXPECT_EQ(a.metaType(), b.metaType()) << r << "/" << c;
                EXPECT_EQ(a, b) << r << "/" << c;
                EXPECT_EQ(a.isNull(), b.isNull()) << r << "/" << c;
                EXPECT_EQ(direct.text(driver.fieldName(c)), driver.text(driver.fieldName(c)));
            }
        }
    }
}

TEST_P(RecordsetDirectTest, FailuresReadAsTheDriversOnes)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    struct Case
    {
        const char *name;
        const char *sql;
    };
    const QList<Case> cases{
        {"no such table", "SELECT * FROM NoSuchTable"},
        {"syntax", "SELECT FROM WHERE"},
        {"two statements", "SELECT 1; SELECT 2"},
        {"no statement", "   "},
        // Rows come before the failing one, read one at a time by the driver.
        {"after the first row",
         "SELECT CASE WHEN SequenceNo = 2 "
         "THEN abs(SequenceNo * 0 - 9223372036854775807 - 1) "
         "ELSE SequenceNo END AS v FROM HolderData"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QString errors[2];
        for (const bool driver : {false, true}) {
            Recordset rs;
            EXPECT_THROW(openOn(rs, db, QString::fromLatin1(c.sql), driver), DbError);
            EXPECT_FALSE(rs.isOpen());
            errors[driver] = describe(db.connection().errors());
        }
        EXPECT_EQ(errors[0], errors[1]);
        EXPECT_FALSE(errors[0].isEmpty());
    }
}

TEST_P(RecordsetDirectTest, AStatementThatWritesRunsOnceAndIsRefusedAsBefore)
{
    ZQ_OPEN_TEST_DB(db, GetParam());
    fill(db);
    Recordset rs;
    EXPECT_THROW(openOn(rs,
                        db,
                        "UPDATE HolderData SET SequenceNo = SequenceNo + 10 "
                        "WHERE HolderNo = 'H2'",
                        false),
                 DbError);
    EXPECT_EQ(describe(db.connection().errors()), "-1//The statement returns no rows.");
    Recordset check;
    openOn(check, db, "SELECT SequenceNo FROM HolderData WHERE HolderNo = 'H2'", false);
    EXPECT_EQ(check.value("SequenceNo").toInt(), 12);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         RecordsetDirectTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
