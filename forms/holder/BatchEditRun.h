#pragma once

#include "BatchEdit.h"
#include "BatchEditDialog.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

class QWidget;

namespace zq::forms::holder {

/// From this many holders on, a batch shows the progress window with its Cancel.
inline constexpr int kBatchProgressFrom = 100;

/// What the user is told after a batch: the holders changed, those changed on another
/// workstation and not written (named), and why the batch ended early when it did. Every
/// number is one of `outcome`'s, which count committed rows only.
QString batchSummary(const BatchOutcome &outcome, const QString &fieldCaption = QString());

/// The command "Change selected…": asks for the change over the holders on `rows` of
/// `listing`, writes it with a progress window for large selections, and tells the outcome.
/// None when the dialog was cancelled or fewer than two holders are chosen.
std::optional<BatchOutcome> runBatchEdit(QWidget *parent,
                                         zq::data::Recordset &listing,
                                         const QList<int> &rows,
                                         const BatchCodes &codes,
                                         const std::optional<QString> &rightsUser);

/// Runs `writer` over `holders` with the suite's progress window when there are enough
/// of them; Cancel there stops the batch after the holder in hand.
BatchOutcome applyWithProgress(BatchWriter &writer,
                               const std::vector<BatchHolder> &holders,
                               const BatchChange &change);

} // namespace zq::forms::holder
