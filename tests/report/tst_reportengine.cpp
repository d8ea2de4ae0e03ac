// The quick placement of report texts (straight at the baseline, shaped glyphs drawn again)
// against the reference placement by QPainter's aligned drawing: one report drawn both ways
// must give the same pixels on every page, for the shipped templates and for texts that are
// awkward to place: cut short, in a fallback font, right-aligned, centred, in a box narrower
// than a character or lower than a line, with line breaks, combining marks and emoji.
#include "ReportEngine.h"
#include "TestDatabase.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPdfWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using zq::data::Engine;
using zq::suite::renderReport;
using zq::suite::ReportRows;
using zq::suite::ReportTemplate;
using zq::suite::ReportTexts;
using zq::suite::TextPlacement;

namespace {

const char *const kList = "SELECT T2.DepartmentName, T3.TitleName, T4.TypeName, T1.* "
                          "FROM HolderData T1, DepartmentData T2, OccupationTitle T3, "
                          "OccupationType T4 WHERE T1.DepartmentNo = T2.DepartmentNo "
                          "AND T1.TitleNo = T3.TitleNo AND T1.TypeNo = T4.TypeNo "
                          "ORDER BY T1.DepartmentNo, T1.HolderNo";

// Every column kind and alignment, boxes that cut most names, one narrower than a letter.
const char *const kAwkward = R"(
[Report]
Kind = List
Margins = 10, 12, 10, 10
Font = DejaVu Sans, Noto Sans CJK TC
FontSize = 8
HeaderLeft = Awkward texts 報表 {@Page}
HeaderRight = {@Printed} and a right header long enough to be cut short at its left end
FooterLeft = ZQHolder
FooterRight = {@Page}

[List]
RowHeight = 5
GroupBy = DepartmentName
GroupText = {DepartmentName}   ({DepartmentNo})   a note after the group that is long enough to be cut short at the right end of the line
Stripe = #f1f4f8

[Column]
Caption = Number
Text = {HolderNo}
Width = 14

[Column]
Caption = Name
Text = {HolderName}
Width = 30

[Column]
Caption = Right
Text = {HolderName}
Width = 26
Align = Right

[Column]
Caption = Centred
Text = {ShowText} / {TitleName}
Width = 26
Align = Center

[Column]
Caption = Mail
Text = {Email}
Width = 30

[Column]
Caption = X
Text = {HolderName}
Width = 2.6

[Column]
Caption = Title
Text = {TitleName}
Width = 18

[Column]
Caption = Start
Text = {StartDate:date}
Width = 18
)";

// Lines lower than the font: the aligned drawing clips every text to its box.
const char *const kLow = R"(
[Report]
Kind = List
FontSize = 11
FooterRight = {@Page}
[List]
RowHeight = 2
GroupBy = DepartmentName
[Column]
Caption = Name
Text = {HolderName}
Width = 60
[Column]
Caption = Mail
Text = {Email}
Width = 40
Align = Right
)";

QStringList names()
{
    QStringList result{QStringLiteral("陳美玲"),
                       QStringLiteral("Holder O'Neil"),
                       QStringLiteral("Maximilian Featherstonehaugh-Worth"),
                       QStringLiteral("歐陽明月歐陽明月歐陽明月歐陽明月歐陽明月"),
                       QStringLiteral("Anna 李 Lindqvist"),
                       QStringLiteral("Line\nbreak"),
                       QStringLiteral("Ame\u0301lie Poulain"),
                       QStringLiteral("Joy \U0001F600 Smile"),
                       QStringLiteral("Tab\there"),
                       QStringLiteral("Ωμέγα Ёжик"),
                       QStringLiteral("fi fl ffi AVAWAY To.Ta"),
                       // Pairs that kern across the Latin, Greek, Cyrillic and Armenian
                       // letters, and marks of punctuation outside them.
                       QStringLiteral("Ærøskøbing Œuvre ǅ ǈ Ŵŷ"),
                       QStringLiteral("Αθήνα Ύψος Ӂ ћ Հայաստան"),
                       QStringLiteral("Dots… ‘quotes’ „here“ l·l"),
                       QStringLiteral("Wide"),
                       QStringLiteral("x")};
    // Names that grow a letter at a time cross each box's width somewhere: the texts right
    // at the edge are measured rather than estimated.
    for (int length = 6; length <= 32; length += 2)
        result << QString(length, QLatin1Char(length % 4 ? 'W' : 'i')) + QStringLiteral("ab");
    return result;
}

// A text drawn from pieces of every kind the quick placement must either place exactly or
// leave to the aligned drawing: Latin words with ligatures and kerning, Greek, Cyrillic, CJK,
// soft hyphens and other format characters, combining marks, tabs and blanks.
QString randomText(QRandomGenerator &random)
{
    static const QStringList words{QStringLiteral("office"),
                                   QStringLiteral("affine"),
                                   QStringLiteral("waffle"),
                                   QStringLiteral("fjord"),
                                   QStringLiteral("AVAWAY"),
                                   QStringLiteral("To.Ta"),
                                   QStringLiteral("Holder"),
                                   QStringLiteral("Ærøskøbing"),
                                   QStringLiteral("Αθήνα"),
                                   QStringLiteral("Ύψος"),
                                   QStringLiteral("Ёжик"),
                                   QStringLiteral("Жанна"),
                                   QStringLiteral("陳美玲"),
                                   QStringLiteral("研發部"),
                                   QStringLiteral("x"),
                                   QStringLiteral("1234567"),
                                   QStringLiteral("mail@example.com"),
                                   QStringLiteral("W")};
    static const QList<char16_t> inserts{0x00AD,
                                         0x00AD,
                                         0x200B,
                                         0x200C,
                                         0x200D,
                                         0x200E,
                                         0x2060,
                                         0xFEFF,
                                         0x0301,
                                         0x0308,
                                         0x0327,
                                         u'\t'};
    QString text;
    const int count = 1 + int(random.bounded(6));
    for (int i = 0; i < count; ++i) {
        QString word = words.at(random.bounded(words.size()));
        // Now and then a format character, a mark or a tab inside the word.
        if (random.bounded(3) == 0) {
            const int at = int(random.bounded(word.size() + 1));
            word.insert(at, QChar(inserts.at(random.bounded(inserts.size()))));
        }
        if (!text.isEmpty())
            text += random.bounded(8) == 0 ? QStringLiteral("\u00AD") : QStringLiteral(" ");
        text += word;
    }
    return text;
}

class ReportPlacementTest : public testing::TestWithParam<Engine>
{
protected:
    void SetUp() override
    {
        m_db = std::make_unique<zq::test::TestDatabase>(GetParam());
        if (!m_db->isAvailable()) {
            if (zq::test::postgresRequired())
                FAIL() << m_db->skipReason().toStdString();
            GTEST_SKIP() << m_db->skipReason().toStdString();
        }
        m_pdftoppm = QStandardPaths::findExecutable(QStringLiteral("pdftoppm"));
        if (m_pdftoppm.isEmpty()) {
            if (zq::test::postgresRequired())
                FAIL() << "pdftoppm (poppler-utils) is not installed";
            GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
        }
        fill();
    }

    void run(const QString &statement, const QVariantList &values)
    {
        QSqlQuery q(m_db->connection().database());
        ASSERT_TRUE(q.prepare(statement)) << q.lastError().text().toStdString();
        for (const QVariant &value : values)
            q.addBindValue(value);
        ASSERT_TRUE(q.exec()) << q.lastError().text().toStdString();
    }

    void fill()
    {
        const QString department = QStringLiteral(
            "INSERT INTO DepartmentData (DepartmentNo, DepartmentName) VALUES (?, ?)");
        run(department, {"D1", QStringLiteral("研發部")});
        run(department, {"D2", QStringLiteral("Sales & 'East'")});
        run(department, {"D3", QStringLiteral("Quality Assurance")});
        const QString title = QStringLiteral(
            "INSERT INTO OccupationTitle (TitleNo, TitleName) VALUES (?, ?)");
        run(title, {"T1", QStringLiteral("工程師")});
        run(title, {"T2", QStringLiteral("Clerk")});
        run(title, {"T3", QStringLiteral("Senior principal eng")});
        run(QStringLiteral("INSERT INTO OccupationType (TypeNo, TypeName) VALUES ('Y1', 'Staff')"),
            {});
        const QStringList all = names();
        for (int i = 0; i < 150; ++i) {
            run(QStringLiteral(
                    "INSERT INTO HolderData (HolderNo, HolderName, ShowText, DepartmentNo, "
                    "TitleNo, TypeNo, Email, StartDate) VALUES (?, ?, ?, ?, ?, 'Y1', ?, ?)"),
                {QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0')),
                 QStringLiteral("%1 %2").arg(all.at(i % all.size())).arg(i),
                 i % 5 == 0 ? QVariant(QString()) : QVariant(QStringLiteral("HN%1").arg(i)),
                 QStringLiteral("D%1").arg(1 + i % 3),
                 QStringLiteral("T%1").arg(1 + i % 3),
                 i % 7 == 0 ? QVariant()
                            : QVariant(QStringLiteral("holder%1@example.com").arg(i * 997)),
                 i % 4 == 0 ? QVariant()
                            : QVariant(QStringLiteral("2024-0%1-01 00:00:00").arg(1 + i % 9))});
        }
    }

    static ReportTexts fixedTexts()
    {
        ReportTexts texts;
        texts.printedAt = QDateTime(QDate(2026, 3, 4), QTime(5, 6));
        texts.language = [](const QString &key) { return key; };
        return texts;
    }

    // The report as a PDF; `result` and `statements` (how often it ran) when asked for.
    QByteArray render(const ReportTemplate &layout,
                      const QString &statement,
                      TextPlacement placement,
                      const ReportTexts &texts = fixedTexts(),
                      zq::suite::ReportResult *result = nullptr,
                      int *statements = nullptr)
    {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QPdfWriter writer(&buffer);
        writer.setResolution(600);
        zq::data::Connection &connection = m_db->connection();
        int runs = 0;
        const auto rows = [&connection, statement, &runs] {
            ++runs;
            return std::make_unique<ReportRows>(connection, statement);
        };
        const zq::suite::ReportResult done = renderReport(writer, layout, rows, texts, placement);
        EXPECT_TRUE(done.ok) << done.error.toStdString();
        EXPECT_GT(done.pages, 0);
        if (result)
            *result = done;
        if (statements)
            *statements = runs;
        return data;
    }

    // The first pages of `pdf` at 150 dpi (card sheets repeat themselves after a few).
    QList<QImage> pages(const QByteArray &pdf, const QString &name)
    {
        const QString file = m_dir.filePath(name + QStringLiteral(".pdf"));
        QFile out(file);
        EXPECT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(pdf);
        out.close();
        QProcess process;
        process.start(m_pdftoppm,
                      {QStringLiteral("-r"),
                       QStringLiteral("150"),
                       QStringLiteral("-l"),
                       QStringLiteral("6"),
                       QStringLiteral("-png"),
                       file,
                       m_dir.filePath(name)});
        EXPECT_TRUE(process.waitForFinished(120000));
        EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
        QList<QImage> result;
        const QStringList files = QDir(m_dir.path())
                                      .entryList({name + QStringLiteral("-*.png")},
                                                 QDir::Files,
                                                 QDir::Name);
        for (const QString &page : files)
            result << QImage(m_dir.filePath(page)).convertToFormat(QImage::Format_RGB32);
        return result;
    }

    void compare(const ReportTemplate &layout, const QString &statement, const char *name)
    {
        SCOPED_TRACE(name);
        const QString quickName = QStringLiteral("%1-quick").arg(QLatin1String(name));
        const QList<QImage> quick = pages(render(layout, statement, TextPlacement::Quick),
                                          quickName);
        const QList<QImage> reference = pages(
            render(layout, statement, TextPlacement::Reference),
            QStringLiteral("%1-reference").arg(QLatin1String(name)));
        samePixels(quick, reference);
    }

    static void samePixels(const QList<QImage> &quick, const QList<QImage> &reference)
    {
        ASSERT_FALSE(reference.isEmpty());
        ASSERT_EQ(quick.size(), reference.size());
        for (qsizetype page = 0; page < quick.size(); ++page) {
            const QImage &a = quick.at(page);
            const QImage &b = reference.at(page);
            ASSERT_EQ(a.size(), b.size());
            int differing = 0;
            for (int y = 0; y < a.height(); ++y) {
                const auto *left = reinterpret_cast<const QRgb *>(a.constScanLine(y));
                const auto *right = reinterpret_cast<const QRgb *>(b.constScanLine(y));
                for (int x = 0; x < a.width(); ++x)
                    differing += left[x] != right[x];
            }
            EXPECT_EQ(differing, 0) << "page " << page + 1;
        }
    }

    static ReportTemplate parsed(const char *text)
    {
        QString error;
        const auto layout = zq::suite::parseReportTemplate(QString::fromUtf8(text), error);
        EXPECT_TRUE(layout) << error.toStdString();
        return layout.value_or(ReportTemplate());
    }

    std::unique_ptr<zq::test::TestDatabase> m_db;
    QString m_pdftoppm;
    QTemporaryDir m_dir;
};

// The rows a report reads (straight from the engine where it can) are the driver's rows.
TEST_P(ReportPlacementTest, RowsReadAsTheDriverReadsThem)
{
    run(QStringLiteral("UPDATE HolderData SET Photo = ?, Description = '', SequenceNo = 7 "
                       "WHERE HolderNo = 'H0003'"),
        {QByteArray("\x00\xff picture", 12)});
    run(QStringLiteral("UPDATE HolderData SET ShowText = NULL, Description = '  blanks  ' "
                       "WHERE HolderNo = 'H0004'"),
        {});
    // Read whole first: one connection runs one forward-only statement at a time.
    QSqlQuery driver(m_db->connection().database());
    driver.setForwardOnly(true);
    ASSERT_TRUE(driver.exec(QString::fromLatin1(kList)));
    const QSqlRecord record = driver.record();
    QList<QVariantList> expected;
    while (driver.next()) {
        QVariantList row;
        for (int column = 0; column < record.count(); ++column)
            row << driver.value(column);
        expected << row;
    }
    driver.finish();
    ASSERT_EQ(expected.size(), 150);

    ReportRows rows(m_db->connection(), QString::fromLatin1(kList));
    ASSERT_TRUE(rows.isOpen()) << rows.error().toStdString();
    for (int column = 0; column < record.count(); ++column)
        EXPECT_EQ(rows.indexOf(record.fieldName(column)), column)
            << record.fieldName(column).toStdString();
    for (qsizetype count = 0; count < expected.size(); ++count) {
        ASSERT_TRUE(rows.next()) << "row " << count;
        for (int column = 0; column < record.count(); ++column) {
            const QVariant &want = expected.at(count).at(column);
            const QVariant got = rows.value(column);
            EXPECT_EQ(got.isNull(), want.isNull()) << "row " << count << " column " << column;
            EXPECT_EQ(got.metaType(), want.metaType()) << "row " << count << " column " << column;
            EXPECT_EQ(got, want) << "row " << count << " column " << column;
            EXPECT_EQ(zq::suite::reportText(got), zq::suite::reportText(want));
        }
    }
    EXPECT_FALSE(rows.next());
}

TEST_P(ReportPlacementTest, AwkwardTextsLandWhereTheAlignedDrawingPutsThem)
{
    compare(parsed(kAwkward), QString::fromLatin1(kList), "awkward");
}

TEST_P(ReportPlacementTest, TextsInLinesLowerThanTheFontAreClippedAsBefore)
{
    compare(parsed(kLow), QString::fromLatin1(kList), "low");
}

TEST_P(ReportPlacementTest, ShippedTemplatesDrawTheSamePages)
{
    for (const char *name : {"HolderData.frf", "HolderCardLabelV.frf", "HolderCardLabelH.frf"}) {
        QString error;
        const auto layout = zq::suite::loadReportTemplate(
            QStringLiteral(ZQ_REPORT_TEMPLATES), QString::fromLatin1(name), error);
        ASSERT_TRUE(layout) << error.toStdString();
        compare(*layout, QString::fromLatin1(kList), name);
    }
}

// Names, numbers and e-mails that end right at their column's edge, as a site of a million
// holders has them ("Holder name 100000", "holder100000@example.com"): where the characters'
// advances leave in doubt which character the cut falls before, the cut is found from their
// shapes, and it comes out where the aligned drawing cuts.
TEST_P(ReportPlacementTest, TextsEndingAtTheirColumnsEdgeAreCutAsTheAlignedDrawingCutsThem)
{
    const QString tails = QStringLiteral("0123456789il.WmAVf");
    for (int i = 0; i < 150; ++i) {
        const QString digits = QString::number(100000 + i * 7);
        const QString tail = QString(tails.at(i % tails.size()))
                             + tails.at((i / tails.size()) % tails.size());
        run(QStringLiteral("UPDATE HolderData SET HolderName = ?, Email = ?, ShowText = ? "
                           "WHERE HolderNo = ?"),
            {i % 2 ? QStringLiteral("Holder name ") + digits
                   : QStringLiteral("Holder name ") + digits.left(i % 5) + tail + tail,
             i % 3 ? QStringLiteral("holder%1@example.com").arg(digits)
                   : QStringLiteral("holder%1%2@example.com").arg(digits.left(i % 7), tail),
             QStringLiteral("HN") + digits + tail.left(i % 2),
             QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0'))});
    }
    QString error;
    const auto layout = zq::suite::loadReportTemplate(
        QStringLiteral(ZQ_REPORT_TEMPLATES), QStringLiteral("HolderData.frf"), error);
    ASSERT_TRUE(layout) << error.toStdString();
    compare(*layout, QString::fromLatin1(kList), "edge");
}

// Random texts of every script and kind in every column kind: the quick placement draws
// exactly the pixels of the aligned drawing, a text with soft hyphens or ligatures included.
TEST_P(ReportPlacementTest, RandomTextsLandWhereTheAlignedDrawingPutsThem)
{
    QRandomGenerator random(20261209);
    for (int i = 0; i < 150; ++i)
        run(QStringLiteral("UPDATE HolderData SET HolderName = ?, Email = ?, ShowText = ? "
                           "WHERE HolderNo = ?"),
            {randomText(random).left(40),
             randomText(random).left(40),
             randomText(random).left(16),
             QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0'))});
    compare(parsed(kAwkward), QString::fromLatin1(kList), "random");
    compare(parsed(kLow), QString::fromLatin1(kList), "random-low");
}

// A list counted for its page total keeps its rows from the counting pass and runs its
// statement once; its pages are those the same list prints read straight from the statement
// (no total to count, the same footer text). A text that changes with the page cannot be
// kept: such a list, and a card sheet, run the statement again.
TEST_P(ReportPlacementTest, ListsCountedForTheirTotalPrintTheRowsTheStatementGaveOnce)
{
    struct Case
    {
        const char *name;
        const char *layout;
        const char *columnText; // replaces the first column's text when set
        int statements;
    };
    const Case cases[] = {
        {"awkward", kAwkward, nullptr, 1},
        {"low", kLow, nullptr, 1},
        {"page in a cell", kAwkward, "{HolderNo} {@Page}", 2},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ReportTemplate counted = parsed(c.layout);
        if (c.columnText)
            counted.columns.front().text = QString::fromUtf8(c.columnText);
        counted.pageTotal = true;
        zq::suite::ReportResult total;
        int statements = 0;
        const QByteArray once = render(counted,
                                       QString::fromLatin1(kList),
                                       TextPlacement::Quick,
                                       fixedTexts(),
                                       &total,
                                       &statements);
        EXPECT_EQ(statements, c.statements);
        EXPECT_EQ(total.rows, 150);
        ASSERT_GE(total.pages, 2);

        ReportTemplate straight = counted;
        straight.pageTotal = false;
        ReportTexts texts = fixedTexts();
        texts.pageNumberLabel = QStringLiteral("Page %1 of ") + QString::number(total.pages);
        zq::suite::ReportResult read;
        const QByteArray direct = render(
            straight, QString::fromLatin1(kList), TextPlacement::Quick, texts, &read, &statements);
        EXPECT_EQ(statements, 1);
        EXPECT_EQ(read.rows, total.rows);
        EXPECT_EQ(read.pages, total.pages);
        const QString name = QString::fromLatin1(c.name).replace(QLatin1Char(' '),
                                                                 QLatin1Char('-'));
        samePixels(pages(once, name + QStringLiteral("-once")),
                   pages(direct, name + QStringLiteral("-direct")));
    }
}

// The card sheets read their pictures from the statement, which the counting pass does not
// keep: they run it twice as before.
TEST_P(ReportPlacementTest, CardSheetsCountedForTheirTotalRunTheStatementAgain)
{
    QString error;
    const auto layout = zq::suite::loadReportTemplate(
        QStringLiteral(ZQ_REPORT_TEMPLATES), QStringLiteral("HolderCardLabelV.frf"), error);
    ASSERT_TRUE(layout) << error.toStdString();
    ASSERT_TRUE(layout->pageTotal);
    zq::suite::ReportResult result;
    int statements = 0;
    render(*layout,
           QString::fromLatin1(kList),
           TextPlacement::Quick,
           fixedTexts(),
           &result,
           &statements);
    EXPECT_EQ(statements, 2);
    EXPECT_EQ(result.rows, 150);
}

INSTANTIATE_TEST_SUITE_P(Engines,
                         ReportPlacementTest,
                         testing::Values(Engine::SQLite, Engine::PostgreSQL),
                         zq::test::engineName);

} // namespace
