// Deleting a holder, with his cards deleted from the devices or only released.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QTabWidget>
#include <QToolBar>

#include <cmath>
#include <optional>

namespace zq::forms {

namespace svc = zq::services;
namespace st = zq::forms::holder;
using zq::data::Connection;
using zq::data::Recordset;

namespace {

// A card or device number as the device library takes it: fractions dropped, the low 32
// bits of a larger number. Not a number: nothing.
std::optional<int32_t> deviceNumber(const QString &text)
{
    bool ok = false;
    const double value = text.trimmed().toDouble(&ok);
    if (!ok || !std::isfinite(value) || std::fabs(value) >= 9.2e18)
        return std::nullopt;
    return int32_t(uint32_t(uint64_t(int64_t(std::trunc(value)))));
}

} // namespace

// The cards of the holder stored under `stored`: those filed under his number as the user
// sees it, trailing blanks or not, unless another holder shares that number (data of older
// tools); then only those filed exactly under his own. `sharing` is the number of holders
// stored under the visible number.
QString TfrmHolder::cardCondition(const QString &stored, int sharing)
{
    if (sharing > 1)
        return QStringLiteral("HolderNo = ") + Connection::quoted(stored);
    return st::sameNumber(QStringLiteral("HolderNo"), stored.trimmed());
}

void TfrmHolder::btnDeleteClick()
{
    if (m_mode == AddMode || !adq1DB->isOpen() || adq1DB->isEmpty()
        || zq::data::CheckConnection() != 1) {
        svc::PlaySoundError();
        return;
    }
    svc::PlaySoundQuestion();
    svc::SelectLanguage();
    if (svc::ShowMessageBox(QStringLiteral("DeleteRecord"), QStringLiteral("SystemMessage"), 36)
        != 6)
        return;
    try {
        // The row goes by its key as stored; the audit names the number as the user sees it.
        const QString stored = adq1DB->text(QStringLiteral("HolderNo"));
        const QString number = stored.trimmed();
        Connection *c = adq1DB->connection();
        // A holder changed or deleted on another workstation since he was shown keeps his
        // cards on the devices: nothing is done, and the user is told. The rows under his
        // visible number also tell whose cards are his.
        adq2DB->close();
        if (zq::data::RunQuery(adq2DB, st::exactSearch(stored, true), 0) != 1) {
            tellWriteFailure(c);
            return;
        }
        const QString cards = cardCondition(stored, adq2DB->recordCount());
        if (adq2DB->isEmpty() || !adq2DB->matchesShown(*adq1DB)) {
            adq2DB->close();
            tellConflict();
            return;
        }
        zq::data::RunQuery(adqCardData,
                           QStringLiteral(" SELECT * FROM CardData WHERE ") + cards
                               + QStringLiteral(" "),
                           0);
        // Cards taken off every enabled device; their rows go with the holder.
        QStringList removedCards;
        QStringList skippedDevices;
        if (adqCardData->isOpen() && !adqCardData->isEmpty()) {
            svc::PlaySoundQuestion();
            svc::SelectLanguage();
            if (svc::ShowMessageBox(
                    QStringLiteral("DeleteCardDataRecord"), QStringLiteral("SystemMessage"), 36)
                == 6) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                m_ui.tbEdit->setEnabled(false);
                m_ui.pcData->setEnabled(false);
                try {
                    zq::data::RunQuery(adqDevice,
                                       QStringLiteral(" SELECT DeviceNo FROM DeviceUnit WHERE "
                                                      "DeviceEnabled = 1 "),
                                       0);
                    // A device row whose number is no number cannot be called; the others
                    // still are, or the cards would stay on every controller.
                    QList<int32_t> devices;
                    for (int row = 0; adqDevice->isOpen() && row < adqDevice->recordCount();
                         ++row) {
                        const QString text = Recordset::textOf(adqDevice->valueAt(row, 0));
                        if (const auto device = deviceNumber(text))
                            devices << *device;
                        else
                            skippedDevices << (text.trimmed().isEmpty() ? QStringLiteral("''")
                                                                        : text.trimmed().left(40));
                    }
                    const int cardColumn = adqCardData->fieldIndex(QStringLiteral("CardNo"));
                    for (int row = 0; row < adqCardData->recordCount(); ++row) {
                        const QString cardText = Recordset::textOf(
                            adqCardData->valueAt(row, cardColumn));
                        // A card number that is no number reaches no device: that card is
                        // only released below.
                        const auto card = deviceNumber(cardText);
                        if (!card)
                            continue;
                        for (int32_t device : std::as_const(devices)) {
                            svc::DeviceCardDelete(device, *card);
                            QCoreApplication::processEvents();
                        }
                        removedCards << cardText;
                        QCoreApplication::processEvents();
                    }
                } catch (...) {
                }
                QApplication::restoreOverrideCursor();
            }
        }
        QApplication::setOverrideCursor(Qt::WaitCursor);
        adqDevice->close();
        adqCardData->close();
        const auto run = [c](const QString &sql) {
            if (!c->execute(sql))
                throw zq::data::DbError(c->errors());
        };
        // One transaction: the holder goes with all of his card rows, or stays with all.
        const bool committed = zq::data::WriteInTransaction(c, [&] {
            for (const QString &card : std::as_const(removedCards))
                run(QStringLiteral(" DELETE FROM CardData WHERE CardNo = ")
                    + Connection::quoted(card) + QStringLiteral(" AND ") + cards);
            run(QStringLiteral(" UPDATE CardData SET HolderNo = NULL , CardFlag = 0 WHERE ") + cards
                + QStringLiteral(" "));
            // The holder row goes only as it was shown: one changed or deleted on another
            // workstation meanwhile is a conflict, and the cards stay as they were.
            adq2DB->takeValuesFrom(*adq1DB);
            adq2DB->deleteCurrent();
        });
        if (!committed) {
            QApplication::restoreOverrideCursor();
            tellWriteFailure(c); // read before the listing's statement replaces the errors
            QApplication::setOverrideCursor(Qt::WaitCursor);
        }
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
        adq2DB->close();
        runListing(adq1DB->statement());
        if (committed)
            svc::AddProgramRunEdit(QStringLiteral("BasicDataHolderI"),
                                   QStringLiteral("D ") + number);
        QApplication::restoreOverrideCursor();
        enterMode(ViewMode);
        showHolder();
        if (!skippedDevices.isEmpty()) {
            svc::SelectLanguage();
            svc::ShowMessageBox(svc::GetMessageString(QStringLiteral("DeviceNoNotNumber"))
                                    + QStringLiteral("  ")
                                    + skippedDevices.join(QStringLiteral(", ")),
                                QStringLiteral("SystemMessage"),
                                16);
        }
    } catch (...) {
        QApplication::restoreOverrideCursor();
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
    }
    adqDevice->close();
    adqCardData->close();
}

} // namespace zq::forms
