#include "BatchEditDialog.h"

#include "Services.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace zq::forms::holder {

namespace svc = zq::services;

namespace {

QDateEdit *dateEdit(QWidget *parent, const QString &name)
{
    auto *d = new QDateEdit(QDate::currentDate(), parent);
    d->setObjectName(name);
    d->setCalendarPopup(true);
    d->setDateRange(firstBatchDate(), lastBatchDate());
    const QString format = QLocale().dateFormat(QLocale::ShortFormat);
    d->setDisplayFormat(format.contains(QLatin1String("yyyy")) ? format
                                                               : QStringLiteral("yyyy-MM-dd"));
    d->setMinimumWidth(130);
    return d;
}

QRadioButton *radio(QWidget *parent, const char *name, const char *text)
{
    auto *r = new QRadioButton(QLatin1String(text), parent);
    r->setObjectName(QLatin1String(name));
    return r;
}

} // namespace

BatchEditDialog::BatchEditDialog(const std::vector<BatchHolder> &holders,
                                 const BatchCodes &codes,
                                 QWidget *parent)
    : QDialog(parent)
    , m_holders(holders)
    , m_codes(codes)
{
    setObjectName(QStringLiteral("frmHolderBatchEdit"));
    setProperty("zq.formClass", QStringLiteral("TfrmHolderBatchEdit"));
    setWindowTitle(QStringLiteral("Change selected holders"));
    auto *layout = new QVBoxLayout(this);
    lblHint = new QLabel(QStringLiteral("Tick the fields to change."), this);
    lblHint->setObjectName(QStringLiteral("lblHint"));
    lblHint->setWordWrap(true);
    layout->addWidget(lblHint);
    m_grid = new QGridLayout;
    layout->addLayout(m_grid);
    addCodeRow(BatchField::Department, "chkDepartment", codes.departmentItems);
    addCodeRow(BatchField::Title, "chkTitle", codes.titleItems);
    addCodeRow(BatchField::Type, "chkType", codes.typeItems);
    addDateRow(BatchField::StartDate, "chkStartDate");
    addChoiceRow(BatchField::ExpiredDate, "chkExpiredDate", "rbExpireSet", "rbExpireClear", true);
    addChoiceRow(BatchField::PunchCard, "chkPunchCard", "rbPunchYes", "rbPunchNo", false);
    addDateRow(BatchField::Deposit01, "chkDeposit01");
    addChoiceRow(BatchField::Deposit02, "chkDeposit02", "rbDeposit02Set", "rbDeposit02Clear", true);
    addChoiceRow(BatchField::Deposit03, "chkDeposit03", "rbDeposit03Set", "rbDeposit03Clear", true);
    m_grid->setColumnStretch(3, 1);

    auto *line = new QFrame(this);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(line);
    lblPreview = new QLabel(this);
    lblPreview->setObjectName(QStringLiteral("lblPreview"));
    lblPreview->setWordWrap(true);
    lblPreview->setMinimumHeight(lblPreview->fontMetrics().lineSpacing() * 3);
    lblPreview->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(lblPreview, 1);

    auto *buttons = new QHBoxLayout;
    btnApply = new QPushButton(QStringLiteral("Apply"), this);
    btnApply->setObjectName(QStringLiteral("btnApply"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    buttons->addStretch();
    buttons->addWidget(btnApply);
    buttons->addWidget(btnCancel);
    layout->addLayout(buttons);
    connect(btnApply, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    updatePreview();
    resize(560, 520);
}

QCheckBox *BatchEditDialog::addTick(BatchField field, const char *name)
{
    auto *box = new QCheckBox(QLatin1String(name).mid(3), this);
    box->setObjectName(QLatin1String(name));
    const int row = m_grid->rowCount();
    m_grid->addWidget(box, row, 0);
    m_ticks[size_t(field)] = box;
    follow(box);
    return box;
}

void BatchEditDialog::addCodeRow(BatchField field, const char *name, const QStringList &items)
{
    QCheckBox *box = addTick(field, name);
    auto *combo = new QComboBox(this);
    combo->setObjectName(QStringLiteral("cmb") + QLatin1String(name).mid(3));
    combo->addItems(items);
    combo->setMinimumWidth(240);
    combo->setEnabled(false);
    m_grid->addWidget(combo, m_grid->rowCount() - 1, 1, 1, 3);
    m_editors[size_t(field)] = combo;
    connect(box, &QCheckBox::toggled, combo, &QWidget::setEnabled);
    connect(combo, &QComboBox::currentIndexChanged, this, &BatchEditDialog::updatePreview);
}

void BatchEditDialog::addDateRow(BatchField field, const char *name)
{
    QCheckBox *box = addTick(field, name);
    QDateEdit *date = dateEdit(this, QStringLiteral("dt") + QLatin1String(name).mid(3));
    date->setEnabled(false);
    m_grid->addWidget(date, m_grid->rowCount() - 1, 1);
    m_editors[size_t(field)] = date;
    connect(box, &QCheckBox::toggled, date, &QWidget::setEnabled);
    connect(date, &QDateEdit::dateChanged, this, &BatchEditDialog::updatePreview);
}

// A tick with two choices: a date or none (the dates that may be empty), or yes and no.
void BatchEditDialog::addChoiceRow(
    BatchField field, const char *name, const char *setName, const char *clearName, bool withDate)
{
    QCheckBox *box = addTick(field, name);
    const int row = m_grid->rowCount() - 1;
    auto *set = radio(this, setName, withDate ? "On" : "Yes");
    auto *clear = radio(this, clearName, withDate ? "None" : "No");
    auto *group = new QButtonGroup(this);
    group->addButton(set);
    group->addButton(clear);
    set->setChecked(true);
    m_set[size_t(field)] = set;
    m_clear[size_t(field)] = clear;
    auto *choice = new QWidget(this);
    choice->setObjectName(QStringLiteral("pnl") + QLatin1String(name).mid(3));
    auto *h = new QHBoxLayout(choice);
    h->setContentsMargins(0, 0, 0, 0);
    h->addWidget(set);
    if (withDate) {
        QDateEdit *date = dateEdit(choice, QStringLiteral("dt") + QLatin1String(name).mid(3));
        h->addWidget(date);
        connect(date, &QDateEdit::dateChanged, this, &BatchEditDialog::updatePreview);
        connect(set, &QRadioButton::toggled, date, &QWidget::setEnabled);
        m_editors[size_t(field)] = date;
    } else {
        m_editors[size_t(field)] = choice;
    }
    h->addSpacing(12);
    h->addWidget(clear);
    h->addStretch();
    choice->setEnabled(false);
    m_grid->addWidget(choice, row, 1, 1, 3);
    connect(box, &QCheckBox::toggled, choice, &QWidget::setEnabled);
    follow(set);
}

void BatchEditDialog::follow(QAbstractButton *button)
{
    connect(button, &QAbstractButton::toggled, this, &BatchEditDialog::updatePreview);
}

BatchChange BatchEditDialog::change() const
{
    BatchChange c;
    const auto ticked = [this](BatchField f) { return m_ticks[size_t(f)]->isChecked(); };
    const QList<std::pair<BatchField, const QStringList *>> codes{
        {BatchField::Department, &m_codes.departmentNumbers},
        {BatchField::Title, &m_codes.titleNumbers},
        {BatchField::Type, &m_codes.typeNumbers}};
    for (const auto &[field, numbers] : codes) {
        const auto *combo = static_cast<QComboBox *>(m_editors[size_t(field)]);
        if (ticked(field))
            c.set(field, numbers->value(combo->currentIndex()).trimmed());
    }
    for (const BatchField f : {BatchField::StartDate,
                               BatchField::ExpiredDate,
                               BatchField::Deposit01,
                               BatchField::Deposit02,
                               BatchField::Deposit03}) {
        if (!ticked(f))
            continue;
        const bool cleared = m_clear[size_t(f)] && m_clear[size_t(f)]->isChecked();
        c.set(f,
              cleared ? QVariant(QDate())
                      : QVariant(static_cast<QDateEdit *>(m_editors[size_t(f)])->date()));
    }
    if (ticked(BatchField::PunchCard))
        c.set(BatchField::PunchCard, m_set[size_t(BatchField::PunchCard)]->isChecked() ? 1 : 0);
    return c;
}

QString BatchEditDialog::fieldCaption(BatchField field) const
{
    QString text = m_ticks[size_t(field)]->text();
    text.remove(QLatin1Char('&'));
    while (text.endsWith(QLatin1Char(':')) || text.endsWith(QChar(0xFF1A)))
        text.chop(1);
    return text.trimmed();
}

QString BatchEditDialog::previewText() const
{
    QStringList lines{
        svc::GetFunctionString(QStringLiteral("BatchPreviewHolders")).arg(m_preview.holders)};
    for (int f = 0; f < kBatchFields; ++f)
        if (m_ticks[size_t(f)]->isChecked())
            lines << svc::GetFunctionString(QStringLiteral("BatchPreviewField"))
                         .arg(fieldCaption(BatchField(f)))
                         .arg(m_preview.changing[size_t(f)]);
    if (lines.size() == 1)
        lines << svc::GetFunctionString(QStringLiteral("BatchPreviewNothing"));
    return lines.join(QLatin1Char('\n'));
}

void BatchEditDialog::updatePreview()
{
    const BatchChange c = change();
    m_preview = previewBatch(m_holders, c);
    lblPreview->setText(previewText());
    btnApply->setEnabled(!c.isEmpty() && !c.invalidField());
}

void BatchEditDialog::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    svc::SetupFormLanguage(this);
    svc::SelectFormLanguage(this);
    updatePreview();
}

} // namespace zq::forms::holder
