// The controls of the holder window; the behaviour is in TfrmHolder.cpp.
#include "TfrmHolder.h"

#include "InputGuards.h"
#include "PictureBox.h"
#include "Services.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>

#include <utility>

namespace zq::forms {

namespace {

QLabel *label(QWidget *page, const QString &name, const QString &caption)
{
    auto *l = new QLabel(caption, page);
    l->setObjectName(name);
    return l;
}

QLineEdit *lineEdit(QWidget *page, const QString &name, int maxLength)
{
    auto *e = new QLineEdit(page);
    e->setObjectName(name);
    e->setMaxLength(maxLength);
    refuseControlCharacters(e);
    return e;
}

QDateEdit *dateEdit(QWidget *page, const QString &name)
{
    auto *d = new QDateEdit(page);
    d->setObjectName(name);
    d->setCalendarPopup(true);
    d->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat).contains(QLatin1String("yyyy"))
                            ? QLocale().dateFormat(QLocale::ShortFormat)
                            : QStringLiteral("yyyy-MM-dd"));
    d->setMinimumWidth(130);
    return d;
}

QComboBox *comboBox(QWidget *page, const QString &name, bool editable = false)
{
    auto *c = new QComboBox(page);
    c->setObjectName(name);
    c->setEditable(editable);
    c->setMinimumWidth(200);
    return c;
}

QIcon drawMark(bool yes)
{
    QPixmap pm(18, 18);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(yes ? QColor(30, 140, 60) : QColor(190, 40, 40), 2.5));
    if (yes) {
        p.drawLine(3, 9, 7, 14);
        p.drawLine(7, 14, 15, 4);
    } else {
        p.drawLine(4, 4, 14, 14);
        p.drawLine(14, 4, 4, 14);
    }
    return QIcon(pm);
}

// Drawn once for every window of the process.
QIcon mark(bool yes)
{
    static const QIcon tick = drawMark(true);
    static const QIcon cross = drawMark(false);
    return yes ? tick : cross;
}

} // namespace

// The Data page's controls are made here, then given what the window has done to them so
// far (code lists, deposits, the mode's look, the language, the holder shown), as they would
// have had it made with the window.
void TfrmHolder::buildPage()
{
    if (m_dataBuilt || m_building)
        return;
    m_building = true;
    buildDataPage();
    m_dataBuilt = true;
    connectDataPage();
    {
        const QSignalBlocker b1(cmbDepartment), b2(cmbTitle), b3(cmbType), b4(cmbDeposit04);
        cmbDepartment->addItems(m_departmentItems);
        cmbTitle->addItems(m_titleItems);
        cmbType->addItems(m_typeItems);
        cmbDeposit04->addItems(m_depositItems);
        cmbDeposit04->setEditText(QString());
    }
    setPunch(m_punch == 1);
    if (m_modeEntered)
        showModeOnPage();
    if (m_shown) {
        m_ui.tsData->setProperty("zq.formClass", property("zq.formClass"));
        zq::services::SetupFormLanguage(m_ui.tsData);
    }
    if (std::exchange(m_showPending, false)) {
        // The holder noted, shown without touching the state of whoever made the page.
        const bool lock = m_lock, modified = m_modified, keyTyped = m_keyTyped,
                   showTextTyped = m_showTextTyped;
        showHolder();
        m_lock = lock;
        m_modified = modified;
        m_keyTyped = keyTyped;
        m_showTextTyped = showTextTyped;
    }
    // Made on a page being shown, the controls are shown as the page would have shown them.
    if (m_ui.tsData->isVisible()) {
        for (QWidget *child : m_ui.tsData->findChildren<QWidget *>(Qt::FindDirectChildrenOnly))
            if (!child->testAttribute(Qt::WA_WState_ExplicitShowHide))
                child->show();
    }
    m_building = false;
}

const QByteArray &TfrmHolder::currentPhoto() const
{
    if (m_showPending)
        const_cast<TfrmHolder *>(this)->buildPage();
    return m_photo;
}

void TfrmHolder::buildDataPage()
{
    QWidget *page = m_ui.tsData;
    // The window opens on the View page: the Data page's layout goes onto the page when the
    // page is first shown (see eventFilter), so that the first show neither measures nor
    // polishes its many fields.
    auto *grid = new QGridLayout;
    m_dataLayout = grid;
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);

    edtSequenceNo = lineEdit(page, QStringLiteral("edtSequenceNo"), 8);
    edtSequenceNo->setReadOnly(true);
    edtSequenceNo->hide();
    auto *seqLabel = label(page, QStringLiteral("lblSequenceNo"), QStringLiteral("SequenceNo:"));
    seqLabel->hide();
    edNo = lineEdit(page, QStringLiteral("edNo"), 10);
    edName = lineEdit(page, QStringLiteral("edName"), 40);
    edShowText = lineEdit(page, QStringLiteral("edShowText"), 16);
    cmbDepartment = comboBox(page, QStringLiteral("cmbDepartment"));
    cmbTitle = comboBox(page, QStringLiteral("cmbTitle"));
    cmbType = comboBox(page, QStringLiteral("cmbType"));
    dtBirthday = dateEdit(page, QStringLiteral("dtBirthday"));
    edEmail = lineEdit(page, QStringLiteral("edEmail"), 30);
    edPIN = lineEdit(page, QStringLiteral("edPIN"), 4);
    edPIN->setEchoMode(QLineEdit::Password);
    // Digits only on every path (keys, paste, drag and drop); the key filter of the window
    // drops the other keys before they get here.
    // One expression for every window: each copy shares its compiled pattern, which would
    // otherwise be compiled again for the first number shown in each new window.
    static const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit *e : {edPIN, edtSequenceNo})
        e->setValidator(new QRegularExpressionValidator(digits, e));
    dtDeposit01 = dateEdit(page, QStringLiteral("dtDeposit01"));
    cbxDeposit02 = new QCheckBox(page);
    cbxDeposit02->setObjectName(QStringLiteral("cbxDeposit02"));
    dtDeposit02 = dateEdit(page, QStringLiteral("dtDeposit02"));
    cbxDeposit03 = new QCheckBox(page);
    cbxDeposit03->setObjectName(QStringLiteral("cbxDeposit03"));
    dtDeposit03 = dateEdit(page, QStringLiteral("dtDeposit03"));
    cmbDeposit04 = comboBox(page, QStringLiteral("cmbDeposit04"), true);
    cmbDeposit04->lineEdit()->setMaxLength(40);
    cmbDeposit04->setInsertPolicy(QComboBox::NoInsert);
    edDefinable1 = lineEdit(page, QStringLiteral("edDefinable1"), 20);
    edDefinable2 = lineEdit(page, QStringLiteral("edDefinable2"), 20);
    edDescription = lineEdit(page, QStringLiteral("edDescription"), 40);
    dtStartDate = dateEdit(page, QStringLiteral("dtStartDate"));
    labExpireDate = label(page, QStringLiteral("labExpireDate"), QStringLiteral("ExpiredDate:"));
    cbxExpireDate = new QCheckBox(page);
    cbxExpireDate->setObjectName(QStringLiteral("cbxExpireDate"));
    dtExpiredDate = dateEdit(page, QStringLiteral("dtExpiredDate"));
    btnPunchCard = new QToolButton(page);
    btnPunchCard->setObjectName(QStringLiteral("btnPunchCard"));
    btnPunchCard->setCheckable(true);
    btnPunchCard->setIconSize(QSize(18, 18));
    btnPunchCard->setFixedSize(30, 26);
    m_yes = mark(true);
    m_no = mark(false);

    auto withBox = [page](QCheckBox *box, QDateEdit *date) {
        auto *w = new QWidget(page);
        auto *h = new QHBoxLayout(w);
        h->setContentsMargins(0, 0, 0, 0);
        h->addWidget(box);
        h->addWidget(date);
        h->addStretch(1);
        return w;
    };
    const QList<QPair<QLabel *, QWidget *>> left{
        {label(page, "lblNo", "No:"), edNo},
        {label(page, "lblName", "Name:"), edName},
        {label(page, "lblShowText", "ShowText:"), edShowText},
        {label(page, "lblDepartment", "Department:"), cmbDepartment},
        {label(page, "lblTitle", "Title:"), cmbTitle},
        {label(page, "lblType", "Type:"), cmbType},
        {label(page, "lblBirthday", "Birthday:"), dtBirthday},
        {label(page, "lblEmail", "E_mail:"), edEmail},
        {label(page, "lblPIN", "PIN:"), edPIN},
        {label(page, "lblDeposit01", QString::fromUtf8("發卡:")), dtDeposit01},
        {label(page, "lblDeposit02", QString::fromUtf8("換卡:")),
         withBox(cbxDeposit02, dtDeposit02)},
        {label(page, "lblDeposit03", QString::fromUtf8("補卡:")),
         withBox(cbxDeposit03, dtDeposit03)},
        {label(page, "lblDeposit04", QString::fromUtf8("押金:")), cmbDeposit04},
    };
    int row = 0;
    for (const auto &p : left) {
        grid->addWidget(p.first, row, 0, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(p.second, row, 1);
        ++row;
    }
    grid->addWidget(seqLabel, row, 0);
    grid->addWidget(edtSequenceNo, row, 1);

    auto *punch = new QWidget(page);
    auto *punchLayout = new QHBoxLayout(punch);
    punchLayout->setContentsMargins(0, 0, 0, 0);
    punchLayout->addWidget(btnPunchCard);
    punchLayout->addStretch(1);
    const QList<QPair<QLabel *, QWidget *>> right{
        {label(page, "lblDefinable1", "Definable #1:"), edDefinable1},
        {label(page, "lblDefinable2", "Definable #2:"), edDefinable2},
        {label(page, "lblDescription", "Description:"), edDescription},
        {label(page, "lblStartDate", "StartDate:"), dtStartDate},
        {labExpireDate, withBox(cbxExpireDate, dtExpiredDate)},
        {label(page, "lblPunchCard", "Punch Card:"), punch},
    };
    row = 0;
    for (const auto &p : right) {
        grid->addWidget(p.first, row, 3, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(p.second, row, 4);
        ++row;
    }
    auto *pnlPhoto = new QWidget(page);
    pnlPhoto->setObjectName(QStringLiteral("pnlPhoto"));
    auto *photoLayout = new QHBoxLayout(pnlPhoto);
    photoLayout->setContentsMargins(0, 0, 0, 0);
    imgPhoto = new PictureBox(pnlPhoto);
    imgPhoto->setObjectName(QStringLiteral("imgPhoto"));
    imgPhoto->setFixedSize(150, 188);
    auto *photoButtons = new QVBoxLayout;
    btnOpen = new QPushButton(QStringLiteral("Open"), pnlPhoto);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnClear = new QPushButton(QStringLiteral("Clear"), pnlPhoto);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    photoButtons->addWidget(btnOpen);
    photoButtons->addWidget(btnClear);
    photoButtons->addStretch(1);
    photoLayout->addWidget(imgPhoto);
    photoLayout->addLayout(photoButtons);
    photoLayout->addStretch(1);
    grid->addWidget(label(page, "lblPhoto", "Photo:"), row, 3, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(pnlPhoto, row, 4, 7, 1, Qt::AlignTop);
    grid->setColumnMinimumWidth(2, 16);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(14, 1);
}

void TfrmHolder::buildViewPage()
{
    QWidget *page = m_ui.tsView;
    auto *layout = static_cast<QVBoxLayout *>(page->layout());
    auto *top = new QWidget(page);
    top->setObjectName(QStringLiteral("pnlTop"));
    auto *h = new QHBoxLayout(top);
    h->setContentsMargins(2, 2, 2, 2);
    h->addWidget(label(top, "labDepartment", "Department:"));
    cmbDept = comboBox(top, QStringLiteral("cmbDept"));
    cmbDept->setMinimumWidth(260);
    h->addWidget(cmbDept);
    chkBatch = new QCheckBox(QStringLiteral("Batch"), top);
    chkBatch->setObjectName(QStringLiteral("chkBatch"));
    chkBatch->hide();
    btnBatchSet = new QPushButton(QStringLiteral("Batch Setting"), top);
    btnBatchSet->setObjectName(QStringLiteral("btnBatchSet"));
    btnBatchSet->hide();
    h->addWidget(chkBatch);
    h->addWidget(btnBatchSet);
    h->addStretch(1);
    auto *version = label(top, "Label1", "20210112");
    QFont bold = version->font();
    bold.setBold(true);
    version->setFont(bold);
    version->setStyleSheet(QStringLiteral("color: red"));
    h->addWidget(version);
    layout->insertWidget(0, top);
}

} // namespace zq::forms
