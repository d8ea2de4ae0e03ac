#pragma once

#include <QString>
#include <QStringList>

namespace zq::forms::batch {

/// The settings file value that carries a batch of holders from the batch selection to
/// card label printing: an SQL value list "( 'H1','H2','')" in section "ZQHolderLabel",
/// key "BrowseHolder" of ZQMain.ini.
QString settingsFile(const QString &programPath);

/// "( " + one literal and a comma per number + "'')"; each number goes through
/// Connection::quoted, so the text is always a well-formed value list.
QString batchText(const QStringList &numbers);

/// True for exactly the lists batchText() can make: "(", blanks, quoted literals
/// (quotes doubled inside) separated by commas with optional blanks, the last literal
/// empty, ")" and trailing blanks.
bool isWellFormedBatch(const QString &text);

/// The stored batch list; "" when the file, the key or a well-formed value is missing.
/// `damaged` (when given) tells a stored value that does not read back as a list, or a file
/// that cannot be read, from no value at all.
QString readBatchList(const QString &file, bool *damaged = nullptr);

/// Replaces the stored batch list, keeping every other section, key and comment of the
/// file. The file is replaced atomically; false when it could not be read or written, or
/// when `text` holds a control character (a line end would end the value and start keys
/// of its own).
bool writeBatchList(const QString &file, const QString &text);

} // namespace zq::forms::batch
