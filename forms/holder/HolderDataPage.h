#pragma once

#include "HolderRecord.h"

#include <QIcon>
#include <QStringList>
#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QImage;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace zq::forms {

class PictureBox;

/// The Data page of the holder window: shows one holder (a HolderRecord) and lets the
/// operator edit him. It knows nothing of the database: the window hands it the holder to
/// show and the code lists to choose from, and reads back what the controls hold.
class HolderDataPage : public QWidget
{
    Q_OBJECT
public:
    enum class Mode { View, Add, Edit };
    enum class Codes { Department, Title, Type };

    explicit HolderDataPage(QWidget *parent = nullptr);

    /// The items of a code combo and the numbers in the same order; the selection follows
    /// the number shown.
    void setCodes(Codes which, const QStringList &numbers, const QStringList &items);
    /// The saved deposit texts offered by the deposit combo; its text stays.
    void setDepositItems(const QStringList &items);
    /// The look of `mode`: read-only and sky blue in View mode, the number read-only in Edit
    /// mode, the photo buttons and the expiry check box only while editing.
    void setMode(Mode mode);
    Mode mode() const { return m_mode; }

    /// Shows `holder` (in Add mode the typed number stays).
    void display(const holder::HolderRecord &holder);
    /// Empties the fields, codes on their first item, dates today, no photo.
    void clearFields();
    /// What the controls hold, as the save writes it: texts trimmed (the deposit text as
    /// typed), codes by number, dates, punch flag and photo bytes.
    holder::HolderRecord current() const;

    /// Trims number, name and display text in the fields themselves.
    void trimKeyFields();
    QString number() const;
    QString name() const;
    void focusNumber();
    void focusName();

    /// The photo shown: `bytes` as stored; bytes that are no picture show no photo (and
    /// stay what a save leaves in place).
    void setPhoto(const QByteArray &bytes);
    /// A picture the operator loaded: `jpeg` is what a save stores.
    void setPhoto(const QByteArray &jpeg, const QImage &image);
    void clearPhoto();
    const QByteArray &photo() const { return m_photo; }

signals:
    /// The operator changed something in Add or Edit mode.
    void edited();
    /// An input the mode does not allow (the punch card in View mode).
    void refused();
    void openPhotoClicked();
    void clearPhotoClicked();
    void nextRequested();
    void previousRequested();
    void emailClicked(const QString &address);
    /// Backspace in the deposit combo: `text` leaves the saved list.
    void depositRemoved(const QString &text);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void build();
    void connectInputs();
    void setColours();
    void applyVisibility();
    void setPunch(bool down);
    void changed();
    bool keyPressed(QObject *watched, class QKeyEvent *key);
    QList<QLineEdit *> textFields() const;
    QComboBox *codeCombo(Codes which) const;

    Mode m_mode = Mode::View;
    int m_punch = 1;
    QByteArray m_photo;
    bool m_filling = false;
    bool m_keyTyped = false;
    bool m_showTextTyped = false;
    QStringList m_numbers[3];
    QIcon m_yes, m_no;

    QLineEdit *edtSequenceNo, *edNo, *edName, *edShowText, *edEmail, *edPIN;
    QLineEdit *edDefinable1, *edDefinable2, *edDescription;
    QComboBox *cmbDepartment, *cmbTitle, *cmbType, *cmbDeposit04;
    QDateEdit *dtBirthday, *dtDeposit01, *dtDeposit02, *dtDeposit03, *dtStartDate, *dtExpiredDate;
    QCheckBox *cbxDeposit02, *cbxDeposit03, *cbxExpireDate;
    QLabel *labExpireDate;
    QToolButton *btnPunchCard;
    PictureBox *imgPhoto;
    QPushButton *btnOpen, *btnClear;
};

} // namespace zq::forms
