// The controls of the holder window's Data page and where they sit.
#include "HolderDataPage.h"

#include "InputGuards.h"
#include "PictureBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>
#include <QVBoxLayout>

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

QCheckBox *checkBox(QWidget *page, const QString &name)
{
    auto *c = new QCheckBox(page);
    c->setObjectName(name);
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

// A check box with the date it switches on, in one cell.
QWidget *withBox(QWidget *page, QCheckBox *box, QDateEdit *date)
{
    auto *w = new QWidget(page);
    auto *h = new QHBoxLayout(w);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(box);
    h->addWidget(date);
    h->addStretch(1);
    return w;
}

using Rows = QList<QPair<QLabel *, QWidget *>>;

int addRows(QGridLayout *grid, const Rows &rows, int column)
{
    int row = 0;
    for (const auto &p : rows) {
        grid->addWidget(p.first, row, column, Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(p.second, row, column + 1);
        ++row;
    }
    return row;
}

} // namespace

void HolderDataPage::build()
{
    QWidget *page = this;
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
    // Digits only on every path (keys, paste, drag and drop); the key filter drops the
    // other keys before they get here. One expression for every window: its copies share
    // the compiled pattern.
    static const QRegularExpression digits(QStringLiteral("[0-9]*"));
    for (QLineEdit *e : {edPIN, edtSequenceNo})
        e->setValidator(new QRegularExpressionValidator(digits, e));
    dtDeposit01 = dateEdit(page, QStringLiteral("dtDeposit01"));
    cbxDeposit02 = checkBox(page, QStringLiteral("cbxDeposit02"));
    dtDeposit02 = dateEdit(page, QStringLiteral("dtDeposit02"));
    cbxDeposit03 = checkBox(page, QStringLiteral("cbxDeposit03"));
    dtDeposit03 = dateEdit(page, QStringLiteral("dtDeposit03"));
    cmbDeposit04 = comboBox(page, QStringLiteral("cmbDeposit04"), true);
    cmbDeposit04->lineEdit()->setMaxLength(40);
    cmbDeposit04->setInsertPolicy(QComboBox::NoInsert);
    edDefinable1 = lineEdit(page, QStringLiteral("edDefinable1"), 20);
    edDefinable2 = lineEdit(page, QStringLiteral("edDefinable2"), 20);
    edDescription = lineEdit(page, QStringLiteral("edDescription"), 40);
    dtStartDate = dateEdit(page, QStringLiteral("dtStartDate"));
    labExpireDate = label(page, QStringLiteral("labExpireDate"), QStringLiteral("ExpiredDate:"));
    cbxExpireDate = checkBox(page, QStringLiteral("cbxExpireDate"));
    dtExpiredDate = dateEdit(page, QStringLiteral("dtExpiredDate"));
    btnPunchCard = new QToolButton(page);
    btnPunchCard->setObjectName(QStringLiteral("btnPunchCard"));
    btnPunchCard->setCheckable(true);
    btnPunchCard->setIconSize(QSize(18, 18));
    btnPunchCard->setFixedSize(30, 26);
    m_yes = mark(true);
    m_no = mark(false);

    auto *grid = new QGridLayout(page);
    grid->setContentsMargins(14, 12, 14, 12);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    const int leftRows = addRows(
        grid,
        {{label(page, "lblNo", "No:"), edNo},
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
          withBox(page, cbxDeposit02, dtDeposit02)},
         {label(page, "lblDeposit03", QString::fromUtf8("補卡:")),
          withBox(page, cbxDeposit03, dtDeposit03)},
         {label(page, "lblDeposit04", QString::fromUtf8("押金:")), cmbDeposit04}},
        0);
    grid->addWidget(seqLabel, leftRows, 0);
    grid->addWidget(edtSequenceNo, leftRows, 1);

    auto *punch = new QWidget(page);
    auto *punchLayout = new QHBoxLayout(punch);
    punchLayout->setContentsMargins(0, 0, 0, 0);
    punchLayout->addWidget(btnPunchCard);
    punchLayout->addStretch(1);
    const int rightRows = addRows(grid,
                                  {{label(page, "lblDefinable1", "Definable #1:"), edDefinable1},
                                   {label(page, "lblDefinable2", "Definable #2:"), edDefinable2},
                                   {label(page, "lblDescription", "Description:"), edDescription},
                                   {label(page, "lblStartDate", "StartDate:"), dtStartDate},
                                   {labExpireDate, withBox(page, cbxExpireDate, dtExpiredDate)},
                                   {label(page, "lblPunchCard", "Punch Card:"), punch}},
                                  3);
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
    grid->addWidget(label(page, "lblPhoto", "Photo:"), rightRows, 3, Qt::AlignRight | Qt::AlignTop);
    grid->addWidget(pnlPhoto, rightRows, 4, 7, 1, Qt::AlignTop);
    grid->setColumnMinimumWidth(2, 16);
    grid->setColumnStretch(1, 1);
    grid->setColumnStretch(4, 1);
    grid->setRowStretch(14, 1);
}

} // namespace zq::forms
