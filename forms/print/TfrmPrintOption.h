#pragma once

#include <QDialog>

class QLabel;
class QPushButton;
class QRadioButton;

namespace zq::forms {

class TfrmHolder;

/// Prints card labels, portrait or landscape, of the holders the holder window lists or
/// of the stored batch when the holder window's batch box is checked.
class TfrmPrintOption : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmPrintOption(QWidget *parent = nullptr);
    ~TfrmPrintOption() override;

    void btnPrintLabelClick();
    void btnExitClick() { close(); }

    QRadioButton *rabV;
    QRadioButton *rabH;
    QLabel *Image1;
    QLabel *Image2;
    QLabel *labV;
    QLabel *labH;
    QLabel *labUnit;
    QPushButton *btnPrintLabel;
    QPushButton *btnExit;

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_shown = false;
};

} // namespace zq::forms
