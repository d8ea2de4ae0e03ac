#pragma once

#include "Dialect.h"

#include <QString>

#include <optional>

namespace zq::forms::holder {

/// The column pieces of the holder listings.
QString P1();
QString P2();
QString P3();
QString P4();
QString P4S();
QString P5();
QString PN();
QString PF();

/// The listing for the department filter: every holder (`filter` empty) for a supervisor or
/// without department rights, the user's departments for others, or one department. Only
/// the first and the last carry SequenceNo. The listing of every holder keeps those without
/// a department (their department name is empty).
QString filterListing(const QString &filter, bool allDepartments, const QString &userId);
/// The listing read again after a save (no SequenceNo). `rightsUser` is the user whose
/// department rights bound the listing, none for a user who sees every department; the
/// same holds for the search and print statements below.
QString reloadListing(const QString &filter,
                      const std::optional<QString> &rightsUser = std::nullopt);
/// The condition that finds the rows whose `column` holds `number` as the user sees it: the
/// number alone or followed by trailing blanks, as other tools store it. A range on the
/// indexed column keeps it an index look-up; the trimmed comparison drops what the range
/// also holds.
QString sameNumber(const QString &column, const QString &number);
/// The holders stored under `number` as the user sees it (the duplicate test).
QString holdersNumbered(const QString &number);
/// The holder stored under `key` exactly as it is (trailing blanks and all), every column.
QString holderByKey(const QString &key);
/// Exact search by number (blank-insensitive, as the duplicate test) or by name; every
/// department, so that the window can tell a hit it may not show from none.
QString exactSearch(const QString &text, bool byNumber);
/// The LIKE listing of a search that found nothing exactly; `%` and `_` typed by the user
/// match themselves, and case is ignored on every engine (in `dialect`'s way).
QString likeListing(const QString &text,
                    bool byNumber,
                    const zq::data::Dialect &dialect,
                    const std::optional<QString> &rightsUser = std::nullopt);
/// The statement of the printed holder list.
QString printListing(const QString &filter,
                     const std::optional<QString> &rightsUser = std::nullopt);

} // namespace zq::forms::holder
