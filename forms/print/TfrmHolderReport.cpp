#include "TfrmHolderReport.h"

#include "Helpers.h"
#include "ModuleLog.h"
#include "PrintStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QApplication>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;
using zq::data::Recordset;

namespace {
constexpr int OutputRight = 0x40;
}

TfrmHolderReport::TfrmHolderReport(int rights, QWidget *parent)
    : QWidget(parent)
    , gbDepartment(new QGroupBox(QStringLiteral("gbDepartment"), this))
    , rbAll(new QRadioButton(QStringLiteral("ALL Department"), gbDepartment))
    , rbDepartment(new QRadioButton(QStringLiteral("By Department"), gbDepartment))
    , edDepartment(new QComboBox(gbDepartment))
    , btnView(new QPushButton(QStringLiteral("View(&V)"), this))
    , btnClose(new QPushButton(QStringLiteral("Close"), this))
    , adqDepartment(new Recordset(QStringLiteral("adqDepartment"), this))
{
    setObjectName(QStringLiteral("frmHolderReport"));
    setProperty("zq.formClass", QStringLiteral("TfrmHolderReport"));
    setWindowTitle(QStringLiteral("Holder Report"));
    gbDepartment->setObjectName(QStringLiteral("gbDepartment"));
    rbAll->setObjectName(QStringLiteral("rbAll"));
    rbDepartment->setObjectName(QStringLiteral("rbDepartment"));
    edDepartment->setObjectName(QStringLiteral("edDepartment"));
    btnView->setObjectName(QStringLiteral("btnView"));
    btnClose->setObjectName(QStringLiteral("btnClose"));
    btnView->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    btnClose->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    auto *group = new QGridLayout(gbDepartment);
    group->setContentsMargins(16, 14, 16, 14);
    group->setVerticalSpacing(12);
    group->addWidget(rbAll, 0, 0, 1, 2);
    group->addWidget(rbDepartment, 1, 0);
    group->addWidget(edDepartment, 1, 1);
    group->setColumnStretch(1, 1);
    edDepartment->setMinimumWidth(190);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    for (QPushButton *b : {btnView, btnClose}) {
        b->setMinimumWidth(96);
        buttons->addWidget(b);
    }
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->addWidget(gbDepartment);
    layout->addStretch(1);
    layout->addLayout(buttons);
    resize(430, 250);
    rbAll->setChecked(true);
    btnView->setDefault(true);

    connect(btnView, &QPushButton::clicked, this, &TfrmHolderReport::btnViewClick);
    connect(btnClose, &QPushButton::clicked, this, &TfrmHolderReport::btnCloseClick);
    formCreate(rights);
}

TfrmHolderReport::~TfrmHolderReport() = default;

void TfrmHolderReport::formCreate(int rights)
{
    zq::data::BindFormDataSets(this, 0);
    const QString user = svc::GetLoginUserID();
    m_supervisor = false;
    if (zq::data::RunQuery(adqDepartment, print::userStatement(user), 0) == 1) {
        try {
            if (!adqDepartment->isEmpty()
                && adqDepartment->value(QStringLiteral("Supervisor")).toInt() == 1)
                m_supervisor = true;
        } catch (...) {
            zq::logCaught("reading the login user");
        }
    }
    if (zq::data::RunQuery(adqDepartment, print::reportDepartmentList(m_supervisor, user), 0)
        == 1) {
        try {
            for (adqDepartment->first(); !adqDepartment->eof(); adqDepartment->next())
                edDepartment->addItem(
                    adqDepartment->text(QStringLiteral("DepartmentName")).trimmed());
        } catch (...) {
            zq::logCaught("reading the report departments");
        }
    }
    adqDepartment->close();
    edDepartment->setCurrentIndex(edDepartment->count() > 0 ? 0 : -1);
    btnView->setEnabled((rights & OutputRight) != 0);
}

void TfrmHolderReport::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    svc::SelectFormLanguage(this);
    svc::SetupFormLanguage(this);
    svc::PlaySoundOpen();
    QApplication::restoreOverrideCursor();
}

void TfrmHolderReport::closeEvent(QCloseEvent *event)
{
    adqDepartment->close();
    zq::data::BindFormDataSets(this, 1);
    svc::PlaySoundClose();
    event->accept();
}

void TfrmHolderReport::btnViewClick()
{
    if (!btnView->isEnabled())
        return;
    svc::PlaySoundOk();
    const QString user = svc::GetLoginUserID();
    QString department = edDepartment->currentText().trimmed();
    if (rbDepartment->isChecked()) {
        bool found = false;
        if (zq::data::RunQuery(adqDepartment, print::reportDepartmentLookup(m_supervisor, user), 0)
            == 1) {
            try {
                found = zq::data::LocateRecord(
                    adqDepartment, QStringLiteral("DepartmentName"), department);
                // The names are trimmed in the list; a stored name with blanks still matches.
                for (int row = 0; !found && row < adqDepartment->recordCount(); ++row) {
                    adqDepartment->moveTo(row);
                    found = adqDepartment->text(QStringLiteral("DepartmentName")).trimmed()
                            == department;
                }
                if (found)
                    department = adqDepartment->text(QStringLiteral("DepartmentNo")).trimmed();
            } catch (...) {
                zq::logCaught("finding the chosen department");
                found = false;
            }
        }
        adqDepartment->close();
        if (!found || department.isEmpty())
            return;
    } else {
        department.clear();
    }
    try {
        // The report engine reports a failing statement to no one: a link that is gone is
        // found (and, where the server answers again, reopened) here, and told.
        if (zq::data::RunQuery(
                adqDepartment, QStringLiteral(" SELECT HolderNo FROM HolderData WHERE 1 = 2 "), 0)
            != 1) {
            tellWriteFailure(adqDepartment->connection());
            return;
        }
        adqDepartment->close();
        const QString statement = print::holderReport(department, m_supervisor, user);
        svc::SelectReportLanguage();
        svc::ShowReport(QStringLiteral("HolderData.frf"), statement);
    } catch (...) {
        zq::logCaught("opening the holder report");
    }
}

} // namespace zq::forms
