#pragma once

// Workbooks of hand-made parts, to try what the writer never produces.
#include <QByteArray>
#include <QFile>
#include <QList>
#include <QString>

#include <zip.h>

namespace zq::test {

struct ZipPart
{
    QByteArray name;
    QByteArray content;
    bool stored = false; // without compression
};

inline bool writeZip(const QString &path, const QList<ZipPart> &parts)
{
    zipFile zip = zipOpen64(QFile::encodeName(path).constData(), APPEND_STATUS_CREATE);
    if (!zip)
        return false;
    for (const auto &part : parts) {
        if (zipOpenNewFileInZip64(zip,
                                  part.name.constData(),
                                  nullptr,
                                  nullptr,
                                  0,
                                  nullptr,
                                  0,
                                  nullptr,
                                  part.stored ? 0 : Z_DEFLATED,
                                  part.stored ? 0 : Z_BEST_COMPRESSION,
                                  1)
            != ZIP_OK)
            return false;
        for (qsizetype at = 0; at < part.content.size(); at += 1 << 24) {
            const qsizetype n = qMin<qsizetype>(1 << 24, part.content.size() - at);
            zipWriteInFileInZip(zip, part.content.constData() + at, unsigned(n));
        }
        zipCloseFileInZip(zip);
    }
    return zipClose(zip, nullptr) == ZIP_OK;
}

inline const QByteArray kWorkbookXml
    = "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
      "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
      "<sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>";

inline QByteArray sheetXml(const QByteArray &rows, const QByteArray &dimension = {})
{
    return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           + (dimension.isEmpty() ? QByteArray() : "<dimension ref=\"" + dimension + "\"/>")
           + "<sheetData>" + rows + "</sheetData></worksheet>";
}

inline QByteArray sharedStringsXml(const QByteArray &items)
{
    return "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">" + items
           + "</sst>";
}

// A workbook of one sheet (and shared strings when given).
inline bool writeSheet(const QString &path,
                       const QByteArray &sheet,
                       const QByteArray &strings = {},
                       bool stored = false)
{
    QList<ZipPart> parts{{"xl/workbook.xml", kWorkbookXml},
                         {"xl/worksheets/sheet1.xml", sheet, stored}};
    if (!strings.isEmpty())
        parts.append({"xl/sharedStrings.xml", strings, stored});
    return writeZip(path, parts);
}

} // namespace zq::test
