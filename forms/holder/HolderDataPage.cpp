// The holder window's Data page: what it shows, what the operator may change, and what the
// controls hold for the save.
#include "HolderDataPage.h"

#include "DepositList.h"
#include "MaintenanceChrome.h"
#include "PictureBox.h"
#include "PictureCodec.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

namespace zq::forms {

using holder::HolderRecord;

namespace {
const QColor kSkyBlue(166, 202, 240);

QString code(const QComboBox *combo, const QStringList &numbers)
{
    return combo->currentText().trimmed().isEmpty()
               ? QString()
               : numbers.value(combo->currentIndex()).trimmed();
}
} // namespace

HolderDataPage::HolderDataPage(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("holderDataPage"));
    build();
    connectInputs();
    setPunch(true);
    setColours();
    applyVisibility();
}

QList<QLineEdit *> HolderDataPage::textFields() const
{
    return {edNo, edName, edShowText, edEmail, edPIN, edDefinable1, edDefinable2, edDescription};
}

QComboBox *HolderDataPage::codeCombo(Codes which) const
{
    switch (which) {
    case Codes::Department:
        return cmbDepartment;
    case Codes::Title:
        return cmbTitle;
    default:
        return cmbType;
    }
}

void HolderDataPage::connectInputs()
{
    connect(btnOpen, &QPushButton::clicked, this, &HolderDataPage::openPhotoClicked);
    connect(btnClear, &QPushButton::clicked, this, &HolderDataPage::clearPhotoClicked);
    connect(btnPunchCard, &QToolButton::clicked, this, [this] {
        if (m_mode == Mode::View) {
            setPunch(m_punch == 1);
            emit refused();
            return;
        }
        setPunch(btnPunchCard->isChecked());
        changed();
    });
    for (QCheckBox *box : {cbxDeposit02, cbxDeposit03, cbxExpireDate})
        connect(box, &QCheckBox::clicked, this, [this] {
            applyVisibility();
            changed();
        });
    for (QLineEdit *e : textFields()) {
        connect(e, &QLineEdit::textChanged, this, &HolderDataPage::changed);
        e->installEventFilter(this);
    }
    edtSequenceNo->installEventFilter(this);
    for (QComboBox *c : {cmbDepartment, cmbTitle, cmbType, cmbDeposit04})
        connect(c, &QComboBox::currentTextChanged, this, &HolderDataPage::changed);
    for (QDateEdit *d : {dtBirthday, dtStartDate, dtExpiredDate})
        connect(d, &QDateEdit::dateChanged, this, &HolderDataPage::changed);
    cmbDeposit04->installEventFilter(this);
    cmbDeposit04->lineEdit()->installEventFilter(this);
}

void HolderDataPage::changed()
{
    if (!m_filling && m_mode != Mode::View)
        emit edited();
}

void HolderDataPage::setCodes(Codes which, const QStringList &numbers, const QStringList &items)
{
    QComboBox *combo = codeCombo(which);
    m_numbers[int(which)] = numbers;
    const QSignalBlocker block(combo);
    const QString shown = code(combo, numbers);
    combo->clear();
    combo->addItems(items);
    combo->setCurrentIndex(int(numbers.indexOf(shown)));
}

void HolderDataPage::setDepositItems(const QStringList &items)
{
    const QString text = cmbDeposit04->currentText();
    const QSignalBlocker block(cmbDeposit04);
    cmbDeposit04->clear();
    cmbDeposit04->addItems(items);
    cmbDeposit04->setEditText(text);
}

void HolderDataPage::setMode(Mode mode)
{
    m_mode = mode;
    m_keyTyped = false;
    m_showTextTyped = false;
    setColours();
    const bool editing = mode != Mode::View;
    btnOpen->setVisible(editing);
    btnClear->setVisible(editing);
    if (mode == Mode::Add) {
        clearFields();
        cbxExpireDate->setChecked(false);
        const QSignalBlocker block(cmbDeposit04);
        cmbDeposit04->setEditText(QString());
    }
    applyVisibility();
}

void HolderDataPage::setColours()
{
    const bool view = m_mode == Mode::View;
    for (QLineEdit *e : textFields())
        setEditWritable(e, !view && !(m_mode == Mode::Edit && e == edNo));
    for (QWidget *w : std::initializer_list<QWidget *>{cmbDepartment,
                                                       cmbTitle,
                                                       cmbType,
                                                       cmbDeposit04,
                                                       dtBirthday,
                                                       dtStartDate,
                                                       dtExpiredDate,
                                                       dtDeposit01,
                                                       dtDeposit02,
                                                       dtDeposit03}) {
        QPalette p = QApplication::palette(w);
        if (view) {
            p.setColor(QPalette::Base, kSkyBlue);
            p.setColor(QPalette::Button, kSkyBlue);
        }
        w->setPalette(p);
    }
    edEmail->setCursor(view ? Qt::PointingHandCursor : Qt::IBeamCursor);
}

// A reissue or expiry date shows only when its box is ticked; the boxes themselves show
// while editing, and in View mode only when ticked.
void HolderDataPage::applyVisibility()
{
    const bool view = m_mode == Mode::View;
    const QList<QPair<QCheckBox *, QDateEdit *>> dated{
        {cbxDeposit02, dtDeposit02}, {cbxDeposit03, dtDeposit03}, {cbxExpireDate, dtExpiredDate}};
    for (const auto &d : dated) {
        d.first->setVisible(!view || d.first->isChecked());
        d.second->setVisible(d.first->isChecked());
    }
    labExpireDate->setVisible(!view || cbxExpireDate->isChecked());
}

void HolderDataPage::setPunch(bool down)
{
    m_punch = down ? 1 : 0;
    btnPunchCard->setChecked(down);
    btnPunchCard->setIcon(down ? m_yes : m_no);
    btnPunchCard->setText(QString());
}

void HolderDataPage::clearFields()
{
    m_filling = true;
    for (QLineEdit *e : textFields())
        e->clear();
    edtSequenceNo->clear();
    for (QComboBox *c : {cmbDepartment, cmbTitle, cmbType})
        c->setCurrentIndex(c->count() > 0 ? 0 : -1);
    const QDate today = QDate::currentDate();
    for (QDateEdit *d :
         {dtBirthday, dtStartDate, dtExpiredDate, dtDeposit01, dtDeposit02, dtDeposit03})
        d->setDate(today);
    clearPhoto();
    m_filling = false;
}

void HolderDataPage::display(const HolderRecord &h)
{
    m_filling = true;
    if (m_mode != Mode::Add)
        edNo->setText(h.number);
    edName->setText(h.name);
    edShowText->setText(h.showText);
    edPIN->setText(h.pin);
    edEmail->setText(h.email);
    edDefinable1->setText(h.definable1);
    edDefinable2->setText(h.definable2);
    edDescription->setText(h.description);
    edtSequenceNo->setText(h.sequenceNo);
    cmbDepartment->setCurrentIndex(int(m_numbers[int(Codes::Department)].indexOf(h.departmentNo)));
    cmbTitle->setCurrentIndex(int(m_numbers[int(Codes::Title)].indexOf(h.titleNo)));
    cmbType->setCurrentIndex(int(m_numbers[int(Codes::Type)].indexOf(h.typeNo)));
    // A holder without a date shows today's.
    const QDate today = QDate::currentDate();
    const auto day = [&today](const QDate &d) { return d.isValid() ? d : today; };
    dtBirthday->setDate(day(h.birthday));
    dtStartDate->setDate(day(h.startDate));
    dtDeposit01->setDate(day(h.deposit01));
    dtDeposit02->setDate(day(h.deposit02));
    dtDeposit03->setDate(day(h.deposit03));
    dtExpiredDate->setDate(day(h.expiredDate));
    cbxDeposit02->setChecked(h.deposit02.isValid());
    cbxDeposit03->setChecked(h.deposit03.isValid());
    cbxExpireDate->setChecked(h.expiredDate.isValid());
    cmbDeposit04->setEditText(h.deposit04);
    applyVisibility();
    setPunch(h.punch == 1);
    setPhoto(h.photo);
    m_keyTyped = false;
    m_showTextTyped = false;
    m_filling = false;
}

HolderRecord HolderDataPage::current() const
{
    HolderRecord r;
    r.number = edNo->text().trimmed();
    r.name = edName->text().trimmed();
    r.showText = edShowText->text().trimmed();
    r.email = edEmail->text().trimmed();
    r.pin = edPIN->text().trimmed();
    r.definable1 = edDefinable1->text().trimmed();
    r.definable2 = edDefinable2->text().trimmed();
    r.description = edDescription->text().trimmed();
    r.departmentNo = code(cmbDepartment, m_numbers[int(Codes::Department)]);
    r.titleNo = code(cmbTitle, m_numbers[int(Codes::Title)]);
    r.typeNo = code(cmbType, m_numbers[int(Codes::Type)]);
    r.sequenceNo = edtSequenceNo->text();
    r.birthday = dtBirthday->date();
    r.startDate = dtStartDate->date();
    r.deposit01 = dtDeposit01->date();
    r.deposit02 = cbxDeposit02->isChecked() ? dtDeposit02->date() : QDate();
    r.deposit03 = cbxDeposit03->isChecked() ? dtDeposit03->date() : QDate();
    r.expiredDate = cbxExpireDate->isChecked() ? dtExpiredDate->date() : QDate();
    r.deposit04 = cmbDeposit04->currentText();
    r.punch = m_punch;
    r.photo = m_photo;
    return r;
}

void HolderDataPage::trimKeyFields()
{
    for (QLineEdit *e : {edNo, edName, edShowText})
        e->setText(e->text().trimmed());
}

QString HolderDataPage::number() const
{
    return edNo->text();
}

QString HolderDataPage::name() const
{
    return edName->text();
}

void HolderDataPage::focusNumber()
{
    edNo->setFocus();
}

void HolderDataPage::focusName()
{
    edName->setFocus();
}

void HolderDataPage::setPhoto(const QByteArray &bytes)
{
    m_photo = bytes;
    imgPhoto->setImage(bytes.isEmpty() ? QImage() : zq::platform::decodeJpeg(bytes));
}

void HolderDataPage::setPhoto(const QByteArray &jpeg, const QImage &image)
{
    m_photo = jpeg;
    imgPhoto->setImage(image);
    changed();
}

void HolderDataPage::clearPhoto()
{
    m_photo.clear();
    imgPhoto->clear();
    changed();
}

bool HolderDataPage::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::KeyPress:
        if (keyPressed(watched, static_cast<QKeyEvent *>(event)))
            return true;
        break;
    case QEvent::KeyRelease:
        // Number or name typed, display text not: it follows them.
        if ((watched == edNo || watched == edName) && !m_showTextTyped && m_keyTyped) {
            edShowText->setText(holder::displayText(edNo->text(), edName->text()));
            m_keyTyped = false;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (watched == edEmail && m_mode == Mode::View && !edEmail->text().trimmed().isEmpty())
            emit emailClicked(edEmail->text().trimmed());
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

// True when the key is taken here and goes no further.
bool HolderDataPage::keyPressed(QObject *watched, QKeyEvent *key)
{
    QLineEdit *const depositEdit = cmbDeposit04->lineEdit();
    // The key reaches the combo box, which hands it to its line edit.
    if ((watched == cmbDeposit04 || watched == depositEdit) && key->key() == Qt::Key_Backspace) {
        const QString text = cmbDeposit04->currentText();
        {
            const QSignalBlocker block(cmbDeposit04);
            cmbDeposit04->setEditText(QString());
        }
        emit depositRemoved(text);
        if (!text.isEmpty())
            changed();
        return true;
    }
    auto *edit = qobject_cast<QLineEdit *>(watched);
    if (!edit || edit == depositEdit)
        return false;
    if (key->key() == Qt::Key_PageDown || key->key() == Qt::Key_PageUp) {
        emit(key->key() == Qt::Key_PageDown ? nextRequested() : previousRequested());
        return true;
    }
    // Typed characters only: shortcuts (Ctrl+V, ...) pass, and the digits-only validator of
    // the field judges what they insert.
    const bool shortcut = key->modifiers()
                          & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    if ((edit == edPIN || edit == edtSequenceNo) && !shortcut && !key->text().isEmpty()) {
        const QChar c = key->text().at(0);
        const bool allowed = (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
                             || key->key() == Qt::Key_Backspace || key->key() == Qt::Key_Return
                             || key->key() == Qt::Key_Enter || !c.isPrint();
        if (!allowed)
            return true;
    }
    if (edit == edShowText)
        m_showTextTyped = true;
    else
        m_keyTyped = true;
    return false;
}

} // namespace zq::forms
