// One change written to many holders: what is written, what is skipped and named, what a
// cancel, a refusal or a lost link leave committed. Listings as the holder window reads
// them, holders changed by a second connection, keys stored with blanks after them.
#include "BatchEdit.h"
#include "BatchEditRun.h"
#include "FormTest.h"
#include "HolderStatements.h"
#include "Recordset.h"

#include <QDate>
#include <QSqlQuery>

using namespace zq::forms::holder;
using zq::data::Connection;
using zq::data::Engine;
using zq::data::Recordset;

namespace {

class BatchEditTest : public zq::test::FormTest
{
protected:
    void fillCodes()
    {
        exec({"INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D1', 'Head')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D2', 'Sales')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D3', 'Lab')",
              "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES ('D4  ', 'Yard')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T1', 'Clerk')",
              "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES ('T2', 'Guard')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')",
              "INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y2', 'Contractor')",
              "INSERT INTO UserData (UserID, UserName, Supervisor) VALUES ('op', 'Operator', 0)",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D2')",
              "INSERT INTO UserRightDept (UserID, DepartmentNo) VALUES ('op', 'D3')"});
    }
    // `expiry` and the deposits as SQL (NULL or a quoted text).
    void addHolder(const QString &no,
                   const QString &dept,
                   const QString &expiry = "NULL",
                   int punch = 1,
                   const QString &deposit02 = "NULL")
    {
        exec({"INSERT INTO HolderData (HolderNo, HolderName, DepartmentNo, TitleNo, TypeNo, "
              "PunchCard, Birthday, StartDate, ExpiredDate, Deposit01, Deposit02, Email) VALUES ("
              + Connection::quoted(no) + ", " + Connection::quoted("Name " + no.trimmed()) + ", "
              + Connection::quoted(dept) + ", 'T1', 'Y1', " + QString::number(punch)
              + ", '1990-05-04 00:00:00', '2024-01-01 00:00:00', " + expiry
              + ", '2024-02-01 00:00:00', " + deposit02 + ", 'x@y')"});
    }
    // `n` holders N001.. in D2, in one transaction.
    void addMany(int n)
    {
        ASSERT_TRUE(db().begin());
        for (int i = 1; i <= n; ++i)
            addHolder(QString("N%1").arg(i, 3, 10, QLatin1Char('0')), "D2");
        ASSERT_TRUE(db().commit());
    }
    // The listing of every holder, as the holder window reads it for a supervisor.
    std::vector<BatchHolder> listed()
    {
        m_listing = std::make_unique<Recordset>();
        m_listing->setConnection(&db());
        m_listing->setStatement(filterListing(QString(), true, QString()));
        m_listing->open();
        QList<int> rows;
        for (int i = 0; i < m_listing->recordCount(); ++i)
            rows << i;
        return batchHolders(*m_listing, rows);
    }
    QString value(const QString &column, const QString &key)
    {
        return scalar("SELECT " + column
                      + " FROM HolderData WHERE HolderNo = " + Connection::quoted(key));
    }
    int countWhere(const QString &condition)
    {
        return count("SELECT COUNT(*) FROM HolderData WHERE " + condition);
    }
    // Makes the database refuse the update of holder `key` (a site's own rule).
    void refuseUpdateOf(const QString &key)
    {
        // Trigger bodies are not statements the data layer runs, so they go in directly.
        QSqlQuery q(db().database());
        const QString when = "OLD.HolderNo = " + Connection::quoted(key);
        if (GetParam() == Engine::PostgreSQL) {
            ASSERT_TRUE(q.exec("CREATE FUNCTION zq_refuse_one() RETURNS trigger LANGUAGE plpgsql "
                               "AS $$ BEGIN IF "
                               + when
                               + " THEN RAISE EXCEPTION 'refused'; END IF; RETURN NEW; END $$"));
            ASSERT_TRUE(q.exec("CREATE TRIGGER zq_refuse_one BEFORE UPDATE ON HolderData FOR EACH "
                               "ROW EXECUTE FUNCTION zq_refuse_one()"));
        } else {
            ASSERT_TRUE(q.exec("CREATE TRIGGER zq_refuse_one BEFORE UPDATE ON HolderData WHEN "
                               + when + " BEGIN SELECT RAISE(ABORT, 'refused'); END"));
        }
    }

    std::unique_ptr<Recordset> m_listing;
};

BatchChange expiryOn(const QDate &date)
{
    BatchChange c;
    c.set(BatchField::ExpiredDate, date);
    return c;
}

TEST_P(BatchEditTest, OnlyTheTickedFieldsOfTheChangingHoldersAreWritten)
{
    ZQ_FORM_DB();
    fillCodes();
    addHolder("B01", "D1", "'2025-06-30 00:00:00'", 1);
    addHolder("B02  ", "D2", "NULL", 1); // stored with blanks after its number
    addHolder("B03", "D3", "'2026-03-31 00:00:00'", 0);
    const auto holders = listed();
    ASSERT_EQ(holders.size(), 3u);

    BatchChange change;
    change.set(BatchField::ExpiredDate, QDate(2026, 3, 31));
    change.set(BatchField::PunchCard, 0);
    change.set(BatchField::Type, "Y2");
    BatchWriter writer(&db());
    const BatchOutcome out = writer.apply(holders, change);

    EXPECT_EQ(out.end, BatchOutcome::End::Done);
    EXPECT_EQ(out.written, 3); // B03 holds expiry and punch already, not its type
    EXPECT_EQ(out.unchanged, 0);
    EXPECT_TRUE(out.changedElsewhere.isEmpty());
    EXPECT_EQ(countWhere("ExpiredDate = '2026-03-31 00:00:00'"), 3);
    EXPECT_EQ(countWhere("PunchCard = 0"), 3);
    EXPECT_EQ(countWhere("TypeNo = 'Y2'"), 3);
    // Everything unticked stays as stored, per holder.
    EXPECT_EQ(value("DepartmentNo", "B01"), "D1");
    EXPECT_EQ(value("DepartmentNo", "B02  "), "D2");
    EXPECT_EQ(countWhere("TitleNo = 'T1' AND Email = 'x@y' AND Deposit02 IS NULL"), 3);
    EXPECT_EQ(countWhere("StartDate = '2024-01-01 00:00:00'"), 3);
    // The key stays as stored; the audit entry names the number as the user sees it.
    EXPECT_EQ(countWhere("HolderNo = 'B02'"), 0);
    EXPECT_EQ(d.auditEntries(),
              (QStringList{
                  "BasicDataHolderI|E B01", "BasicDataHolderI|E B02", "BasicDataHolderI|E B03"}));

    // The same change again finds nothing to do: nothing written, nothing audited.
    d.calls.clear();
    const BatchOutcome again = BatchWriter(&db()).apply(listed(), change);
    EXPECT_EQ(again.written, 0);
    EXPECT_EQ(again.unchanged, 3);
    EXPECT_TRUE(d.auditEntries().isEmpty());
}

TEST_P(BatchEditTest, AHolderChangedElsewhereIsSkippedAndNamedTheRestCommitted)
{
    ZQ_FORM_DB();
    fillCodes();
    addHolder("B01", "D2", "'2025-06-30 00:00:00'");
    addHolder("B02  ", "D2", "'2025-06-30 00:00:00'");
    addHolder("B03", "D2", "'2025-06-30 00:00:00'");
    addHolder("B04", "D2", "'2025-06-30 00:00:00'");
    addHolder("B05", "D2", "'2025-06-30 00:00:00'");
    const auto holders = listed();
    // Another workstation, after the listing was read: B02's expiry changed, B03 only its
    // name (not a field of this change), B04 deleted, B05 already the new expiry.
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute(
        "UPDATE HolderData SET ExpiredDate = '2027-01-01 00:00:00' WHERE HolderNo = 'B02  '"));
    ASSERT_TRUE(
        other->execute("UPDATE HolderData SET HolderName = 'Renamed' WHERE HolderNo = 'B03'"));
    ASSERT_TRUE(other->execute("DELETE FROM HolderData WHERE HolderNo = 'B04'"));
    ASSERT_TRUE(other->execute(
        "UPDATE HolderData SET ExpiredDate = '2026-12-31 00:00:00' WHERE HolderNo = 'B05'"));

    const BatchOutcome out = BatchWriter(&db()).apply(holders, expiryOn(QDate(2026, 12, 31)));
    EXPECT_EQ(out.end, BatchOutcome::End::Done);
    EXPECT_EQ(out.changedElsewhere, (QStringList{"B02 : Name B02", "B04 : Name B04"}));
    EXPECT_EQ(out.written, 3);
    EXPECT_EQ(value("ExpiredDate", "B02  "), "2027-01-01 00:00:00"); // the other's value kept
    EXPECT_EQ(value("ExpiredDate", "B03"), "2026-12-31 00:00:00");
    EXPECT_EQ(value("HolderName", "B03"), "Renamed");
    EXPECT_EQ(value("ExpiredDate", "B01"), "2026-12-31 00:00:00");
    EXPECT_EQ(d.auditEntries().size(), 3);
    EXPECT_FALSE(d.auditEntries().contains("BasicDataHolderI|E B02"));
    const QString summary = batchSummary(out);
    EXPECT_TRUE(summary.contains("B02 : Name B02")) << summary.toStdString();
    EXPECT_TRUE(summary.contains("B04 : Name B04")) << summary.toStdString();
}

TEST_P(BatchEditTest, ThePreviewCountsWhatWouldReallyChangeAsTheUserSeesIt)
{
    ZQ_FORM_DB();
    fillCodes();
    // A date stored by another tool with a time of day, a code with blanks after it, a NULL
    // punch card (shown as "no").
    addHolder("B01", "D2  ", "'2026-03-31 13:45:00'", 1, "'2024-05-05 00:00:00'");
    addHolder("B02", "D2", "NULL", 0);
    addHolder("B03", "D3", "'2025-01-01 00:00:00'", 1);
    exec({"UPDATE HolderData SET PunchCard = NULL WHERE HolderNo = 'B02'"});
    const auto holders = listed();

    BatchChange c;
    c.set(BatchField::Department, "D2");
    c.set(BatchField::ExpiredDate, QDate(2026, 3, 31));
    c.set(BatchField::PunchCard, 0);
    c.set(BatchField::Deposit02, QDate()); // clear
    const BatchPreview p = previewBatch(holders, c);
    EXPECT_EQ(p.holders, 3);
    EXPECT_EQ(p.changing[size_t(BatchField::Department)], 1);  // B03
    EXPECT_EQ(p.changing[size_t(BatchField::ExpiredDate)], 2); // B02, B03
    EXPECT_EQ(p.changing[size_t(BatchField::PunchCard)], 2);   // B01, B03
    EXPECT_EQ(p.changing[size_t(BatchField::Deposit02)], 1);   // B01
    EXPECT_EQ(p.changing[size_t(BatchField::Title)], 0);       // not ticked
    EXPECT_EQ(p.holdersChanging, 3);

    // What is written agrees with the preview, field by field.
    const BatchOutcome out = BatchWriter(&db()).apply(holders, c);
    EXPECT_EQ(out.written, p.holdersChanging);
    EXPECT_EQ(value("DepartmentNo", "B01"), "D2  "); // same department: left as stored
    EXPECT_EQ(value("ExpiredDate", "B01"), "2026-03-31 13:45:00");
    EXPECT_EQ(value("Deposit02", "B01"), "");
    EXPECT_EQ(value("PunchCard", "B02"), ""); // NULL already means no
    EXPECT_EQ(value("DepartmentNo", "B03"), "D2");
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL"), 3);
}

TEST_P(BatchEditTest, ACancelKeepsAWholePrefixAndSaysHowMany)
{
    ZQ_FORM_DB();
    fillCodes();
    addMany(300);
    const auto holders = listed();
    BatchWriter writer(&db());
    writer.setChunkSize(50);
    const BatchOutcome out = writer.apply(
        holders, expiryOn(QDate(2030, 1, 1)), [](int done) { return done < 120; });
    EXPECT_EQ(out.end, BatchOutcome::End::Cancelled);
    EXPECT_EQ(out.written, 120);
    EXPECT_EQ(out.notReached, 180);
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL"), 120);
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL AND HolderNo <= 'N120'"), 120);
    EXPECT_EQ(d.auditEntries().size(), 120);
    EXPECT_EQ(d.auditEntries().last(), "BasicDataHolderI|E N120");
    const QString summary = batchSummary(out);
    EXPECT_TRUE(summary.contains("BatchEditCancelled")) << summary.toStdString();
}

TEST_P(BatchEditTest, ARefusalMidwayKeepsTheCommittedTransactionsAndCountsOnlyThem)
{
    ZQ_FORM_DB();
    fillCodes();
    addMany(300);
    refuseUpdateOf("N130");
    const auto holders = listed();
    BatchWriter writer(&db());
    writer.setChunkSize(50);
    const BatchOutcome out = writer.apply(holders, expiryOn(QDate(2030, 1, 1)));
    EXPECT_EQ(out.end, BatchOutcome::End::Failed);
    // The transaction holding N130 is undone whole; the two before it stand.
    EXPECT_EQ(out.written, 100);
    EXPECT_EQ(out.notReached, 200);
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL"), 100);
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL AND HolderNo <= 'N100'"), 100);
    EXPECT_EQ(d.auditEntries().size(), 100);
    EXPECT_TRUE(db().isConnected());
}

TEST_P(BatchEditTest, ALinkLostMidwayEndsWithTheCommittedCount)
{
    ZQ_FORM_DB();
    if (GetParam() != Engine::PostgreSQL)
        GTEST_SKIP() << "an embedded database has no link to lose";
    fillCodes();
    addMany(200);
    const auto holders = listed();
    BatchWriter writer(&db());
    writer.setChunkSize(50);
    const BatchOutcome out = writer.apply(holders, expiryOn(QDate(2030, 1, 1)), [this](int done) {
        if (done == 75) {
            EXPECT_TRUE(cutLink());
        }
        return true;
    });
    EXPECT_EQ(out.end, BatchOutcome::End::Failed);
    EXPECT_EQ(out.written, 50);
    EXPECT_EQ(out.notReached, 150);
    EXPECT_TRUE(out.linkLost);
    auto other = m_db->openAnother();
    Recordset rs;
    rs.setConnection(other.get());
    rs.setStatement("SELECT COUNT(*) FROM HolderData WHERE ExpiredDate IS NOT NULL");
    rs.open();
    EXPECT_EQ(Recordset::textOf(rs.valueAt(0, 0)), "50");
    EXPECT_EQ(d.auditEntries().size(), 50);
    EXPECT_TRUE(batchSummary(out).contains("BatchEditLinkLost"));
}

TEST_P(BatchEditTest, DepartmentsOutsideTheUsersRightsCannotBeReached)
{
    ZQ_FORM_DB();
    fillCodes();
    addHolder("B01", "D2");
    addHolder("B02", "D3");
    addHolder("B03", "D3");
    const auto holders = listed();
    // Moved by another workstation into a department the operator may not see.
    auto other = m_db->openAnother();
    ASSERT_TRUE(other->execute("UPDATE HolderData SET DepartmentNo = 'D1' WHERE HolderNo = 'B03'"));

    BatchWriter writer(&db());
    writer.setRightsUser(QStringLiteral("op"));
    BatchChange toHead;
    toHead.set(BatchField::Department, "D1");
    const BatchOutcome refused = writer.apply(holders, toHead);
    EXPECT_EQ(refused.end, BatchOutcome::End::CodeGone);
    EXPECT_EQ(refused.goneField, BatchField::Department);
    EXPECT_EQ(refused.written, 0);
    EXPECT_EQ(countWhere("DepartmentNo = 'D1'"), 1);

    BatchChange c = expiryOn(QDate(2031, 1, 1));
    c.set(BatchField::Department, "D2");
    const BatchOutcome out = writer.apply(holders, c);
    EXPECT_EQ(out.end, BatchOutcome::End::Done);
    EXPECT_EQ(out.written, 2);
    EXPECT_EQ(out.changedElsewhere, QStringList{"B03 : Name B03"});
    EXPECT_EQ(value("DepartmentNo", "B03"), "D1");
    EXPECT_EQ(value("ExpiredDate", "B03"), "");
}

TEST_P(BatchEditTest, ACodeIsWrittenAsItsTableStoresIt)
{
    ZQ_FORM_DB();
    fillCodes();
    addHolder("B01", "D2");
    addHolder("B02", "D3");
    BatchChange yard;
    yard.set(BatchField::Department, "D4"); // stored as 'D4  '
    const BatchOutcome out = BatchWriter(&db()).apply(listed(), yard);
    EXPECT_EQ(out.written, 2);
    EXPECT_EQ(countWhere("DepartmentNo = 'D4  '"), 2);
    // So the department listing, which joins on the number as stored, still lists them.
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData T1, DepartmentData T2 WHERE "
                    "T1.DepartmentNo = T2.DepartmentNo AND T2.DepartmentName = 'Yard'"),
              2);
}

TEST_P(BatchEditTest, ADepartmentDeletedElsewhereStopsTheBatchBeforeItIsWritten)
{
    ZQ_FORM_DB();
    fillCodes();
    addMany(120);
    const auto holders = listed();
    BatchChange lab;
    lab.set(BatchField::Department, "D3");
    BatchWriter writer(&db());
    writer.setChunkSize(40);
    auto other = m_db->openAnother();
    // An embedded database lets no other workstation write during a transaction: there the
    // department goes while the dialog is open; a server takes the delete midway.
    const bool midway = GetParam() == Engine::PostgreSQL;
    if (!midway)
        ASSERT_TRUE(other->execute("DELETE FROM DepartmentData WHERE DepartmentNo = 'D3'"));
    const BatchOutcome out = writer.apply(holders, lab, [&](int done) {
        if (midway && done == 50) {
            EXPECT_TRUE(other->execute("DELETE FROM DepartmentData WHERE DepartmentNo = 'D3'"));
        }
        return true;
    });
    EXPECT_EQ(out.end, BatchOutcome::End::CodeGone);
    EXPECT_EQ(out.goneField, BatchField::Department);
    // The transaction in which it went is undone whole; the one before it stands.
    const int written = midway ? 40 : 0;
    EXPECT_EQ(out.written, written);
    EXPECT_EQ(out.notReached, 120 - written);
    EXPECT_EQ(countWhere("DepartmentNo = 'D3'"), written);
    EXPECT_EQ(d.auditEntries().size(), written);
}

TEST_P(BatchEditTest, AValueThatCannotBeStoredWritesNothing)
{
    ZQ_FORM_DB();
    fillCodes();
    addHolder("B01", "D2");
    addHolder("B02", "D2");
    const auto holders = listed();
    const QList<std::pair<BatchField, QVariant>> bad{
        {BatchField::ExpiredDate, QDate(1899, 12, 31)},
        {BatchField::Deposit01, QDate(2101, 1, 1)},
        {BatchField::StartDate, QDate()}, // a start date cannot be cleared
        {BatchField::Department, QString("  ")},
        {BatchField::PunchCard, 2},
    };
    for (const auto &[field, v] : bad) {
        BatchChange c = expiryOn(QDate(2030, 1, 1));
        c.set(field, v);
        const BatchOutcome out = BatchWriter(&db()).apply(holders, c);
        EXPECT_EQ(out.end, BatchOutcome::End::Invalid) << int(field);
        EXPECT_EQ(out.goneField, field);
        EXPECT_EQ(out.notReached, 2);
    }
    EXPECT_EQ(countWhere("ExpiredDate IS NOT NULL"), 0);
    EXPECT_TRUE(d.auditEntries().isEmpty());
    // The ends of the range are dates like any other.
    BatchChange edges = expiryOn(QDate(2100, 12, 31));
    edges.set(BatchField::StartDate, QDate(1900, 1, 1));
    EXPECT_EQ(BatchWriter(&db()).apply(holders, edges).written, 2);
    EXPECT_EQ(value("StartDate", "B02"), "1900-01-01 00:00:00");
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         BatchEditTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
