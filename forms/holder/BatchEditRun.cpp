#include "BatchEditRun.h"

#include "Connection.h"
#include "Recordset.h"
#include "Services.h"

#include <QApplication>
#include <QCheckBox>

namespace zq::forms::holder {

namespace svc = zq::services;

namespace {

// How often the progress window is advanced and asked for its Cancel: often enough to
// answer a click at once, seldom enough to cost nothing next to the writes.
constexpr int kProgressEvery = 25;
// The holders changed elsewhere named one by one; the rest are counted.
constexpr int kNamesShown = 20;

QString message(const char *key)
{
    return svc::GetMessageString(QLatin1String(key));
}

} // namespace

QString batchSummary(const BatchOutcome &outcome, const QString &fieldCaption)
{
    using End = BatchOutcome::End;
    QStringList lines;
    if (outcome.end == End::Invalid)
        return message("BatchEditInvalid").arg(fieldCaption);
    lines << message("BatchEditChanged").arg(outcome.written);
    if (outcome.unchanged > 0)
        lines << message("BatchEditUnchanged").arg(outcome.unchanged);
    const auto &elsewhere = outcome.changedElsewhere;
    if (!elsewhere.isEmpty()) {
        lines << message("BatchEditElsewhere").arg(elsewhere.size());
        for (int i = 0; i < elsewhere.size() && i < kNamesShown; ++i)
            lines << QStringLiteral("    ") + elsewhere.at(i);
        if (elsewhere.size() > kNamesShown)
            lines << QStringLiteral("    ")
                         + message("BatchEditMore").arg(elsewhere.size() - kNamesShown);
    }
    switch (outcome.end) {
    case End::Cancelled:
        lines << message("BatchEditCancelled").arg(outcome.notReached);
        break;
    case End::CodeGone:
        lines << message("BatchEditCodeGone").arg(fieldCaption).arg(outcome.notReached);
        break;
    case End::Failed:
        lines << message(outcome.linkLost ? "BatchEditLinkLost" : "BatchEditFailed")
                     .arg(outcome.notReached);
        break;
    case End::Done:
    case End::Invalid:
        break;
    }
    return lines.join(QLatin1Char('\n'));
}

BatchOutcome applyWithProgress(BatchWriter &writer,
                               const std::vector<BatchHolder> &holders,
                               const BatchChange &change)
{
    const int total = int(holders.size());
    intptr_t progress = 0;
    if (total >= kBatchProgressFrom)
        progress = svc::ShowProcessForm(0, total, message("BatchEditing"));
    int shown = 0;
    bool cancelled = false;
    const auto step = [&](int done) {
        if (progress == 0 || (done - shown < kProgressEvery && done < total))
            return true;
        svc::IncProcessFormPosition(progress, done - shown);
        shown = done;
        // The progress window is gone with its Cancel.
        cancelled = svc::CancelProcessForm(progress) != 0;
        return !cancelled;
    };
    const BatchOutcome outcome = writer.apply(holders, change, step);
    if (progress != 0 && !cancelled)
        svc::CloseProcessForm(progress);
    return outcome;
}

std::optional<BatchOutcome> runBatchEdit(QWidget *parent,
                                         zq::data::Recordset &listing,
                                         const QList<int> &rows,
                                         const BatchCodes &codes,
                                         const std::optional<QString> &rightsUser)
{
    const std::vector<BatchHolder> holders = batchHolders(listing, rows);
    if (holders.size() < 2) {
        svc::PlaySoundError();
        return std::nullopt;
    }
    BatchEditDialog dialog(holders, codes, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const BatchChange change = dialog.change();
    svc::PlaySoundOk();
    BatchWriter writer(listing.connection());
    writer.setRightsUser(rightsUser);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const BatchOutcome outcome = applyWithProgress(writer, holders, change);
    QApplication::restoreOverrideCursor();
    const bool clean = outcome.end == BatchOutcome::End::Done;
    if (clean && outcome.changedElsewhere.isEmpty())
        svc::PlaySoundOk();
    else
        svc::PlaySoundError();
    svc::SelectLanguage();
    svc::ShowMessageBox(
        batchSummary(outcome,
                     outcome.goneField ? dialog.fieldCaption(*outcome.goneField) : QString()),
        QStringLiteral("SystemMessage"),
        clean ? 64 : 16);
    return outcome;
}

} // namespace zq::forms::holder
