// Worksheets as other programs write them, and as no program should: each sheet is read row
// by row, its rows and cells (or its error) compared with what the reader has always made of
// them.
#include "WorkbookFiles.h"
#include "WorkbookReader.h"

#include <QStringEncoder>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace zq::platform;
using namespace zq::test;

namespace {

const QByteArray kStyles
    = "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
      "<numFmts count=\"2\"><numFmt numFmtId=\"164\" formatCode=\"yyyy\\-mm\\-dd\"/>"
      "<numFmt numFmtId=\"165\" formatCode=\"[h]:mm\"/></numFmts>"
      "<cellXfs count=\"5\"><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"165\"/>"
      "<xf numFmtId=\"14\"/><xf numFmtId=\"2\"/></cellXfs></styleSheet>";

const QByteArray kStrings = sharedStringsXml(
    "<si><t>plain</t></si>"
    "<si><r><rPr><b/></rPr><t>bold</t></r><r><t xml:space=\"preserve\"> and not</t></r></si>"
    "<si><t>kan</t><rPh sb=\"0\" eb=\"1\"><t>ka</t></rPh><phoneticPr fontId=\"1\"/></si>"
    "<si><t/></si>"
    "<si><t>a,b \"q\"</t></si>");

struct Row
{
    int number;
    QStringList cells;
};

struct Sheet
{
    const char *name;
    QByteArray rows; // inside sheetData, unless `whole` is set
    QList<Row> expected;
    const char *error = ""; // a part of the message that ends the reading, "" for none
    QByteArray whole = {};  // the whole sheet part
};

QString textOf(const char16_t *text)
{
    return QString::fromUtf16(text);
}

QByteArray inlineCell(const QByteArray &ref, const QByteArray &text)
{
    return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

class SheetXml : public testing::TestWithParam<Sheet>
{
};

} // namespace

TEST_P(SheetXml, ReadsAsItAlwaysHas)
{
    const Sheet &s = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath("sheet.xlsx");
    ASSERT_TRUE(
        writeZip(path,
                 {{"xl/workbook.xml", kWorkbookXml},
                  {"xl/worksheets/sheet1.xml", s.whole.isEmpty() ? sheetXml(s.rows) : s.whole},
                  {"xl/sharedStrings.xml", kStrings},
                  {"xl/styles.xml", kStyles}}));
    // A fault may be found on opening or on reading the row that holds it: the rows before
    // it come, and the reading ends with its message either way.
    WorkbookReader book;
    QList<Row> rows;
    int number = -1;
    QStringList cells;
    if (book.open(path)) {
        while (book.nextRow(number, cells))
            rows.append({number, cells});
    }
    ASSERT_EQ(rows.size(), s.expected.size()) << book.errorText().toStdString();
    for (qsizetype i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows.at(i).number, s.expected.at(i).number) << "row " << i;
        EXPECT_EQ(rows.at(i).cells, s.expected.at(i).cells) << "row " << i;
    }
    if (*s.error == 0)
        EXPECT_EQ(book.errorText(), "");
    else
        EXPECT_TRUE(book.errorText().contains(QLatin1String(s.error)))
            << book.errorText().toStdString();
}

INSTANTIATE_TEST_SUITE_P(
    Awkward,
    SheetXml,
    testing::Values(
        Sheet{"shared_rich_and_phonetic_strings",
              "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
              "<c r=\"C1\" t=\"s\"><v> 2 </v></c><c r=\"D1\" t=\"s\"><v>3</v></c>"
              "<c r=\"E1\" t=\"s\"><v>4</v></c><c r=\"F1\" t=\"s\"><v>99</v></c>"
              "<c r=\"G1\" t=\"s\"><v>x</v></c><c r=\"H1\" t=\"s\"><v>-1</v></c></row>",
              {{0, {"plain", "bold and not", "kan", "", "a,b \"q\""}}}},
        Sheet{"inline_runs_whitespace_and_phonetics",
              "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is>\n  <r><rPr><i/></rPr><t>x</t></r>\n"
              "  <r><t xml:space=\"preserve\"> y </t></r></is></c>"
              "<c r=\"B1\" t=\"inlineStr\"><is><t>kan</t><rPh><t>ka</t></rPh></is></c>"
              "<c r=\"C1\"><is><t>no type</t></is></c>"
              "<c r=\"D1\" t=\"inlineStr\"><v>only v</v></c>"
              "<c r=\"E1\" t=\"inlineStr\"><is><t>first</t></is><is><t>last</t></is></c></row>",
              {{0, {"\n  x\n   y ", "kan", "no type", "", "last"}}}},
        Sheet{"numbers_booleans_errors_and_formulas",
              "<row r=\"1\"><c r=\"A1\"><v>3.0</v></c><c r=\"B1\"><v>1e3</v></c>"
              "<c r=\"C1\"><v>0.1</v></c><c r=\"D1\"><v> 12 </v></c><c r=\"E1\"><v>abc</v></c>"
              "<c r=\"F1\"><v></v></c><c r=\"G1\" t=\"n\"><v>-2.50</v></c>"
              "<c r=\"H1\" t=\"b\"><v>1</v></c><c r=\"I1\" t=\"b\"><v> 1 </v></c>"
              "<c r=\"J1\" t=\"b\"><v>0</v></c><c r=\"K1\" t=\"b\"><v>true</v></c>"
              "<c r=\"L1\" t=\"e\"><v>#DIV/0!</v></c><c r=\"M1\"><f>1+1</f><v>2</v></c>"
              "<c r=\"N1\" t=\"str\"><f>A1&amp;\"\"</f><v>3</v></c>"
              "<c r=\"O1\"><v>1</v><v>2</v></c><c r=\"P1\"><v>123456789012345678</v></c></row>",
              {{0,
                {"3",
                 "1000",
                 "0.1",
                 "12",
                 "abc",
                 "",
                 "-2.5",
                 "TRUE",
                 "TRUE",
                 "FALSE",
                 "FALSE",
                 "#DIV/0!",
                 "2",
                 "3",
                 "2",
                 "1.23456789012346e+17"}}}},
        Sheet{
            "dates_times_and_styles",
            "<row r=\"1\"><c r=\"A1\" s=\"1\"><v>38415</v></c><c r=\"B1\" s=\"2\"><v>0.75</v></c>"
            "<c r=\"C1\" s=\"3\"><v>36525.5</v></c><c r=\"D1\" s=\"4\"><v>38415</v></c>"
            "<c r=\"E1\" s=\"9\"><v>38415</v></c><c r=\"F1\" s=\" 1 \"><v>38415</v></c>"
            "<c r=\"G1\" t=\"d\"><v>2024-02-29T10:00:00</v></c><c r=\"H1\" t=\"d\"><v>soon</v></c>"
            "<c r=\"I1\" s=\"1\"><v>day</v></c><c r=\"J1\" s=\"x\"><v>5</v></c></row>",
            {{0,
              {"2005-03-04",
               "18:00:00",
               "1999-12-31 12:00:00",
               "38415",
               "38415",
               "2005-03-04",
               "2024-02-29",
               "soon",
               "day",
               "5"}}}},
        Sheet{
            "sparse_rows_and_missing_references",
            "<row r=\"2\"><c r=\"C2\"><v>1</v></c><c><v>2</v></c><c r=\"f2\"><v>3</v></c></row>"
            "<row r=\"3\"/><row r=\"4\"><c r=\"A4\"/><c r=\"B4\" t=\"inlineStr\"><is><t/></is></c>"
            "</row><row><c><v>5</v></c></row><row r=\"9\"><c r=\"B\"><v>6</v></c></row>"
            "<row spans=\"1:3\"><c r=\"C10\"><v>7</v></c><c r=\"A10\"><v>8</v></c></row>",
            {{1, {"", "", "1", "2", "", "3"}}, {4, {"5"}}, {8, {"", "6"}}, {9, {"8", "", "7"}}}},
        Sheet{"cells_inside_other_elements",
              "<row r=\"1\"><extLst><c r=\"B1\"><v>1</v></c></extLst>"
              "<c r=\"C1\"><extLst><v>2</v></extLst></c>"
              "<c r=\"D1\"><f><v>3</v></f></c></row>",
              {{0, {"", "1", "2", "3"}}}},
        Sheet{"markup_of_all_kinds",
              "<!-- before --><row r=\"1\"><?pi data?><c r=\"A1\" t=\"inlineStr\"><is><t>"
              "<![CDATA[a<b]]>&amp;&#x41;&#66;&lt;&gt;&quot;&apos;</t></is></c>"
              "<c r='B1' t='inlineStr'><is><t>one\r\ntwo\rthree</t></is></c>"
              "<c t=\"inlineStr\" r=\"&#67;1\"><is><t xml:space=\"preserve\">  </t></is></c>"
              "<c r=\"D1\" t=\"inlineStr\"><is><t>_x000D__x005F_x0041_</t></is></c></row>",
              {{0, {"a<b&AB<>\"'", "one\ntwo\nthree", "  ", "\r_x0041_"}}}},
        Sheet{"namespace_prefixes",
              {},
              {{0, {"p", "q"}}},
              "",
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?><x:worksheet xmlns:x=\"http://"
              "schemas.openxmlformats.org/spreadsheetml/2006/main\"><x:sheetData><x:row r=\"1\">"
              "<x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>p</x:t></x:is></x:c><c r=\"B1\" "
              "t=\"inlineStr\"><is><t>q</t></is></c></x:row></x:sheetData></x:worksheet>"},
        Sheet{"byte_order_mark_and_chinese",
              {},
              {{0, {textOf(u"陳大文"), "x"}}},
              "",
              "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
                  + sheetXml("<row r=\"1\">" + inlineCell("A1", "陳大文") + inlineCell("B1", "x")
                             + "</row>")},
        Sheet{"utf16_sheet",
              {},
              {{0, {textOf(u"陳"), "y"}}},
              "",
              [] {
                  const QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-16\"?>")
                                      + QString::fromUtf8(
                                          sheetXml("<row r=\"1\">" + inlineCell("A1", "陳")
                                                   + inlineCell("B1", "y") + "</row>"));
                  QStringEncoder encoder(QStringEncoder::Utf16LE, QStringEncoder::Flag::WriteBom);
                  return QByteArray(encoder(xml));
              }()},
        Sheet{"no_sheet_data",
              {},
              {},
              "",
              "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
              "<dimension ref=\"A1\"/></worksheet>"},
        Sheet{"nothing_read_after_the_sheet_data",
              {},
              {{0, {"1"}}},
              "",
              "<worksheet><sheetData><row><c><v>1</v></c></row></sheetData><broken></worksheet>"},
        Sheet{"mismatched_tag_after_a_row",
              "<row r=\"1\"><c><v>1</v></c></row><row r=\"2\"><c><v>2</v></row>",
              {{0, {"1"}}},
              "sheet1.xml"},
        Sheet{"undefined_entity",
              "<row r=\"1\"><c><v>1</v></c></row><row r=\"2\"><c t=\"inlineStr\"><is><t>&nbsp;"
              "</t></is></c></row>",
              {{0, {"1"}}},
              "sheet1.xml"},
        Sheet{"undeclared_prefix", "<row r=\"1\"><y:c><v>1</v></y:c></row>", {}, "sheet1.xml"},
        Sheet{"character_xml_refuses",
              "<row r=\"1\"><c t=\"inlineStr\"><is><t>bell &#7;</t></is></c></row>",
              {},
              "sheet1.xml"},
        Sheet{"broken_utf8",
              "<row r=\"1\"><c t=\"inlineStr\"><is><t>\xC3\x28</t></is></c></row>",
              {},
              "sheet1.xml"},
        Sheet{"cut_off_inside_a_tag",
              {},
              {{0, {"1"}}},
              "ends in the middle",
              "<worksheet><sheetData><row r=\"1\"><c><v>1</v></c></row><row r=\"2\"><c r=\"A"},
        Sheet{"row_number_zero",
              "<row r=\"1\"><c><v>1</v></c></row><row r=\"0\"><c><v>2</v></c></row>",
              {{0, {"1"}}},
              "malformed number \"0\""},
        Sheet{"row_number_with_a_sign",
              "<row r=\"+2\"><c><v>1</v></c></row>",
              {},
              "malformed number \"+2\""},
        Sheet{"reference_without_column",
              "<row r=\"1\"><c r=\"12\"><v>1</v></c></row>",
              {},
              "malformed reference \"12\""},
        Sheet{"rows_numbered_down",
              "<row r=\"3\"><c><v>1</v></c></row><row><c><v>2</v></c></row>"
              "<row r=\"4\"><c><v>3</v></c></row>",
              {{2, {"1"}}, {3, {"2"}}},
              "out of order"},
        Sheet{"document_type_declaration",
              {},
              {},
              "document type declaration",
              "<!DOCTYPE worksheet><worksheet><sheetData><row><c><v>1</v></c></row></sheetData>"
              "</worksheet>"}),
    [](const testing::TestParamInfo<Sheet> &info) { return std::string(info.param.name); });
