// Deleting a holder, with his cards deleted from the devices or only released.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "HolderLog.h"
#include "HolderStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QTabWidget>
#include <QToolBar>

#include <cmath>
#include <optional>
#include <stdexcept>

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

// The holder changed or went on another workstation after the row was locked.
struct ChangedMeanwhile : std::runtime_error
{
    ChangedMeanwhile()
        : std::runtime_error("the holder changed on another workstation")
    {}
};

} // namespace

// What a deletion does to the holder's cards.
struct TfrmHolder::CardRemoval
{
    QString cards;              // the condition on CardData that finds them
    QStringList removed;        // the cards taken off the devices
    QStringList skippedDevices; // device rows whose number is no number
    QStringList calls;          // "card (device, ...)" for each card removed
};

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

// Reads the holder shown again, by his key as stored, among the holders of his visible
// number (which tell whose cards are his): true when he is there as he was read, his photo
// included. Otherwise the operator is told and nothing is done.
bool TfrmHolder::stillAsShown(CardRemoval &removal)
{
    adq2DB->close();
    if (zq::data::RunQuery(adq2DB, st::holdersNumbered(m_holder.number), 0) != 1) {
        tellWriteFailure(adq1DB->connection());
        return false;
    }
    removal.cards = cardCondition(m_holder.key, adq2DB->recordCount());
    const int keyColumn = adq2DB->fieldIndex(QStringLiteral("HolderNo"));
    bool found = false;
    for (int row = 0; !found && row < adq2DB->recordCount(); ++row)
        found = Recordset::textOf(adq2DB->valueAt(row, keyColumn)) == m_holder.key
                && adq2DB->moveTo(row);
    if (!found || !st::unchangedSince(*adq2DB, m_holder)) {
        adq2DB->close();
        tellConflict();
        return false;
    }
    return true;
}

// Takes the cards of adqCardData off every enabled device.
void TfrmHolder::removeFromDevices(CardRemoval &removal)
{
    zq::data::RunQuery(
        adqDevice, QStringLiteral(" SELECT DeviceNo FROM DeviceUnit WHERE DeviceEnabled = 1 "), 0);
    // A device row whose number is no number cannot be called; the others still are, or the
    // cards would stay on every controller.
    QList<int32_t> devices;
    QStringList deviceTexts;
    for (int row = 0; adqDevice->isOpen() && row < adqDevice->recordCount(); ++row) {
        const QString text = Recordset::textOf(adqDevice->valueAt(row, 0));
        if (const auto device = deviceNumber(text)) {
            devices << *device;
            deviceTexts << text.trimmed();
        } else {
            removal.skippedDevices
                << (text.trimmed().isEmpty() ? QStringLiteral("''") : text.trimmed().left(40));
        }
    }
    adqDevice->close();
    const int cardColumn = adqCardData->fieldIndex(QStringLiteral("CardNo"));
    for (int row = 0; row < adqCardData->recordCount(); ++row) {
        const QString cardText = Recordset::textOf(adqCardData->valueAt(row, cardColumn));
        // A card number that is no number reaches no device: that card is only released.
        const auto card = deviceNumber(cardText);
        if (!card)
            continue;
        for (int32_t device : std::as_const(devices)) {
            svc::DeviceCardDelete(device, *card);
            QCoreApplication::processEvents();
        }
        removal.removed << cardText;
        if (!devices.isEmpty())
            removal.calls << cardText.trimmed() + QStringLiteral(" (")
                                 + deviceTexts.join(QStringLiteral(", ")) + QLatin1Char(')');
        QCoreApplication::processEvents();
    }
}

// The holder's cards: with the operator's yes, taken off the devices. False when the holder
// changed meanwhile (the operator is told, nothing is done).
bool TfrmHolder::takeCardsOff(CardRemoval &removal)
{
    zq::data::RunQuery(adqCardData,
                       QStringLiteral(" SELECT * FROM CardData WHERE ") + removal.cards
                           + QStringLiteral(" "),
                       0);
    if (!adqCardData->isOpen() || adqCardData->isEmpty())
        return true;
    svc::PlaySoundQuestion();
    svc::SelectLanguage();
    if (svc::ShowMessageBox(
            QStringLiteral("DeleteCardDataRecord"), QStringLiteral("SystemMessage"), 36)
        != 6)
        return true; // the cards are only released
    // The question may stay open a long time: the holder is read again after it, just
    // before the first device call.
    if (!stillAsShown(removal))
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_ui.tbEdit->setEnabled(false);
    m_ui.pcData->setEnabled(false);
    try {
        removeFromDevices(removal);
    } catch (...) {
        st::logCaught("taking the cards off the devices");
    }
    QApplication::restoreOverrideCursor();
    return true;
}

// One transaction: the holder goes with all of his card rows, or stays with all. His row is
// locked first and read again: one changed or deleted on another workstation meanwhile (his
// photo included) is a conflict (`changed`), and the cards stay as they were.
bool TfrmHolder::deleteRows(const CardRemoval &removal, bool &changed)
{
    const QString &cards = removal.cards;
    Connection *c = adq1DB->connection();
    const auto run = [c](const QString &sql) {
        if (!c->execute(sql))
            throw zq::data::DbError(c->errors());
    };
    return zq::data::WriteInTransaction(c, [&] {
        run(QStringLiteral(" UPDATE HolderData SET CheckMark = CheckMark WHERE HolderNo = ")
            + Connection::quoted(m_holder.key));
        if (zq::data::RunQuery(adq2DB, st::holderByKey(m_holder.key), 0) != 1)
            throw zq::data::DbError(c->errors());
        if (adq2DB->isEmpty() || !st::unchangedSince(*adq2DB, m_holder)) {
            changed = true;
            throw ChangedMeanwhile();
        }
        for (const QString &card : removal.removed)
            run(QStringLiteral(" DELETE FROM CardData WHERE CardNo = ") + Connection::quoted(card)
                + QStringLiteral(" AND ") + cards);
        run(QStringLiteral(" UPDATE CardData SET HolderNo = NULL , CardFlag = 0 WHERE ") + cards
            + QStringLiteral(" "));
        st::guardWith(*adq2DB, m_holder);
        adq2DB->deleteCurrent();
    });
}

void TfrmHolder::btnDeleteClick()
{
    if (m_mode == AddMode || !adq1DB->isOpen() || adq1DB->isEmpty() || !m_holder.isStored()
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
        // A holder changed or deleted on another workstation since he was shown keeps his
        // cards on the devices: nothing is done, and the user is told.
        CardRemoval removal;
        if (!stillAsShown(removal) || !takeCardsOff(removal)) {
            adqCardData->close();
            return;
        }
        adqCardData->close();
        QApplication::setOverrideCursor(Qt::WaitCursor);
        bool changed = false;
        const bool committed = deleteRows(removal, changed);
        QApplication::restoreOverrideCursor();
        if (!committed) {
            // Told before the listing's statement replaces the errors.
            if (changed)
                tellConflict();
            else
                tellWriteFailure(adq1DB->connection());
            // The cards are off the controllers while the database still has them: the
            // operator learns which, and the next Delete finishes the job.
            if (!removal.calls.isEmpty())
                tellSkipped(QStringLiteral("CardsOffDevicesOnly"), removal.calls, 48);
        }
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
        adq2DB->close();
        runListing(adq1DB->statement());
        if (committed)
            svc::AddProgramRunEdit(QStringLiteral("BasicDataHolderI"),
                                   QStringLiteral("D ") + m_holder.number);
        enterMode(ViewMode);
        showHolder();
        if (!removal.skippedDevices.isEmpty())
            tellSkipped(QStringLiteral("DeviceNoNotNumber"), removal.skippedDevices, 16);
    } catch (...) {
        st::logCaught("deleting a holder");
        QApplication::restoreOverrideCursor();
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
    }
    adqDevice->close();
    adqCardData->close();
}

// A message of `key`'s text followed by `items`.
void TfrmHolder::tellSkipped(const QString &key, const QStringList &items, int flags)
{
    svc::SelectLanguage();
    svc::ShowMessageBox(svc::GetMessageString(key) + QStringLiteral("  ")
                            + items.join(key == QLatin1String("DeviceNoNotNumber")
                                             ? QStringLiteral(", ")
                                             : QStringLiteral("; ")),
                        QStringLiteral("SystemMessage"),
                        flags);
}

} // namespace zq::forms
