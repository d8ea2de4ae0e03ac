#include "TfrmLabelPic.h"

#include "FileDialogs.h"
#include "Helpers.h"
#include "ModuleLog.h"
#include "PictureBox.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "Services.h"
#include "WriteFailure.h"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>

namespace zq::forms {

namespace svc = zq::services;

MaintenanceSpec TfrmLabelPic::pictureSpec()
{
    MaintenanceSpec s;
    s.kind = zq::module::WindowKind::LabelPic;
    s.formClass = QStringLiteral("TfrmLabelPic");
    s.designCaption = QStringLiteral("Label Pic");
    s.table = QStringLiteral("CardPicture");
    s.keyColumn = QStringLiteral("PicNo");
    s.nameColumn = QStringLiteral("PicName");
    s.listStatement = QStringLiteral(" SELECT * FROM CardPicture ORDER BY PicNo ");
    s.duplicatePrefix = QStringLiteral(" SELECT * FROM CardPicture WHERE PicNo = ");
    s.msgDouble = QStringLiteral("PicNoDouble");
    s.gridLayoutKey = QStringLiteral("ZQHolderOfCardPicData");
    s.gridColumns = {
        QStringLiteral("PicNo"), QStringLiteral("PicName"), QStringLiteral("Description")};
    s.hasOutput = false;
    return s;
}

QString TfrmLabelPic::fileFilter()
{
    return QStringLiteral("All (*.jpg *.jpeg *.bmp *.ico);;JPEG Image File (*.jpg);;"
                          "JPEG Image File (*.jpeg);;Bitmaps (*.bmp);;ICO (*.ico)");
}

namespace {
const QStringList kTools{"btnAdd",
                         "btnEdit",
                         "btnDelete",
                         "btnOk",
                         "btnCancel",
                         "|",
                         "btnFirst",
                         "btnPrev",
                         "btnNext",
                         "btnLast",
                         "|",
                         "btnRefresh",
                         "|",
                         "btnExit"};
const QStringList kMenu{"Add", "Edit", "Delete", "First", "Prev", "Next", "Last", "Ok", "Cancel"};

// The picture number is shown centred in its narrow column.
class CentredColumn : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        option->displayAlignment = Qt::AlignCenter;
    }
};
} // namespace

TfrmLabelPic::TfrmLabelPic(int rights, QWidget *parent)
    : MaintenanceWindow(pictureSpec(), rights, kTools, kMenu, parent, true)
{
    edtPicNo = addEdit("edtPicNo", "lblPicNo", "PicNo:", 20, "PicNo");
    edtPicName = addEdit("edtPicName", "lblPicName", "PicName:", 20, "PicName");
    edtDescription = addEdit("edtDescription", "lblDescription", "Description:", 40, "Description");
    for (QLineEdit *e : {edtPicNo, edtPicName, edtDescription})
        e->setMinimumWidth(220);
    dataLayout()->setContentsMargins(8, 10, 8, 8);

    const int row = dataLayout()->rowCount() - 1;
    auto *photoLabel = new QLabel(QStringLiteral("Photo:"), m_ui.tsData);
    photoLabel->setObjectName(QStringLiteral("lblPhoto"));
    imgPhoto = new PictureBox(m_ui.tsData);
    imgPhoto->setObjectName(QStringLiteral("imgPhoto"));
    imgPhoto->setFixedSize(286, 356);
    auto *buttons = new QVBoxLayout;
    btnOpen = new QPushButton(QStringLiteral("Load"), m_ui.tsData);
    btnOpen->setObjectName(QStringLiteral("btnOpen"));
    btnClear = new QPushButton(QStringLiteral("Erase"), m_ui.tsData);
    btnClear->setObjectName(QStringLiteral("btnClear"));
    buttons->addWidget(btnOpen);
    buttons->addWidget(btnClear);
    buttons->addStretch(1);
    btnOpen->setMinimumWidth(64);
    btnClear->setMinimumWidth(64);
    // The buttons stand beside the picture: under it they would not fit the fixed window.
    dataLayout()->addWidget(photoLabel, row, 0, Qt::AlignRight | Qt::AlignTop);
    dataLayout()->addWidget(imgPhoto, row, 1, Qt::AlignLeft | Qt::AlignTop);
    dataLayout()->addLayout(buttons, row, 2);
    dataLayout()->setRowStretch(row, 0);
    dataLayout()->setRowStretch(row + 1, 1);
    dataLayout()->setHorizontalSpacing(6);
    connect(btnOpen, &QPushButton::clicked, this, &TfrmLabelPic::btnOpenClick);
    connect(btnClear, &QPushButton::clicked, this, &TfrmLabelPic::btnClearClick);
    edtPicName->installEventFilter(this);

    svc::SelectLanguage();
    formCreate();
    setFixedSize(442, 589);
    m_ui.dgView->setItemDelegateForColumn(0, new CentredColumn(m_ui.dgView));
    m_ui.dgView->setColumnWidth(0, 53);
    m_ui.dgView->setColumnWidth(1, 150);
    // The description takes what is left of the fixed window, without a scroll bar.
    m_ui.dgView->setColumnWidth(2, 100);
    m_ui.dgView->horizontalHeader()->setStretchLastSection(true);
}

void TfrmLabelPic::clearPicture()
{
    m_picture.clear();
    imgPhoto->clear();
}

void TfrmLabelPic::clearDataPage()
{
    MaintenanceWindow::clearDataPage();
    clearPicture();
}

void TfrmLabelPic::showRecord()
{
    MaintenanceWindow::showRecord();
    if (!adoDB->isOpen() || adoDB->isEmpty() || adoDB->currentRow() < 0)
        return;
    clearPicture();
    m_pictureChanged = false;
    try {
        const QByteArray stored = adoDB->bytes(QStringLiteral("GBPhoto"));
        if (!stored.isEmpty()) {
            const QImage image = zq::platform::decodeJpeg(stored);
            if (!image.isNull()) {
                imgPhoto->setImage(image);
                // Saving without touching the picture stores the same bytes again.
                m_picture = stored;
            }
        }
    } catch (...) {
        zq::logCaught("showing a card picture");
        clearDataPage();
    }
    clearModified();
}

void TfrmLabelPic::btnOpenClick()
{
    setModified();
    m_pictureChanged = true;
    svc::PlaySoundOk();
    const QString path = zq::platform::getOpenFileName(this, QString(), fileFilter());
    if (path.isEmpty())
        return;
    const zq::platform::PictureResult picture = zq::platform::pictureForFile(path, 70);
    if (!picture.ok) {
        clearPicture();
        return;
    }
    m_picture = picture.jpeg;
    imgPhoto->setImage(picture.image);
}

void TfrmLabelPic::btnClearClick()
{
    setModified();
    m_pictureChanged = true;
    svc::PlaySoundOk();
    clearPicture();
}

void TfrmLabelPic::writeColumns(zq::data::Recordset &rs)
{
    MaintenanceWindow::writeColumns(rs);
    // A picture neither loaded nor erased is the one stored, written again or not at all:
    // not at all, so that bytes this window cannot show, or a picture changed on another
    // workstation meanwhile, stay as they are.
    if (rs.state() == zq::data::Recordset::State::Insert || m_pictureChanged)
        rs.setField(QStringLiteral("GBPhoto"), m_picture);
}

void TfrmLabelPic::btnOkClick()
{
    // The OK sound follows the save: a refused or failed one keeps the mode and the input.
    if (mode() == AddMode) {
        if (insertRecord()) {
            svc::PlaySoundOk();
            enterMode(ViewMode);
        }
    } else if (mode() == EditMode && adoDB->isOpen()) {
        if (updateRecord()) {
            svc::PlaySoundOk();
            enterMode(EditMode);
        }
    } else {
        svc::PlaySoundError();
    }
}

bool TfrmLabelPic::numberRefused(const QString &number)
{
    const KeyCheck check = checkKey(m_spec.duplicatePrefix + quotedKey(number));
    adoChk->close();
    if (check == KeyCheck::Taken) {
        refuseDuplicate();
        return true;
    }
    if (check == KeyCheck::Failed) {
        writeFailed(false, QString());
        return true;
    }
    return false;
}

bool TfrmLabelPic::insertRecord()
{
    try {
        trimInput();
        const QString number = edtPicNo->text();
        if (numberRefused(number))
            return false;
        if (!writeRow(*adoDB, true, [this](zq::data::Recordset &rs) { writeColumns(rs); }))
            return false;
        reloadList();
        zq::data::LocateRecord(adoDB, m_spec.keyColumn, number);
        setBusy(false);
        clearModified();
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("adding a card picture");
        setBusy(false);
        adoChk->close();
        svc::PlaySoundError();
        return false;
    }
}

bool TfrmLabelPic::updateRecord()
{
    try {
        trimInput();
        const QString number = edtPicNo->text();
        // The number may change, but not to one that another picture has.
        if (number != adoDB->text(m_spec.keyColumn).trimmed() && numberRefused(number))
            return false;
        if (!writeRow(*adoDB, false, [this](zq::data::Recordset &rs) { writeColumns(rs); }))
            return false;
        setBusy(false);
        clearModified();
        showRecord();
        return true;
    } catch (...) {
        zq::logCaught("saving a card picture");
        setBusy(false);
        svc::PlaySoundError();
        return false;
    }
}

bool TfrmLabelPic::leaveCheck()
{
    // Leaving a changed record saves it without asking (when the user may save at all); a
    // save that fails keeps the user on the record with the input.
    if (adoDB->isOpen() && !adoDB->isEmpty() && mode() == EditMode && isModified()
        && granted(RightOk))
        return updateRecord();
    return true;
}

void TfrmLabelPic::btnDeleteClick()
{
    if (mode() == AddMode || !adoDB->isOpen() || adoDB->isEmpty()) {
        svc::PlaySoundError();
        return;
    }
    svc::PlaySoundQuestion();
    if (svc::ShowMessageBox(QStringLiteral("DeleteRecord"), QStringLiteral("SystemMessage"), 36)
        != 6)
        return;
    try {
        adoDB->deleteCurrent();
    } catch (...) {
        zq::logCaught("deleting a card picture");
        // Nothing was deleted (changed on another workstation, or not written at all); the
        // list still shows the row.
        tellWriteFailure(adoDB->connection());
        return;
    }
    enterMode(ViewMode);
    showRecord();
}

void TfrmLabelPic::btnRefreshClick()
{
    if (mode() != ViewMode) {
        svc::PlaySoundError();
        return;
    }
    leaveCheck();
    svc::PlaySoundOk();
    setBusy(true);
    reloadList();
    if (adoDB->isOpen())
        adoDB->first();
    setBusy(false);
    clearModified();
    enterMode(ViewMode);
    showRecord();
}

void TfrmLabelPic::modeEntered(Mode mode)
{
    const bool editing = mode != ViewMode;
    for (QLineEdit *e : {edtPicNo, edtPicName, edtDescription})
        setEditWritable(e, editing);
    btnOpen->setVisible(editing);
    btnClear->setVisible(editing);
    m_ui.tsData->setEnabled(editing);
    // Focus only reaches the fields once their page is enabled; the number is the first
    // field in both modes, as it may be changed in EditMode too.
    if (editing)
        edtPicNo->setFocus();
}

void TfrmLabelPic::showEvent(QShowEvent *event)
{
    MaintenanceWindow::showEvent(event);
    // The narrow number column still shows its whole (translated) title.
    QHeaderView *header = m_ui.dgView->horizontalHeader();
    if (header->sectionSize(0) < header->sectionSizeHint(0))
        header->resizeSection(0, header->sectionSizeHint(0));
}

void TfrmLabelPic::closeEvent(QCloseEvent *event)
{
    MaintenanceWindow::closeEvent(event);
    clearPicture();
}

bool TfrmLabelPic::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == edtPicName && event->type() == QEvent::FocusOut
        && edtDescription->text().trimmed().isEmpty())
        edtDescription->setText(edtPicName->text());
    return MaintenanceWindow::eventFilter(watched, event);
}

} // namespace zq::forms
