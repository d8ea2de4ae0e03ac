// Hostile workbooks: each is read whole in a child process, which has to end with a clear
// message, its peak memory well below 300 MB (measured, printed, and bounded generously).
#include "WorkbookFiles.h"
#include "WorkbookReader.h"

#include <QElapsedTimer>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>

using namespace zq::platform;
using namespace zq::test;

namespace {

struct Outcome
{
    bool read = false; // to the end without an error
    int rows = 0;
    QString error;
    long peakMb = 0;
    qint64 ms = 0;
};

// Opens the workbook and reads every row in a child process: its peak memory is the
// reader's alone, and a reader that crashed would fail the test rather than end it.
Outcome readInChild(const QString &path)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        WorkbookReader book;
        int rows = 0;
        bool read = book.open(path);
        int row;
        QStringList cells;
        while (read && book.nextRow(row, cells))
            ++rows;
        read = read && book.errorText().isEmpty();
        const QByteArray answer = QByteArray(read ? "1 " : "0 ") + QByteArray::number(rows) + ' '
                                  + book.errorText().toUtf8();
        const ssize_t written = write(fds[1], answer.constData(), size_t(answer.size()));
        _exit(written == answer.size() ? 0 : 3);
    }
    close(fds[1]);
    QByteArray answer;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;)
        answer.append(buffer, n);
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    Outcome outcome;
    outcome.ms = clock.elapsed();
    outcome.peakMb = usage.ru_maxrss / 1024;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        outcome.error = QStringLiteral("the reading process ended abnormally (%1)").arg(status);
        return outcome;
    }
    const QList<QByteArray> parts = answer.split(' ');
    outcome.read = parts.value(0) == "1";
    outcome.rows = parts.value(1).toInt();
    outcome.error = QString::fromUtf8(
        answer.mid(parts.value(0).size() + parts.value(1).size() + 2));
    return outcome;
}

// Text that barely compresses, so that a part stays below the zip-bomb ratio.
QByteArray noise(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 state = 12345;
    for (char &b : bytes) {
        state = state * 1103515245u + 12345u;
        b = char('a' + (state >> 16) % 26);
    }
    return bytes;
}

QByteArray inlineCell(const QByteArray &ref, const QByteArray &text)
{
    return "<c r=\"" + ref + "\" t=\"inlineStr\"><is><t>" + text + "</t></is></c>";
}

const QByteArray kLaughs = "<?xml version=\"1.0\"?><!DOCTYPE lolz [<!ENTITY lol \"lol\">"
                           "<!ENTITY lol1 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">"
                           "<!ENTITY lol2 \"&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;&lol1;\">"
                           "<!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">"
                           "<!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">"
                           "<!ENTITY lol5 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">"
                           "<!ENTITY lol6 \"&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;&lol5;\">"
                           "<!ENTITY lol7 \"&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;&lol6;\">"
                           "<!ENTITY lol8 \"&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;&lol7;\">"
                           "<!ENTITY lol9 \"&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;&lol8;\">]>";

// A part whose stated size is `claimed`: its compressed bytes are those of `content`.
bool writeClaimingZip(const QString &path, const QByteArray &content, quint64 claimed)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    zipOpenNewFileInZip64(zip,
                          "xl/workbook.xml",
                          nullptr,
                          nullptr,
                          0,
                          nullptr,
                          0,
                          nullptr,
                          Z_DEFLATED,
                          Z_BEST_COMPRESSION,
                          1);
    zipWriteInFileInZip(zip, kWorkbookXml.constData(), unsigned(kWorkbookXml.size()));
    zipCloseFileInZip(zip);
    // Raw deflate data written as it stands, its sizes given by hand.
    QByteArray packed(compressBound(uLong(content.size())) + 64, Qt::Uninitialized);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(content.constData()));
    z.avail_in = uInt(content.size());
    z.next_out = reinterpret_cast<Bytef *>(packed.data());
    z.avail_out = uInt(packed.size());
    deflate(&z, Z_FINISH);
    packed.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    zipOpenNewFileInZip2_64(zip,
                            "xl/worksheets/sheet1.xml",
                            nullptr,
                            nullptr,
                            0,
                            nullptr,
                            0,
                            nullptr,
                            Z_DEFLATED,
                            9,
                            1,
                            1);
    zipWriteInFileInZip(zip, packed.constData(), unsigned(packed.size()));
    zipCloseFileInZipRaw64(zip, claimed, crc32(0, nullptr, 0));
    return zipClose(zip, nullptr) == ZIP_OK;
}

struct Hostile
{
    const char *name;
    std::function<bool(const QString &path)> make;
    const char *message; // a part of the expected message
};

class HostileWorkbook : public testing::TestWithParam<Hostile>
{
};

} // namespace

TEST_P(HostileWorkbook, EndsInAClearMessageWithBoundedMemory)
{
    const Hostile &h = GetParam();
    QTemporaryDir dir;
    const QString path = dir.filePath(QString::fromLatin1(h.name) + ".xlsx");
    ASSERT_TRUE(h.make(path));
    const Outcome outcome = readInChild(path);
    std::printf("[ measured ] %s: %ld MB peak, %lld ms: %s\n",
                h.name,
                outcome.peakMb,
                outcome.ms,
                qPrintable(outcome.error));
    EXPECT_FALSE(outcome.read);
    EXPECT_TRUE(outcome.error.contains(QLatin1String(h.message))) << outcome.error.toStdString();
    EXPECT_LT(outcome.peakMb, 300);
}

INSTANTIATE_TEST_SUITE_P(
    Files,
    HostileWorkbook,
    testing::Values(
        Hostile{"billion_laughs_in_the_sheet",
                [](const QString &p) {
                    return writeSheet(p,
                                      kLaughs
                                          + sheetXml("<row><c t=\"inlineStr\"><is><t>&lol9;"
                                                     "</t></is></c></row>"));
                },
                "document type declaration"},
        Hostile{"billion_laughs_in_the_shared_strings",
                [](const QString &p) {
                    return writeSheet(p,
                                      sheetXml("<row><c t=\"s\"><v>0</v></c></row>"),
                                      kLaughs + sharedStringsXml("<si><t>&lol9;</t></si>"));
                },
                "document type declaration"},
        Hostile{"external_entity",
                [](const QString &p) {
                    return writeZip(
                        p,
                        {{"xl/workbook.xml",
                          "<!DOCTYPE workbook [<!ENTITY x SYSTEM \"file:///etc/passwd\">]>"
                              + kWorkbookXml.left(kWorkbookXml.size() - 11)
                              + "<x>&x;</x></workbook>"},
                         {"xl/worksheets/sheet1.xml", sheetXml("")}});
                },
                "document type declaration"},
        Hostile{"zip_bomb_claiming_3_GB",
                [](const QString &p) {
                    return writeClaimingZip(p, QByteArray(1 << 20, ' '), 3ULL << 30);
                },
                "more than the 512 MB"},
        Hostile{
            "zip_bomb_of_blanks",
            [](const QString &p) { return writeSheet(p, sheetXml(QByteArray(100 << 20, ' '))); },
            "zip bomb"},
        Hostile{"truncated_zip",
                [](const QString &p) {
                    QTemporaryDir dir;
                    const QString whole = dir.filePath("whole.xlsx");
                    QByteArray rows;
                    for (int r = 1; r <= 2000; ++r)
                        rows += "<row>" + inlineCell("A" + QByteArray::number(r), noise(20))
                                + "</row>";
                    if (!writeSheet(whole, sheetXml(rows)))
                        return false;
                    QFile in(whole);
                    QFile out(p);
                    return in.open(QIODevice::ReadOnly) && out.open(QIODevice::WriteOnly)
                           && out.write(in.readAll().chopped(4000)) > 0;
                },
                "cannot be opened"},
        Hostile{"sheet_cut_inside_a_cell",
                [](const QString &p) {
                    return writeSheet(p,
                                      "<worksheet><sheetData><row r=\"1\">" + inlineCell("A1", "x")
                                          + "</row><row><c><v>1");
                },
                "ends in the middle"},
        Hostile{"twenty_thousand_columns",
                [](const QString &p) {
                    return writeSheet(p,
                                      sheetXml("<row>"
                                               + QByteArray("<c><v>1</v></c>").repeated(20000)
                                               + "</row>"));
                },
                "16,384 columns"},
        Hostile{"column_beyond_XFD",
                [](const QString &p) {
                    return writeSheet(p, sheetXml("<row r=\"1\"><c r=\"XFE1\"><v>1</v></c></row>"));
                },
                "beyond the last column a worksheet has (XFD)"},
        Hostile{"row_2147483647",
                [](const QString &p) {
                    return writeSheet(p,
                                      sheetXml("<row r=\"1\">" + inlineCell("A1", "x")
                                                   + "</row><row r=\"2147483647\">"
                                                   + inlineCell("A2147483647", "y") + "</row>",
                                               "A1:A2147483647"));
                },
                "row 2147483647 lies beyond the last row"},
        Hostile{"row_2147483648",
                [](const QString &p) {
                    return writeSheet(p, sheetXml("<row r=\"2147483648\"><c><v>1</v></c></row>"));
                },
                "beyond the last row"},
        Hostile{"rows_counted_past_the_last",
                [](const QString &p) {
                    return writeSheet(p,
                                      sheetXml("<row r=\"1048576\"><c><v>1</v></c></row><row>"
                                               "<c><v>2</v></c></row>"));
                },
                "row 1048577 lies beyond"},
        Hostile{"rows_out_of_order",
                [](const QString &p) {
                    return writeSheet(p,
                                      sheetXml("<row r=\"5\"><c><v>1</v></c></row><row r=\"2\">"
                                               "<c><v>2</v></c></row>"));
                },
                "out of order"},
        Hostile{"malformed_reference",
                [](const QString &p) {
                    return writeSheet(p, sheetXml("<row r=\"1\"><c r=\"A-1\"><v>1</v></c></row>"));
                },
                "malformed reference"},
        Hostile{"shared_string_bomb",
                [](const QString &p) {
                    // Five million empty strings, stored so that no ratio gives them away.
                    return writeSheet(p,
                                      sheetXml("<row><c t=\"s\"><v>0</v></c></row>"),
                                      sharedStringsXml(QByteArray("<si/>").repeated(5'000'000)),
                                      true);
                },
                "more than 4,194,304 shared strings"},
        Hostile{
            "huge_single_cell",
            [](const QString &p) {
                return writeSheet(
                    p, sheetXml("<row>" + inlineCell("A1", noise(64 << 20)) + "</row>"), {}, true);
            },
            "more than 1 MB"},
        Hostile{"huge_cell_of_many_runs",
                [](const QString &p) {
                    QByteArray runs;
                    for (int i = 0; i < 40; ++i)
                        runs += "<r><t>" + noise(100000) + "</t></r>";
                    return writeSheet(
                        p, sheetXml("<row><c t=\"inlineStr\"><is>" + runs + "</is></c></row>"));
                },
                "more than a cell holds"},
        Hostile{"shared_strings_filling_memory",
                [](const QString &p) {
                    // 80 MB of texts, each as long as a cell may be.
                    const QByteArray item = "<si><t>" + noise(32000) + "</t></si>";
                    return writeSheet(p,
                                      sheetXml("<row><c t=\"s\"><v>0</v></c></row>"),
                                      sharedStringsXml(item.repeated(2500)),
                                      true);
                },
                "fill more than 64 MB"},
        Hostile{"huge_shared_string",
                [](const QString &p) {
                    QByteArray runs;
                    for (int i = 0; i < 40; ++i)
                        runs += "<r><t>" + noise(100000) + "</t></r>";
                    return writeSheet(p,
                                      sheetXml("<row><c t=\"s\"><v>0</v></c></row>"),
                                      sharedStringsXml("<si>" + runs + "</si>"));
                },
                "more than a cell holds"}),
    [](const testing::TestParamInfo<Hostile> &info) { return std::string(info.param.name); });

TEST(HostileWorkbookRange, AHugeDeclaredRangeReadsOnlyTheRowsPresent)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("range.xlsx");
    ASSERT_TRUE(writeSheet(path,
                           sheetXml("<row r=\"1\">" + inlineCell("A1", "H1") + "</row><row r=\"2\">"
                                        + inlineCell("A2", "H2") + "</row>",
                                    "A1:XFD1048576")));
    const Outcome outcome = readInChild(path);
    std::printf(
        "[ measured ] huge declared range: %ld MB peak, %lld ms\n", outcome.peakMb, outcome.ms);
    EXPECT_TRUE(outcome.read) << outcome.error.toStdString();
    EXPECT_EQ(outcome.rows, 2);
    WorkbookReader book;
    ASSERT_TRUE(book.open(path));
    EXPECT_EQ(book.usedRowCount(), 2);
    EXPECT_EQ(book.usedColumnCount(), 1);
}

// The legacy equivalent of a declared range: the worksheet's dimensions record, patched in
// the office program's workbook. Rows near 2^31 are refused (by the library or the helper);
// the whole sheet declared still gives only the rows that hold values.
TEST(HostileWorkbookRange, ALegacyWorkbookDeclaringHugeDimensionsReadsOnlyItsRows)
{
    QFile fixture(QStringLiteral(ZQ_PLATFORM_DATA) + "office-book.xls");
    ASSERT_TRUE(fixture.open(QIODevice::ReadOnly));
    const QByteArray original = fixture.readAll();
    // Record 0x0200, 14 bytes: first row, last row + 1 (32 bits each), first column, last
    // column + 1 (16 bits each).
    const qsizetype at = original.indexOf(QByteArray("\x00\x02\x0e\x00", 4));
    ASSERT_GT(at, 0);
    const auto patched = [&](quint32 rows, quint16 columns) {
        QByteArray bytes = original;
        for (int i = 0; i < 4; ++i)
            bytes[at + 8 + i] = char((rows >> (8 * i)) & 0xFF);
        bytes[at + 14] = char(columns & 0xFF);
        bytes[at + 15] = char(columns >> 8);
        return bytes;
    };
    QTemporaryDir dir;
    const struct
    {
        const char *what;
        quint32 rows;
        quint16 columns;
        bool read;
    } cases[] = {
        {"rows near 2^31", 0x7FFFFFFFu, 4, false},
        {"the whole legacy sheet", 65536, 256, true},
    };
    for (const auto &c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.what) + ".xls");
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write(patched(c.rows, c.columns));
        out.close();
        const Outcome outcome = readInChild(path);
        std::printf("[ measured ] legacy, %s: %ld MB peak, %lld ms: %s\n",
                    c.what,
                    outcome.peakMb,
                    outcome.ms,
                    qPrintable(outcome.error));
        EXPECT_EQ(outcome.read, c.read) << c.what << ": " << outcome.error.toStdString();
        if (c.read)
            EXPECT_EQ(outcome.rows, 3) << c.what;
        else
            EXPECT_FALSE(outcome.error.isEmpty());
        // The peak of the reading process includes its helper's, which the legacy library
        // fills with a cell table of the declared size; the helper may take 512 MB at most.
        EXPECT_LT(outcome.peakMb, 600);
    }
}
