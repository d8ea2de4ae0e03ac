// Deleting a holder, with his cards deleted from the devices or only released.
#include "TfrmHolder.h"

#include "Connection.h"
#include "Helpers.h"
#include "Recordset.h"
#include "Services.h"

#include <QApplication>
#include <QTabWidget>
#include <QToolBar>

#include <cmath>
#include <optional>

namespace zq::forms {

namespace svc = zq::services;
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

void TfrmHolder::btnDeleteClick()
{
    if (m_mode == AddMode || !adq1DB->isOpen() || adq1DB->isEmpty()
        || zq::data::CheckConnection() != 1) {
        svc::PlaySoundError();
        return;
    }
    svc::PlaySoundQuestion();
    svc::SelectLanguage();
    if (svc::ShowMessageBox(QStringLiteral("DeleteRecord"), QStringLiteral("SystemMessage"), 36) != 6)
        return;
    try {
        const QString number = adq1DB->text(QStringLiteral("HolderNo")).trimmed();
        const QString quoted = Connection::quoted(number);
        Connection *c = adq1DB->connection();
        zq::data::RunQuery(adqCardData,
                           QStringLiteral(" SELECT * FROM CardData WHERE HolderNo = ") + quoted
                               + QStringLiteral(" "),
                           0);
        // Cards taken off every enabled device; their rows go with the holder.
        QStringList removedCards;
        if (adqCardData->isOpen() && !adqCardData->isEmpty()) {
            svc::PlaySoundQuestion();
            svc::SelectLanguage();
            if (svc::ShowMessageBox(QStringLiteral("DeleteCardDataRecord"),
                                    QStringLiteral("SystemMessage"), 36)
                == 6) {
                QApplication::setOverrideCursor(Qt::WaitCursor);
                m_ui.tbEdit->setEnabled(false);
                m_ui.pcData->setEnabled(false);
                try {
                    zq::data::RunQuery(adqDevice,
                                       QStringLiteral(" SELECT DeviceNo FROM DeviceUnit WHERE "
                                                      "DeviceEnabled = 1 "),
                                       0);
                    QList<int32_t> devices;
                    bool valid = adqDevice->isOpen();
                    for (int row = 0; valid && row < adqDevice->recordCount(); ++row) {
                        const auto device = deviceNumber(Recordset::textOf(adqDevice->valueAt(row, 0)));
                        if (!device)
                            valid = false;
                        else
                            devices << *device;
                    }
                    const int cardColumn = adqCardData->fieldIndex(QStringLiteral("CardNo"));
                    for (int row = 0; valid && row < adqCardData->recordCount(); ++row) {
                        const QString cardText = Recordset::textOf(adqCardData->valueAt(row, cardColumn));
                        const auto card = deviceNumber(cardText);
                        if (!card)
                            break;
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
        // One transaction: the holder goes with all of his card rows, or stays with all.
        const bool committed = zq::data::WriteInTransaction(c, [&] {
            for (const QString &card : std::as_const(removedCards))
                if (!c->execute(QStringLiteral(" DELETE FROM CardData WHERE CardNo = ") + card
                                + QStringLiteral(" AND HolderNo = ") + quoted))
                    throw zq::data::DbError(c->errors());
            if (!c->execute(QStringLiteral(" UPDATE CardData SET HolderNo = NULL , CardFlag = 0 WHERE HolderNo = ")
                            + quoted + QStringLiteral(" ")))
                throw zq::data::DbError(c->errors());
            if (!c->execute(QStringLiteral(" DELETE FROM HolderData WHERE HolderNo = ") + quoted
                            + QStringLiteral(" ")))
                throw zq::data::DbError(c->errors());
        });
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
        adq2DB->close();
        runListing(adq1DB->statement());
        if (committed)
            svc::AddProgramRunEdit(QStringLiteral("BasicDataHolderI"), QStringLiteral("D ") + number);
        QApplication::restoreOverrideCursor();
        enterMode(ViewMode);
        showHolder();
    } catch (...) {
        QApplication::restoreOverrideCursor();
        m_ui.tbEdit->setEnabled(true);
        m_ui.pcData->setEnabled(true);
    }
    adqDevice->close();
    adqCardData->close();
}

} // namespace zq::forms
