// The transfer format without windows: the Format panel's order, lines built and split,
// cell addresses, dates, and text files in their encodings and line ends.
#include "TransferFormat.h"
#include "TransferText.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::transfer;

TEST(FormatOrder, UncheckingEmailAndTwelveUpPressesPutThePinFirst)
{
    FormatOrder order;
    EXPECT_EQ(order.columnOrder(), "123456789ABCD");
    EXPECT_EQ(order.selected(), 0);
    order.click(2, 40); // caption: selects only
    EXPECT_EQ(order.selected(), 2);
    EXPECT_TRUE(order.isChecked(2));
    order.click(2, 10); // check-box part: toggles
    EXPECT_FALSE(order.isChecked(2));
    order.click(12, 30);
    for (int i = 0; i < 12; ++i)
        EXPECT_TRUE(order.moveUp());
    EXPECT_FALSE(order.moveUp()) << "the top row does not move";
    EXPECT_EQ(order.columnOrder(), "D12456789ABC");
    order.select(12);
    EXPECT_FALSE(order.moveDown());
    order.select(11);
    EXPECT_TRUE(order.moveDown());
    EXPECT_EQ(order.codeAt(12), u'B');
    EXPECT_EQ(order.columnOrder(), "D12456789ACB");
}

struct SplitRow
{
    const char *name;
    const char *line;
    char separator;
    int codes;
    std::vector<const char *> fields; // empty with `ignored`
    bool ignored = false;
};

class FieldsFor : public testing::TestWithParam<SplitRow>
{
};

TEST_P(FieldsFor, SplitsPadsOrIgnores)
{
    const SplitRow &row = GetParam();
    const auto fields = fieldsFor(QString::fromUtf8(row.line), QChar(row.separator), row.codes);
    if (row.ignored) {
        EXPECT_FALSE(fields.has_value());
        return;
    }
    ASSERT_TRUE(fields.has_value());
    QStringList expected;
    for (const char *f : row.fields)
        expected << QString::fromUtf8(f);
    EXPECT_EQ(*fields, expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines,
    FieldsFor,
    testing::Values(
        SplitRow{"TrailingSeparatorAddsNoField", "a,b,c,", ',', 3, {"a", "b", "c"}},
        SplitRow{"LastFieldWithoutSeparator", "a,b,c", ',', 3, {"a", "b", "c"}},
        SplitRow{"AdjacentSeparatorsGiveAnEmptyField", "a,,c,", ',', 3, {"a", "", "c"}},
        SplitRow{"FewerFieldsArePadded", "H1,", ',', 3, {"H1", "", ""}},
        SplitRow{"ACommaInAValueIsOneFieldTooMany", "H1,Lee, Ann,x,", ',', 3, {}, true},
        SplitRow{"SemicolonReadingOfACommaLine", "H1,Ann,x,", ';', 3, {"H1,Ann,x,", "", ""}},
        SplitRow{"FieldsAreTrimmed", " H1 \t; Ann ;", ';', 2, {"H1", "Ann"}},
        SplitRow{"NoColumnsTakeNoLine", "H1,", ',', 0, {}, true},
        SplitRow{"WideCharactersAreNotSplit", "陳,王,", ',', 2, {"陳", "王"}},
        SplitRow{"AQuotedValueKeepsItsSeparator", "H1,\"Lee, Ann\",", ',', 2, {"H1", "Lee, Ann"}},
        SplitRow{"DoubledQuotesReadAsOne", "\"say \"\"hi\"\"\",x", ',', 2, {"say \"hi\"", "x"}},
        SplitRow{"AQuotedValueMayEndTheLine", "x;\"a;b\"", ';', 2, {"x", "a;b"}},
        SplitRow{"QuotedLineEndsStay", "H1,\"a\r\nb\",", ',', 2, {"H1", "a\r\nb"}},
        SplitRow{"AnEmptyQuotedValue", "\"\",x,", ',', 2, {"", "x"}},
        SplitRow{
            "AQuoteNotFollowedBySeparatorIsLiteral", "\"a,b\"x,c", ',', 3, {"\"a", "b\"x", "c"}},
        SplitRow{"AQuoteThatNeverClosesIsLiteral", "\"a,b", ',', 2, {"\"a", "b"}},
        SplitRow{"AQuoteInsideAFieldIsLiteral", "a\"b,\"c\",", ',', 2, {"a\"b", "c"}},
        SplitRow{
            "TabSeparatedWithAQuotedTab", "H1\t\"a\tb\"\t\tz", '\t', 4, {"H1", "a\tb", "", "z"}}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(TransferFormat, LinesValuesAndAddresses)
{
    EXPECT_EQ(buildLine({"H1", "Ann", ""}), "H1,Ann,,");
    EXPECT_EQ(buildLine({}), "");
    // Only values that need it are quoted, so plain files stay as they always were.
    EXPECT_EQ(buildLine({"Lee, Ann", "a\nb", "\"Q\" x", "x \"Q\"", "a;b"}),
              "\"Lee, Ann\",\"a\nb\",\"\"\"Q\"\" x\",x \"Q\",a;b,");
    EXPECT_EQ(buildLine({"a;b", "c\td", "e,f"}, u';'), "\"a;b\";c\td;e,f;");
    EXPECT_EQ(buildLine({"c\td"}, u'\t'), "\"c\td\"\t");
    EXPECT_EQ(quotedField("cr\ronly"), "\"cr\ronly\"");
    for (const QString value : {"Lee, Ann", "say \"hi\"", "\"", "\"\"", "a\r\nb", "陳,王"})
        for (const QChar sep : transferSeparators())
            EXPECT_EQ(splitFields(buildLine({value, "z"}, sep), sep), (QStringList{value, "z"}))
                << value.toStdString() << " " << int(sep.unicode());
    EXPECT_EQ(stripLine("\tH1\t \r", u'\t'), "\tH1\t");
    EXPECT_EQ(stripLine("\tH1, \r", u','), "H1,");
    EXPECT_TRUE(hasControlCharacter("A\r\nB"));
    EXPECT_TRUE(hasControlCharacter(QString("A") + QChar(0) + "B"));
    EXPECT_TRUE(hasControlCharacter(QString("A") + QChar(0x85)));
    EXPECT_FALSE(hasControlCharacter("陳 007"));
    EXPECT_EQ(valueText(QString::fromUtf8(" \t\x01 Ann Lee \r\n")), "Ann Lee");
    EXPECT_EQ(valueText(QString::fromUtf8("\u3000王\u3000")), QString::fromUtf8("\u3000王\u3000"));
    const std::pair<int, const char *> names[] = {
        {0, "A"}, {25, "Z"}, {26, "AA"}, {51, "AZ"}, {52, "BA"}, {701, "ZZ"}, {702, ""}};
    for (const auto &[index, name] : names)
        EXPECT_EQ(columnName(index), QLatin1String(name)) << index;
    EXPECT_EQ(cellAddress(0, 0), "A1");
    EXPECT_EQ(cellAddress(99, 12), "M100");
}

TEST(TransferFormat, DatesKeepFourDigitYearsAndTheZeroDateStandsForEmpty)
{
    EXPECT_EQ(transferDateFormat(QLocale::c()), "yyyy-MM-dd");
    const QString us = transferDateFormat(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_TRUE(us.contains("yyyy")) << us.toStdString();
    EXPECT_FALSE(us.contains("yyyyy"));
    const QString format = "M/d/yyyy";
    EXPECT_EQ(dateText(QDateTime(QDate(2005, 3, 4), QTime(13, 0)), format), "3/4/2005");
    EXPECT_EQ(dateText(QDateTime(), format), "12/30/1899");
    EXPECT_EQ(readDate("3/4/2005", format), QDate(2005, 3, 4));
    EXPECT_FALSE(readDate("2005-03-04", format).has_value());
    EXPECT_FALSE(readDate("soon", "yyyy-MM-dd").has_value());
}

namespace {
QStringList readAll(const QString &path,
                    const QByteArray &bytes,
                    TextLineReader::Encoding *enc = nullptr,
                    int *skipped = nullptr,
                    QChar separator = u',')
{
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
    f.close();
    TextLineReader reader(path, separator);
    EXPECT_TRUE(reader.open());
    QStringList lines;
    EXPECT_TRUE(reader.forEachLine([&](const QString &line) {
        lines << line;
        return true;
    }));
    if (enc)
        *enc = reader.encoding();
    if (skipped)
        *skipped = reader.skippedLines();
    return lines;
}
} // namespace

TEST(TextFile, LineEndsEncodingsAndOverlongLines)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("h.txt");
    TextLineReader::Encoding enc;
    EXPECT_EQ(readAll(path, "a\r\nb\nc\rd", &enc), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(enc, TextLineReader::Encoding::Utf8);
    EXPECT_EQ(readAll(path, "a\r\n\r\nb\r\n"), (QStringList{"a", "", "b"}));
    EXPECT_EQ(readAll(path, "\xEF\xBB\xBFH1,\xE9\x99\xB3,\r\n"),
              (QStringList{QString::fromUtf8("H1,陳,")}));
    // Big5 from an older installation: not valid UTF-8.
    EXPECT_EQ(readAll(path, "H1,\xB3\xAF,\r\n", &enc), (QStringList{QString::fromUtf8("H1,陳,")}));
    EXPECT_EQ(enc, TextLineReader::Encoding::Big5);
    // A line that is neither is skipped, never stored with replacement characters.
    int skipped = 0;
    EXPECT_EQ(readAll(path, "H1,\xB3\xAF,\r\nH2,\xFF\xFF,\r\nH3,\r\n", &enc, &skipped),
              (QStringList{QString::fromUtf8("H1,陳,"), "H3,"}));
    EXPECT_EQ(skipped, 1);
    QByteArray huge = "H1,\n" + QByteArray(1 << 20, 'x') + "\nH2,";
    EXPECT_EQ(readAll(path, huge, nullptr, &skipped), (QStringList{"H1,", "H2,"}));
    EXPECT_EQ(skipped, 1);
}

TEST(TextFile, WriterEndsLinesWithCrLfInUtf8AndReplacesTheFileOnlyOnCommit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    {
        TextLineWriter w(path);
        ASSERT_TRUE(w.open());
        w.writeLine(QString::fromUtf8("H1,陳,"));
        EXPECT_FALSE(QFile::exists(path));
        ASSERT_TRUE(w.commit());
    }
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), QByteArray("H1,\xE9\x99\xB3,\r\n"));
    EXPECT_FALSE(TextLineWriter(dir.filePath("no/such/dir.txt")).open());
}

TEST(TextFile, QuotedValuesMaySpanLinesAndQuotesThatDoNotCloseLeaveTheirLine)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("q.txt");
    EXPECT_EQ(readAll(path, "H1,\"a\r\nb\",x,\r\nH2,\"c\nd\"\r\n"),
              (QStringList{"H1,\"a\r\nb\",x,", "H2,\"c\nd\""}));
    // Blanks after the closing quote at the end of the line are stripped like any others.
    EXPECT_EQ(readAll(path, "H1,\"a\nb\"  \nH2,"), (QStringList{"H1,\"a\nb\"  ", "H2,"}));
    // A quote that never closes, or closes followed by text, leaves its line literal and
    // the lines after it are read as lines of their own.
    EXPECT_EQ(readAll(path, "H1,\"open\r\nH2,x,\r\nH3,y,"),
              (QStringList{"H1,\"open", "H2,x,", "H3,y,"}));
    EXPECT_EQ(readAll(path, "H1,\"a\r\nb\"c,\r\nH2,"), (QStringList{"H1,\"a", "b\"c,", "H2,"}));
    // Only a quote at the start of a field opens one; the separator decides where fields start.
    EXPECT_EQ(readAll(path, "H1,x\"y\r\nH2,"), (QStringList{"H1,x\"y", "H2,"}));
    EXPECT_EQ(readAll(path, "H1;\"a\r\nb\";\r\nH2", nullptr, nullptr, u';'),
              (QStringList{"H1;\"a\r\nb\";", "H2"}));
    EXPECT_EQ(readAll(path, "H1\t\"a\r\nb\"\t\r\nH2", nullptr, nullptr, u'\t'),
              (QStringList{"H1\t\"a\r\nb\"\t", "H2"}));
    // A quote left open over more than a record may hold is read literally too.
    int skipped = 0;
    QByteArray open = "H1,\"never\n";
    for (int i = 0; i < 20000; ++i)
        open += "H,x,\n";
    const QStringList lines = readAll(path, open, nullptr, &skipped);
    ASSERT_EQ(lines.size(), 20001);
    EXPECT_EQ(lines.first(), "H1,\"never");
    EXPECT_EQ(skipped, 0);
}

TEST(TextFile, AByteOrderMarkDecidesTheEncoding)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("bom.txt");
    const QString text = QString::fromUtf8("H1,陳大文,\r\nH2,\"a,b\",\r\n");
    TextLineReader::Encoding enc;
    const QStringList expected{QString::fromUtf8("H1,陳大文,"), "H2,\"a,b\","};
    QByteArray le("\xFF\xFE");
    le.append(reinterpret_cast<const char *>(text.utf16()), text.size() * 2);
    EXPECT_EQ(readAll(path, le, &enc), expected);
    EXPECT_EQ(enc, TextLineReader::Encoding::Utf16LE);
    QByteArray be("\xFE\xFF");
    for (const QChar c : text)
        be += char(c.unicode() >> 8), be += char(c.unicode() & 0xFF);
    EXPECT_EQ(readAll(path, be, &enc), expected);
    EXPECT_EQ(enc, TextLineReader::Encoding::Utf16BE);
    // With a UTF-8 mark, a line that is not UTF-8 is skipped rather than read as Big5.
    int skipped = 0;
    EXPECT_EQ(readAll(path, "\xEF\xBB\xBFH1,\r\nH2,\xB3\xAF,\r\nH3,", &enc, &skipped),
              (QStringList{"H1,", "H3,"}));
    EXPECT_EQ(enc, TextLineReader::Encoding::Utf8);
    EXPECT_EQ(skipped, 1);
    // UTF-16 with a lone surrogate: that line only is skipped.
    QString broken = QString::fromUtf8("H1,\r\nH2,");
    broken += QChar(0xD800);
    broken += QString::fromUtf8("x,\r\nH3,");
    QByteArray bad("\xFF\xFE");
    bad.append(reinterpret_cast<const char *>(broken.utf16()), broken.size() * 2);
    EXPECT_EQ(readAll(path, bad, &enc, &skipped), (QStringList{"H1,", "H3,"}));
    EXPECT_EQ(skipped, 1);
}

TEST(TextFile, MixedLineEndsNulAndALineWithoutEnd)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("m.txt");
    EXPECT_EQ(readAll(path, QByteArray("H1,\rH2,\nH3,\r\n\nH4,\0x,\r", 20)),
              (QStringList{"H1,", "H2,", "H3,", "", QString::fromUtf8("H4,\0x,", 6)}));
    // 50 MB without a line end: skipped as one overlong line, in bounded memory.
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("H1,\n");
    const QByteArray block(1 << 20, 'x');
    for (int i = 0; i < 50; ++i)
        f.write(block);
    f.close();
    TextLineReader reader(path);
    ASSERT_TRUE(reader.open());
    QStringList lines;
    EXPECT_TRUE(reader.forEachLine([&](const QString &line) {
        lines << line;
        return true;
    }));
    EXPECT_EQ(lines, QStringList{"H1,"});
    EXPECT_EQ(reader.skippedLines(), 1);
    EXPECT_EQ(reader.position(), reader.size());
}
