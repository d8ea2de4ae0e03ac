#pragma once

#include <QString>

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
/// the first and the last carry SequenceNo.
QString filterListing(const QString &filter, bool allDepartments, const QString &userId);
/// The listing read again after a save (no user restriction, no SequenceNo).
QString reloadListing(const QString &filter);
/// The condition that finds the rows whose `column` holds `number` as the user sees it: the
/// number alone or followed by trailing blanks, as other tools store it. A range on the
/// indexed column keeps it an index look-up; the trimmed comparison drops what the range
/// also holds.
QString sameNumber(const QString &column, const QString &number);
/// The holders stored under `number` as the user sees it (the duplicate test).
QString holdersNumbered(const QString &number);
/// Exact search by number or by name.
QString exactSearch(const QString &text, bool byNumber);
/// The LIKE listing of a search that found nothing exactly; `%` and `_` typed by the user
/// match themselves. PostgreSQL compares with ILIKE so that both engines ignore case alike.
QString likeListing(const QString &text, bool byNumber, bool postgres);
/// The statement of the printed holder list.
QString printListing(const QString &filter);

} // namespace zq::forms::holder
