// zqxlsread FILE: writes the first worksheet of a legacy (.xls) workbook on standard output
// as the frames of XlsFrames.h.
//
// The workbook reader runs this in a process of its own, limited in memory and time: the
// library that reads the legacy format is not safe against crafted files, and whatever it
// does to this process cannot reach the host.
#include "XlsFrames.h"

#include <freexl.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

namespace {

void put32(std::string &out, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        out += char((v >> (8 * i)) & 0xFF);
}

void put16(std::string &out, uint16_t v)
{
    out += char(v & 0xFF);
    out += char(v >> 8);
}

bool write(const std::string &bytes)
{
    return std::fwrite(bytes.data(), 1, bytes.size(), stdout) == bytes.size();
}

int failure(const std::string &reason, int code = 0)
{
    std::string text = reason;
    if (code != 0)
        text += " (code " + std::to_string(code) + ")";
    std::string frame(1, zq::xls::kError);
    put32(frame, uint32_t(text.size()));
    frame += text;
    write(frame);
    std::fflush(stdout);
    return 1;
}

void putCell(std::string &row, unsigned column, char kind, const void *bytes, size_t size)
{
    put16(row, uint16_t(column));
    row += kind;
    put32(row, uint32_t(size));
    row.append(static_cast<const char *>(bytes), size);
}

int readSheet(const char *path)
{
    const void *handle = nullptr;
    int rc = freexl_open(path, &handle);
    if (rc != FREEXL_OK)
        return failure("the legacy workbook cannot be opened", rc);
    unsigned int sheets = 0;
    rc = freexl_get_info(handle, FREEXL_BIFF_SHEET_COUNT, &sheets);
    if (rc != FREEXL_OK || sheets == 0)
        return failure("the workbook has no worksheet", rc);
    rc = freexl_select_active_worksheet(handle, 0);
    if (rc != FREEXL_OK)
        return failure("the first worksheet cannot be selected", rc);
    unsigned int rows = 0;
    unsigned short columns = 0;
    rc = freexl_worksheet_dimensions(handle, &rows, &columns);
    if (rc != FREEXL_OK)
        return failure("the worksheet's size cannot be read", rc);
    if (rows > zq::xls::kMaxRows || columns > zq::xls::kMaxColumns)
        return failure("the worksheet declares " + std::to_string(rows) + " rows and "
                       + std::to_string(columns) + " columns, more than a legacy worksheet has");
    // Only rows holding a value are written: the declared size is the library's, the rows
    // are what the file holds.
    std::string row;
    for (unsigned r = 0; r < rows; ++r) {
        row.clear();
        unsigned count = 0;
        for (unsigned c = 0; c < columns; ++c) {
            FreeXL_CellValue value;
            rc = freexl_get_cell_value(handle, r, (unsigned short)c, &value);
            if (rc != FREEXL_OK)
                return failure("a cell cannot be read", rc);
            switch (value.type) {
            case FREEXL_CELL_INT: {
                const double number = value.value.int_value;
                putCell(row, c, zq::xls::kNumber, &number, sizeof number);
                ++count;
                break;
            }
            case FREEXL_CELL_DOUBLE:
                putCell(row, c, zq::xls::kNumber, &value.value.double_value, sizeof(double));
                ++count;
                break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT:
            case FREEXL_CELL_TIME:
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME: {
                const char *text = value.value.text_value;
                const size_t size = text ? std::strlen(text) : 0;
                if (size == 0)
                    break;
                const bool date = value.type == FREEXL_CELL_DATE
                                  || value.type == FREEXL_CELL_DATETIME;
                putCell(row, c, date ? zq::xls::kDate : zq::xls::kText, text, size);
                ++count;
                break;
            }
            default:
                break;
            }
        }
        if (count == 0)
            continue;
        std::string frame(1, zq::xls::kRow);
        put32(frame, r);
        put16(frame, uint16_t(count));
        if (!write(frame) || !write(row))
            return 1; // the reader went away
    }
    freexl_close(handle);
    const char end = zq::xls::kEnd;
    write(std::string(1, end));
    return std::fflush(stdout) == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: zqxlsread FILE\n");
        return 2;
    }
    try {
        return readSheet(argv[1]);
    } catch (const std::bad_alloc &) {
        return failure("the legacy workbook needs more memory than its reader may take");
    }
}
