#pragma once

#include "WorkbookReader.h"

#include <QDate>
#include <QString>

#include <memory>

namespace zq::platform {

// The first worksheet of one file kind behind WorkbookReader.
struct WorkbookReader::Sheet
{
    virtual ~Sheet() = default;
    /// Finds the used range; false with `error` set when the sheet cannot be read.
    virtual bool open(const QString &path, QString &error) = 0;
    virtual int firstRow() const = 0;
    virtual int firstColumn() const = 0;
    virtual int lastRow() const = 0;    // -1 for an empty sheet
    virtual int lastColumn() const = 0; // -1 for an empty sheet
    virtual bool cell(int row, int column, QString &text, QString &error) = 0;

    QString dateFormat;
};

std::unique_ptr<WorkbookReader::Sheet> makeXlsxSheet();
std::unique_ptr<WorkbookReader::Sheet> makeXlsSheet();

/// Cell value texts shared by both kinds.
QString numberText(double value);
/// A date serial of the spreadsheet's day count (day 0 = `base`) as text: the day alone,
/// with its time when it has one.
QString serialDateText(double serial, const QDate &base, const QString &dateFormat);
QString serialTimeText(double serial);

} // namespace zq::platform
