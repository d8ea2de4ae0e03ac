#include "TfrmHolderSearch.h"

#include "Services.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace zq::forms {

TfrmHolderSearch::TfrmHolderSearch(QWidget *parent)
    : QDialog(parent)
    , rbtnHolderNo(new QRadioButton(QStringLiteral("HolderNo"), this))
    , rbtnHolderName(new QRadioButton(QStringLiteral("HolderName"), this))
    , edtHolderNo(new QLineEdit(this))
    , edtHolderName(new QLineEdit(this))
    , btnOk(new QPushButton(QStringLiteral("OK"), this))
    , btnCancel(new QPushButton(QStringLiteral("Cancel"), this))
{
    setObjectName(QStringLiteral("frmHolderSearch"));
    setProperty("zq.formClass", QStringLiteral("TfrmHolderSearch"));
    setWindowTitle(QStringLiteral("HolderSearch"));
    rbtnHolderNo->setObjectName(QStringLiteral("rbtnHolderNo"));
    rbtnHolderName->setObjectName(QStringLiteral("rbtnHolderName"));
    edtHolderNo->setObjectName(QStringLiteral("edtHolderNo"));
    edtHolderName->setObjectName(QStringLiteral("edtHolderName"));
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    edtHolderNo->setMaxLength(10);
    edtHolderName->setMaxLength(40);
    auto *grid = new QGridLayout(this);
    grid->addWidget(rbtnHolderNo, 0, 0);
    grid->addWidget(edtHolderNo, 0, 1);
    grid->addWidget(rbtnHolderName, 1, 0);
    grid->addWidget(edtHolderName, 1, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    grid->addLayout(buttons, 2, 0, 1, 2);
    grid->setColumnStretch(1, 1);
    resize(440, 171);
    btnOk->setDefault(true);
    connect(btnOk, &QPushButton::clicked, this, &TfrmHolderSearch::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
    connect(edtHolderNo, &QLineEdit::textEdited, rbtnHolderNo, [this] {
        rbtnHolderNo->setChecked(true);
    });
    connect(edtHolderName, &QLineEdit::textEdited, rbtnHolderName, [this] {
        rbtnHolderName->setChecked(true);
    });
    edtHolderNo->installEventFilter(this);
    edtHolderName->installEventFilter(this);
    rbtnHolderNo->setChecked(true);
}

void TfrmHolderSearch::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    zq::services::SetupFormLanguage(this);
    rbtnHolderNo->setChecked(true);
    edtHolderNo->setFocus();
}

bool TfrmHolderSearch::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn) {
        if (watched == edtHolderNo)
            rbtnHolderNo->setChecked(true);
        else if (watched == edtHolderName)
            rbtnHolderName->setChecked(true);
    }
    return QDialog::eventFilter(watched, event);
}

void TfrmHolderSearch::btnOkClick()
{
    edtHolderNo->setText(edtHolderNo->text().trimmed());
    edtHolderName->setText(edtHolderName->text().trimmed());
    m_number.clear();
    m_name.clear();
    if (rbtnHolderNo->isChecked() && !edtHolderNo->text().isEmpty())
        m_number = edtHolderNo->text();
    else if (rbtnHolderName->isChecked() && !edtHolderName->text().isEmpty())
        m_name = edtHolderName->text();
    accept();
}

} // namespace zq::forms
