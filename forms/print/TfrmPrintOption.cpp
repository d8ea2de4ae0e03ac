#include "TfrmPrintOption.h"

#include "BatchList.h"
#include "ModuleLog.h"
#include "ModuleState.h"
#include "PrintStatements.h"
#include "Recordset.h"
#include "Services.h"
#include "TfrmHolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QThread>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;

namespace {
// A sketch of a card in CR80 proportions: background band, photo frame and text lines.
QPixmap cardPreview(bool portrait)
{
    const QSize size = portrait ? QSize(76, 120) : QSize(120, 76);
    QPixmap pixmap(size + QSize(2, 2));
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF card(1, 1, size.width() - 1, size.height() - 1);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(250, 250, 252));
    p.drawRoundedRect(card, 6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 90, 160));
    const QRectF band = portrait ? QRectF(1, 1, card.width(), 22) : QRectF(1, 1, card.width(), 16);
    p.setClipRect(band);
    p.drawRoundedRect(card, 6, 6);
    p.setClipping(false);
    p.setBrush(QColor(200, 210, 225));
    const QRectF photo = portrait ? QRectF(22, 30, 34, 42) : QRectF(10, 24, 34, 42);
    p.drawRect(photo);
    p.setBrush(QColor(150, 150, 150));
    if (portrait) {
        for (int i = 0; i < 3; ++i)
            p.drawRect(QRectF(14, 80 + i * 10, i == 0 ? 50 : 38, 4));
    } else {
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(52, 28 + i * 10, i == 0 ? 56 : 42, 4));
    }
    return pixmap;
}

void centreOver(QWidget *window, const QWidget *over)
{
    if (!over || over == window)
        return;
    const QRect frame = over->frameGeometry();
    window->move(frame.center() - window->rect().center());
}
} // namespace

TfrmPrintOption::TfrmPrintOption(QWidget *parent)
    : QDialog(parent)
    , rabV(new QRadioButton(QStringLiteral("Vertical"), this))
    , rabH(new QRadioButton(QStringLiteral("Horizonal"), this))
    , Image1(new QLabel(this))
    , Image2(new QLabel(this))
    , labV(new QLabel(QStringLiteral("Vertical:968(W)*608(H) "), this))
    , labH(new QLabel(QStringLiteral("Horizonal:608(W)*968(H)"), this))
    , labUnit(new QLabel(QStringLiteral("Unit:Pixel"), this))
    , btnPrintLabel(new QPushButton(QStringLiteral("Print Label"), this))
    , btnExit(new QPushButton(QStringLiteral("Exit"), this))
{
    setObjectName(QStringLiteral("frmPrintOption"));
    setProperty("zq.formClass", QStringLiteral("TfrmPrintOption"));
    setWindowTitle(QStringLiteral("Print Option"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setModal(true);
    rabV->setObjectName(QStringLiteral("rabV"));
    rabH->setObjectName(QStringLiteral("rabH"));
    Image1->setObjectName(QStringLiteral("Image1"));
    Image2->setObjectName(QStringLiteral("Image2"));
    labV->setObjectName(QStringLiteral("labV"));
    labH->setObjectName(QStringLiteral("labH"));
    labUnit->setObjectName(QStringLiteral("labUnit"));
    btnPrintLabel->setObjectName(QStringLiteral("btnPrintLabel"));
    btnExit->setObjectName(QStringLiteral("btnExit"));
    Image1->setPixmap(cardPreview(true));
    Image2->setPixmap(cardPreview(false));
    for (QLabel *image : {Image1, Image2})
        image->setAlignment(Qt::AlignCenter);
    for (QLabel *size : {labV, labH})
        size->setWordWrap(true);
    btnPrintLabel->setIcon(style()->standardIcon(QStyle::SP_FileDialogContentsView));
    btnExit->setIcon(style()->standardIcon(QStyle::SP_DialogCloseButton));

    auto *cards = new QGridLayout;
    cards->setHorizontalSpacing(10);
    cards->setVerticalSpacing(4);
    cards->addWidget(Image1, 0, 0, 2, 1);
    cards->addWidget(rabV, 0, 1, Qt::AlignBottom);
    cards->addWidget(labV, 1, 1, Qt::AlignTop);
    cards->addWidget(Image2, 0, 2, 2, 1);
    cards->addWidget(rabH, 0, 3, Qt::AlignBottom);
    cards->addWidget(labH, 1, 3, Qt::AlignTop);
    cards->setColumnStretch(1, 1);
    cards->setColumnStretch(3, 1);
    auto *bottom = new QHBoxLayout;
    bottom->addWidget(labUnit);
    bottom->addStretch(1);
    for (QPushButton *b : {btnPrintLabel, btnExit}) {
        b->setMinimumWidth(110);
        bottom->addWidget(b);
    }
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->addLayout(cards, 1);
    layout->addLayout(bottom);
    setFixedSize(583, 193);
    rabV->setChecked(true);
    btnPrintLabel->setDefault(true);

    connect(btnPrintLabel, &QPushButton::clicked, this, &TfrmPrintOption::btnPrintLabelClick);
    connect(btnExit, &QPushButton::clicked, this, &TfrmPrintOption::btnExitClick);
}

TfrmPrintOption::~TfrmPrintOption() = default;

void TfrmPrintOption::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    if (!parentWidget())
        centreOver(this, QApplication::activeWindow());
    svc::SetupFormLanguage(this);
    svc::PlaySoundOpen();
}

void TfrmPrintOption::closeEvent(QCloseEvent *event)
{
    // Lets the close sound of the caller start before the window goes.
    QThread::msleep(100);
    QDialog::closeEvent(event);
}

void TfrmPrintOption::btnPrintLabelClick()
{
    try {
        svc::SelectReportLanguage();
        // Nothing but a well-formed list of holder numbers ever reaches the statement; a
        // stored value that is not one (a damaged or altered file) is told, not taken for
        // no batch, which would print a different set of holders.
        bool damaged = false;
        const QString batchList = batch::readBatchList(batch::settingsFile(svc::GetProgramPath()),
                                                       &damaged);
        auto *holder = qobject_cast<TfrmHolder *>(
            zq::module::state().registry[int(zq::module::WindowKind::Holder)].data());
        const bool useBatch = holder && holder->batchChosen();
        if (useBatch && damaged) {
            svc::ShowMessageBox(
                QStringLiteral("BatchListUnreadable"), QStringLiteral("SystemMessage"), 16);
            return;
        }
        QString filter = holder ? holder->departmentFilter() : QString();
        if (!(useBatch && !batchList.isEmpty()) && filter == QLatin1String("ALL")) {
            holder->setDepartmentFilter(QString());
            filter.clear();
        }
        const print::LabelJob job = print::labelJob(rabV->isChecked(), useBatch, batchList, filter);
        if (!holder || !holder->listing() || holder->listing()->isEmpty())
            return;
        svc::ShowReport(job.templateFile, job.statement);
    } catch (...) {
        zq::logCaught("printing card labels");
    }
    close();
}

} // namespace zq::forms
