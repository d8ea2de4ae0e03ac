#pragma once

#include <QString>

class QTableView;

namespace zq::suite {

/// Writes the column order and widths of `grid` to section `layoutKey` of `file` (an ini
/// file; its other sections stay). Each column is keyed by its header text:
/// "HolderNo=0,120" is visual position 0, width 120. False when the file cannot be written.
bool saveGridLayout(const QTableView &grid, const QString &file, const QString &layoutKey);

/// Moves and sizes the columns of `grid` as section `layoutKey` of `file` says. Columns the
/// section does not name keep their width and fill the remaining positions in their current
/// order. False when there is nothing to restore.
bool restoreGridLayout(QTableView &grid, const QString &file, const QString &layoutKey);

} // namespace zq::suite
