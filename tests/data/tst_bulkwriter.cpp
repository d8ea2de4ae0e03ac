// The bulk writer stores what Qt's driver stores for the same values bound as text, into
// twin tables: inserts, and updates by a text or an integer key, with values that the COPY
// text format, array literals and SQL treat specially (tab, line ends, backslash, "\N",
// braces, quotes, the word NULL), NULL told from '', and values a column of a width refuses.
#include "BulkWriter.h"
#include "Connection.h"
#include "TestDatabase.h"

#include <QSqlQuery>
#include <QSqlRecord>

#include <gtest/gtest.h>

#include <optional>

using namespace zq::data;

namespace {

using Value = std::optional<QString>; // nullopt: NULL

struct Row
{
    Value key, name, stamp, amount, note;
};

const QStringList kColumns{"Name", "Stamp", "Amount", "Note"};

QList<Row> awkwardRows(bool integerKey)
{
    const auto key = [integerKey](int i) {
        return integerKey ? QString::number(i) : QStringLiteral("K%1").arg(i);
    };
    return {
        {key(1), "a\tb", "2024-02-29 00:00:00", "7", "back\\slash"},
        {key(2), "", std::nullopt, std::nullopt, "\\N"},
        {key(3), std::nullopt, "1899-12-30 00:00:00", "-5", "{\"x\",NULL}"},
        {key(4), "NULL", "2030-12-31 13:45:00", "0", "line\nend\r\n"},
        {key(5), QStringLiteral("中文😀"), "2000-01-01 00:00:00", "42", "O'Neil 100% _"},
        // Blanks past the width: PostgreSQL drops them, SQLite keeps them, either way alike.
        {key(6), "ab    ", "2025-06-30 00:00:00", "1", ""},
    };
}

class BulkWriterTest : public testing::TestWithParam<Engine>
{
protected:
    // The same table twice: W written by the bulk writer, Q by Qt's driver.
    void makeTables(zq::test::TestDatabase &db, bool integerKey)
    {
        const QString key = integerKey ? QStringLiteral("integer") : QStringLiteral("varchar(10)");
        for (const char *t : {"W", "Q"})
            db.exec({QStringLiteral("CREATE TABLE %1 (K %2 NOT NULL PRIMARY KEY, Name "
                                    "varchar(5), Stamp timestamp, Amount integer, Note text)")
                         .arg(QLatin1String(t), key)});
    }

    static QVariant bound(const Value &v) { return v ? QVariant(*v) : QVariant(); }

    // Inserts, or with `update` the updates by key, through Qt's driver; false when refused.
    static bool driverWrite(Connection &c, const QList<Row> &rows, bool update)
    {
        QSqlQuery q(c.database());
        q.prepare(update ? QStringLiteral(
                      "UPDATE Q SET Name = ?, Stamp = ?, Amount = ?, Note = ? WHERE K = ?")
                         : QStringLiteral("INSERT INTO Q (K, Name, Stamp, Amount, Note) VALUES "
                                          "(?, ?, ?, ?, ?)"));
        for (const Row &r : rows) {
            int i = 0;
            if (!update)
                q.bindValue(i++, bound(r.key));
            for (const Value &v : {r.name, r.stamp, r.amount, r.note})
                q.bindValue(i++, bound(v));
            if (update)
                q.bindValue(i, bound(r.key));
            if (!q.exec())
                return false;
        }
        return true;
    }

    static void add(BulkWriter &w, const QList<Row> &rows)
    {
        for (const Row &r : rows) {
            for (const Value &v : {r.key, r.name, r.stamp, r.amount, r.note}) {
                if (v)
                    w.addText(v->toUtf8());
                else
                    w.addNull();
            }
            w.endRow();
        }
    }

    static QStringList contents(Connection &c, const QString &table)
    {
        return zq::test::rowTexts(
            c.database(),
            QStringLiteral("SELECT K, Name, Stamp, Amount, Note FROM %1 ORDER BY K").arg(table));
    }
};

} // namespace

TEST_P(BulkWriterTest, WritesWhatTheDriverWrites)
{
    struct Case
    {
        const char *name;
        bool update;
        bool integerKey;
        QStringList stamps; // stamps put into the rows in turn
    };
    // Stamps of the plain form at the ends of its range go to PostgreSQL as binary stamps;
    // a batch holding one of any other form goes as text for the server to read, all of it.
    const QStringList edges{"0001-01-01 00:00:00",
                            "9999-12-31 23:59:59",
                            "1600-02-29 12:00:00",
                            "1970-01-01 00:00:01",
                            "1999-12-31 23:59:59",
                            "2100-03-01 00:00:00"};
    for (const Case &c : {Case{"insert", false, false, {}},
                          Case{"update by a text key", true, false, {}},
                          Case{"update by an integer key", true, true, {}},
                          Case{"update, stamps at the ends of their range", true, false, edges},
                          Case{"update, stamps of other forms",
                               true,
                               false,
                               edges + QStringList{"2024-02-29", "2024-02-29 10:00:00.25"}}}) {
        SCOPED_TRACE(c.name);
        ZQ_OPEN_TEST_DB(db, GetParam(), false);
        makeTables(db, c.integerKey);
        QList<Row> rows = awkwardRows(c.integerKey);
        for (qsizetype i = 0; i < c.stamps.size(); ++i)
            rows[i % rows.size()].stamp = c.stamps.at(i);
        if (c.update) {
            // Every row stands in both tables first, with one more that no update names.
            QList<Row> seeded;
            for (const Row &r : rows)
                seeded << Row{r.key, "old", "2001-02-03 00:00:00", "9", "old"};
            seeded << Row{c.integerKey ? "99" : "K99", "kept", std::nullopt, "3", "kept"};
            db.exec({QStringLiteral("DELETE FROM W")});
            ASSERT_TRUE(driverWrite(db.connection(), seeded, false));
            db.exec({QStringLiteral("INSERT INTO W SELECT * FROM Q")});
            // A key that stands in neither table changes nothing.
            rows << Row{c.integerKey ? "77" : "K77", "none", std::nullopt, "1", "none"};
        }
        BulkWriter w(&db.connection(),
                     QStringLiteral("W"),
                     c.update ? kColumns : QStringList{"K"} + kColumns,
                     c.update ? QStringLiteral("K") : QString());
        ASSERT_TRUE(w.prepare()) << w.errorText().toStdString();
        add(w, rows);
        EXPECT_EQ(w.pendingRows(), rows.size());
        ASSERT_TRUE(w.write()) << w.errorText().toStdString();
        EXPECT_EQ(w.writtenRows(), rows.size());
        EXPECT_EQ(w.pendingRows(), 0);
        ASSERT_TRUE(driverWrite(db.connection(), rows, c.update));
        const QStringList written = contents(db.connection(), "W");
        EXPECT_EQ(written, contents(db.connection(), "Q"));
        EXPECT_EQ(written.size(), c.update ? 7 : 6);

        if (c.update) {
            // The prepared update serves the next rows too.
            const QList<Row> again{{rows.first().key, "again", std::nullopt, "8", std::nullopt}};
            add(w, again);
            ASSERT_TRUE(w.write()) << w.errorText().toStdString();
            ASSERT_TRUE(driverWrite(db.connection(), again, true));
            EXPECT_EQ(contents(db.connection(), "W"), contents(db.connection(), "Q"));
        }
    }
}

// A value too long for its column: PostgreSQL refuses the whole write, SQLite (which holds
// no width) stores it as the driver does.
TEST_P(BulkWriterTest, AValueTooLongForItsColumn)
{
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "update" : "insert");
        ZQ_OPEN_TEST_DB(db, GetParam(), false);
        makeTables(db, false);
        const QList<Row> rows{{"K1", "fits", std::nullopt, "1", "a"},
                              {"K2", "too long", std::nullopt, "2", "b"}};
        if (update) {
            ASSERT_TRUE(driverWrite(
                db.connection(), {{"K1", "x", {}, "0", {}}, {"K2", "y", {}, "0", {}}}, false));
            db.exec({QStringLiteral("INSERT INTO W SELECT * FROM Q")});
        }
        BulkWriter w(&db.connection(),
                     QStringLiteral("W"),
                     update ? kColumns : QStringList{"K"} + kColumns,
                     update ? QStringLiteral("K") : QString());
        ASSERT_TRUE(w.prepare()) << w.errorText().toStdString();
        add(w, rows);
        const bool written = w.write();
        const bool postgres = GetParam() == Engine::PostgreSQL;
        EXPECT_EQ(written, !postgres);
        EXPECT_EQ(w.errorText().isEmpty(), !postgres);
        EXPECT_EQ(w.writtenRows(), postgres ? 0 : 2);
        EXPECT_FALSE(w.transactionEnded());
        if (postgres) {
            // The driver refuses the same row; nothing of the writer's batch is stored.
            QSqlQuery(db.connection().database()).exec(QStringLiteral("DELETE FROM Q"));
            if (update) {
                ASSERT_TRUE(driverWrite(
                    db.connection(), {{"K1", "x", {}, "0", {}}, {"K2", "y", {}, "0", {}}}, false));
            }
            EXPECT_FALSE(driverWrite(db.connection(), {rows.at(1)}, update));
            EXPECT_EQ(contents(db.connection(), "W"), contents(db.connection(), "Q"));
        } else {
            ASSERT_TRUE(driverWrite(db.connection(), rows, update));
            EXPECT_EQ(contents(db.connection(), "W"), contents(db.connection(), "Q"));
        }
    }
}

// Rows sent are answered by finishWrite(): their refusal too, and an answer outstanding when
// the connection closes. Until then they may be written while the caller goes on (updates on
// PostgreSQL); afterwards the connection takes other statements again.
TEST_P(BulkWriterTest, RowsSentAreAnsweredByFinishWrite)
{
    const bool postgres = GetParam() == Engine::PostgreSQL;
    struct Case
    {
        const char *name;
        QList<Row> rows;
        bool closeFirst; // the connection closes before the answer is asked for
        bool stored;
    };
    const QList<Case> cases{
        {"stored", awkwardRows(false), false, true},
        {"refused",
         {{"K1", "fits", {}, "1", "a"}, {"K2", "too long", {}, "2", "b"}},
         false,
         !postgres},
        {"closed before the answer", awkwardRows(false), true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ZQ_OPEN_TEST_DB(db, GetParam(), false);
        // Rows sent while the caller goes on are PostgreSQL's own way.
        zq::test::useBackend(db.connection(), true);
        makeTables(db, false);
        QList<Row> seeded;
        for (const Row &r : awkwardRows(false))
            seeded << Row{r.key, "old", std::nullopt, "9", "old"};
        ASSERT_TRUE(driverWrite(db.connection(), seeded, false));
        db.exec({QStringLiteral("INSERT INTO W SELECT * FROM Q")});
        BulkWriter w(&db.connection(), QStringLiteral("W"), kColumns, QStringLiteral("K"));
        ASSERT_TRUE(w.prepare()) << w.errorText().toStdString();
        add(w, c.rows);
        ASSERT_TRUE(w.send()) << w.errorText().toStdString();
        EXPECT_EQ(w.pendingRows(), 0);
        // Only PostgreSQL's update goes on without the caller; SQLite has written the rows.
        EXPECT_EQ(w.isWriting(), postgres);
        if (c.closeFirst)
            db.connection().close();
        EXPECT_EQ(w.finishWrite(), c.stored) << w.errorText().toStdString();
        EXPECT_FALSE(w.isWriting());
        EXPECT_TRUE(w.finishWrite()); // nothing outstanding any more
        if (c.closeFirst) {
            ASSERT_TRUE(db.connection().open());
        } else {
            EXPECT_EQ(w.errorText().isEmpty(), c.stored);
            EXPECT_EQ(w.writtenRows(), c.stored ? c.rows.size() : 0);
        }
        if (c.stored) {
            ASSERT_TRUE(driverWrite(db.connection(), c.rows, true));
        }
        EXPECT_EQ(contents(db.connection(), "W"), contents(db.connection(), "Q"));
    }
}

TEST_P(BulkWriterTest, AColumnTheTableLacksIsRefusedByPrepare)
{
    ZQ_OPEN_TEST_DB(db, GetParam(), false);
    // When an engine refuses a missing column is its own way's matter.
    zq::test::useBackend(db.connection(), true);
    makeTables(db, false);
    for (const bool update : {false, true}) {
        SCOPED_TRACE(update ? "update" : "insert");
        BulkWriter w(&db.connection(),
                     QStringLiteral("W"),
                     update ? QStringList{"Name", "Missing"} : QStringList{"K", "Missing"},
                     update ? QStringLiteral("K") : QString());
        // COPY learns of the column only when it runs.
        if (GetParam() == Engine::PostgreSQL && !update) {
            ASSERT_TRUE(w.prepare());
            w.addText("K1");
            w.addText("x");
            w.endRow();
            EXPECT_FALSE(w.write());
        } else {
            EXPECT_FALSE(w.prepare());
            EXPECT_FALSE(w.isPrepared());
        }
        EXPECT_FALSE(w.errorText().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BulkWriterTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);
