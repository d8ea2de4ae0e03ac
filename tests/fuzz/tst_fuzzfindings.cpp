// What the inputs of past findings must give, beyond not crashing: the outcome a user sees.
#include "PictureCodec.h"
#include "ReportTemplate.h"
#include "WorkbookReader.h"

#include <QDir>
#include <QGuiApplication>

#include <gtest/gtest.h>

namespace {

QString corpusFile(const char *target, const char *name)
{
    return QDir(QStringLiteral(ZQ_FUZZ_CORPUS))
        .filePath(QLatin1String(target) + u'/' + QLatin1String(name));
}

const char kCard[] = "[Report]\nKind = Cards\n"
                     "[Card]\nWidth = 85\nHeight = 54\n"
                     "[Item]\nType = Text\nText = x\nRect = 1, 2, 30, 5\nSize = 8\n";

struct NumberCase
{
    const char *name;
    const char *from; // a line of kCard or of the list template
    const char *to;
    int line;
};

class NonFiniteNumbers : public testing::TestWithParam<NumberCase>
{
};

// A number field that reads as NaN passed every range check, and the renderer turned it
// into whole pixels; infinities are refused like any number out of range.
TEST_P(NonFiniteNumbers, AreRefusedWithTheirLine)
{
    const NumberCase &c = GetParam();
    const QString list = QStringLiteral("[Report]\nFontSize = 8\nMargins = 10, 10, 10, 10\n"
                                        "[List]\nRowHeight = 5\n[Column]\nText = x\nWidth = 20\n");
    QString text = QString::fromLatin1(kCard).contains(QLatin1String(c.from))
                       ? QString::fromLatin1(kCard)
                       : list;
    ASSERT_TRUE(text.contains(QLatin1String(c.from))) << c.from;
    QString error;
    ASSERT_TRUE(zq::suite::parseReportTemplate(text, error)) << error.toStdString();
    text.replace(QLatin1String(c.from), QLatin1String(c.to));
    EXPECT_FALSE(zq::suite::parseReportTemplate(text, error)) << c.to;
    EXPECT_TRUE(error.startsWith(QStringLiteral("line %1: a number from").arg(c.line)))
        << error.toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Template,
    NonFiniteNumbers,
    testing::Values(NumberCase{"FontSize", "FontSize = 8", "FontSize = nan", 2},
                    NumberCase{"FontSizeUpper", "FontSize = 8", "FontSize = NaN", 2},
                    NumberCase{
                        "Margin", "Margins = 10, 10, 10, 10", "Margins = 10, nan, 10, 10", 3},
                    NumberCase{"RowHeight", "RowHeight = 5", "RowHeight = -nan", 5},
                    NumberCase{"ColumnWidth", "Width = 20", "Width = inf", 8},
                    NumberCase{"CardWidth", "Width = 85", "Width = +inf", 4},
                    NumberCase{"CardHeight", "Height = 54", "Height = -inf", 5},
                    NumberCase{"ItemRect", "Rect = 1, 2, 30, 5", "Rect = 1, 2, nan, 5", 9},
                    NumberCase{"ItemSize", "Size = 8", "Size = nan", 10}),
    [](const testing::TestParamInfo<NumberCase> &info) { return std::string(info.param.name); });

TEST(Findings, TheNanTemplateOfTheCorpusIsRefusedAtItsLine)
{
    QFile file(corpusFile("report_template", "finding-nan-font-size.frf"));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QString error;
    EXPECT_FALSE(zq::suite::parseReportTemplate(QString::fromUtf8(file.readAll()), error));
    EXPECT_EQ(error, QStringLiteral("line 9: a number from 4 to 72 is expected"));
}

// The directory of the icon says 16 x 16; the PNG stored behind it is 12000 x 5000. Qt
// decoded all of it before the old check, and the refusal then blamed the JPEG conversion.
TEST(Findings, AnIconIsMeasuredByItsStoredPicture)
{
    const zq::platform::PictureResult lying = zq::platform::pictureForFile(
        corpusFile("picture", "finding-lying-png-size.ico"));
    EXPECT_FALSE(lying.ok);
    EXPECT_TRUE(lying.error.contains(QLatin1String("12000 x 5000 pixels is too large")))
        << lying.error.toStdString();

    const zq::platform::PictureResult png = zq::platform::pictureForFile(
        corpusFile("picture", "seed-png.ico"));
    ASSERT_TRUE(png.ok) << png.error.toStdString();
    EXPECT_EQ(png.image.size(), QSize(12, 10));
    const zq::platform::PictureResult bitmap = zq::platform::pictureForFile(
        corpusFile("picture", "seed-alpha.ico"));
    ASSERT_TRUE(bitmap.ok) << bitmap.error.toStdString();
    EXPECT_EQ(bitmap.image.size(), QSize(16, 16));
}

// The legacy workbook library hands iconv a length past its stack buffer on this 1 KB file.
// However the library copes, the reader ends with a refusal that names its reason.
TEST(Findings, TheCraftedLegacyWorkbookIsRefused)
{
    zq::platform::WorkbookReader book;
    EXPECT_FALSE(book.open(corpusFile("xls", "finding-freexl-iconv-overread.xls")));
    EXPECT_FALSE(book.errorText().isEmpty());
    EXPECT_EQ(book.usedRowCount(), 0);
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
