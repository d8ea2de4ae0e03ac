#pragma once

// What the legacy workbook reader (zqxlsread) writes on its standard output, read back by
// the workbook reader of the host. Integers are little-endian.
//
//   'R' u32 row, u16 count, count x (u16 column, u8 kind, u32 length, length bytes)
//       one row holding a value, rows in rising order, cells in rising column order
//   'E' u32 length, length bytes: the reason the file cannot be read (UTF-8); the last frame
//   'Z' the end of the sheet: every row was written
//
// Cell kinds: text as UTF-8, a number as the 8 bytes of a double, a date or date and time
// as "yyyy-mm-dd[ hh:mm:ss]".

namespace zq::xls {

constexpr char kRow = 'R';
constexpr char kError = 'E';
constexpr char kEnd = 'Z';

constexpr char kText = 'T';
constexpr char kNumber = 'N';
constexpr char kDate = 'D';

// A legacy worksheet holds at most 65,536 rows and 256 columns.
constexpr unsigned kMaxRows = 65536;
constexpr unsigned kMaxColumns = 256;

} // namespace zq::xls
