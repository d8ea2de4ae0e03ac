#pragma once

#include "MaintenanceWindow.h"

#include <QByteArray>

class QPushButton;

namespace zq::forms {

class PictureBox;

/// Card pictures: number, name, description and the JPEG picture used as card background.
///
/// The current picture is kept in memory: empty means no picture is to be stored; saving
/// stores exactly these bytes in `GBPhoto`.
class TfrmLabelPic : public MaintenanceWindow
{
    Q_OBJECT
public:
    explicit TfrmLabelPic(int rights, QWidget *parent = nullptr);
    static MaintenanceSpec pictureSpec();
    static QString fileFilter();

    void btnOkClick() override;
    void btnDeleteClick() override;
    void btnRefreshClick() override;
    void btnOpenClick();
    void btnClearClick();
    /// The JPEG bytes that a save would store.
    const QByteArray &currentPicture() const { return m_picture; }

    QLineEdit *edtPicNo;
    QLineEdit *edtPicName;
    QLineEdit *edtDescription;
    PictureBox *imgPhoto;
    QPushButton *btnOpen;
    QPushButton *btnClear;

protected:
    void showRecord() override;
    void clearDataPage() override;
    void writeColumns(zq::data::Recordset &rs) override;
    bool leaveCheck() override;
    bool insertRecord() override;
    bool updateRecord() override;
    void modeEntered(Mode mode) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void clearPicture();
    /// The duplicate test of `number`: true (and the refusal shown) when it cannot be saved.
    bool numberRefused(const QString &number);
    QByteArray m_picture;
    bool m_pictureChanged = false; // loaded or erased since the record was shown
};

} // namespace zq::forms
