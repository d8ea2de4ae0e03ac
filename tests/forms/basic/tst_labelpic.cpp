#include "FormTest.h"

#include "Connection.h"
#include "FileDialogs.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "PictureBox.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "TfrmLabelPic.h"
#include "TfrmOccupationType.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QFile>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QTemporaryDir>

using zq::data::Connection;
using zq::data::Recordset;
using zq::forms::MaintenanceWindow;
using zq::forms::TfrmLabelPic;
using zq::forms::TfrmOccupationType;
using zq::module::WindowKind;

namespace {

QString q(const QString &text)
{
    return Connection::quoted(text);
}

// Distinct colours per region, so that a picture turned, scaled or cut shows up as a change.
QImage sample(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.fillRect(0, 0, width / 2, height, QColor(200, 30, 30));
    p.fillRect(width / 2, 0, width - width / 2, height / 2, QColor(20, 160, 40));
    p.fillRect(
        width / 2, height / 2, width - width / 2, height - height / 2, QColor(30, 40, 220, 128));
    return image;
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

bool isJpeg(const QByteArray &bytes)
{
    return bytes.size() > 2 && uchar(bytes[0]) == 0xFF && uchar(bytes[1]) == 0xD8;
}

class CardPictureTest : public zq::test::FormTest
{
protected:
    void TearDown() override
    {
        zq::platform::setFileDialogAnswer({});
        FormTest::TearDown();
    }

    TfrmLabelPic *openPictures()
    {
        auto *type = open<TfrmOccupationType>(WindowKind::OccupationType);
        if (!type)
            return nullptr;
        type->btnLabelPicClick();
        auto *w = qobject_cast<TfrmLabelPic *>(
            zq::module::state().registry[int(WindowKind::LabelPic)].data());
        EXPECT_NE(w, nullptr);
        return w;
    }

    QString writeFile(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_files.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }

    void storePicture(const QString &no, const QString &name, const QByteArray &photo)
    {
        Recordset rs;
        rs.setConnection(&db());
        rs.setStatement("SELECT * FROM CardPicture");
        rs.open();
        rs.append();
        rs.setField("PicNo", no);
        rs.setField("PicName", name);
        rs.setField("GBPhoto", photo);
        rs.post();
    }

    QByteArray storedPhoto(const QString &no)
    {
        Recordset rs;
        rs.setConnection(&db());
        rs.setStatement("SELECT GBPhoto FROM CardPicture WHERE PicNo = " + q(no));
        rs.open();
        EXPECT_EQ(rs.recordCount(), 1) << no.toStdString();
        return rs.isEmpty() ? QByteArray() : rs.bytes("GBPhoto");
    }

    QString picName(const QString &no)
    {
        return scalar("SELECT PicName FROM CardPicture WHERE PicNo = " + q(no));
    }
    int pictures(const QString &no)
    {
        return count("SELECT COUNT(*) FROM CardPicture WHERE PicNo = " + q(no));
    }

    /// Adds a card picture through the window with the picture loaded from `file`.
    void addWithFile(TfrmLabelPic *w, const QString &no, const QString &file)
    {
        w->btnAddClick();
        ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
        w->edtPicNo->setText(no);
        w->edtPicName->setText("Name " + no);
        zq::platform::setFileDialogAnswer([file](auto &, auto &) { return file; });
        w->btnOpenClick();
        w->btnOkClick();
        ASSERT_EQ(w->mode(), MaintenanceWindow::ViewMode);
        ASSERT_EQ(pictures(no), 1) << no.toStdString();
    }

    QTemporaryDir m_files;
};

TEST_P(CardPictureTest, FixedSizeAndPictureButtonsOnlyWhileEditing)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->minimumSize(), QSize(442, 589));
    EXPECT_EQ(w->maximumSize(), QSize(442, 589));
    EXPECT_TRUE(w->btnOpen->isHidden());
    EXPECT_TRUE(w->btnClear->isHidden());

    w->btnAddClick();
    EXPECT_FALSE(w->btnOpen->isHidden());
    EXPECT_FALSE(w->btnClear->isHidden());
    d.calls.clear();
    w->btnRefreshClick();
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);

    w->btnCancelClick();
    EXPECT_TRUE(w->btnOpen->isHidden());
    w->btnEditClick();
    EXPECT_FALSE(w->btnClear->isHidden());
    d.calls.clear();
    w->btnRefreshClick();
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
}

TEST_P(CardPictureTest, BitmapAndIconFilesAreStoredAsJpeg)
{
    ZQ_FORM_DB();
    const QImage bitmap = sample(64, 48);
    const QImage icon = sample(32, 32, QImage::Format_ARGB32);
    const QString bmp = writeFile("card.bmp", encoded(bitmap, "BMP"));
    const QString ico = writeFile("card.ico", encoded(icon, "ICO"));
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);

    addWithFile(w, "P01", bmp);
    const QByteArray fromBitmap = storedPhoto("P01");
    ASSERT_TRUE(isJpeg(fromBitmap));
    EXPECT_EQ(zq::platform::decodeJpeg(fromBitmap).size(), bitmap.size());
    EXPECT_EQ(fromBitmap, zq::platform::encodeJpeg(bitmap, 70));

    addWithFile(w, "P02", ico);
    const QByteArray fromIcon = storedPhoto("P02");
    ASSERT_TRUE(isJpeg(fromIcon));
    EXPECT_EQ(zq::platform::decodeJpeg(fromIcon).size(), icon.size());
    EXPECT_TRUE(w->imgPhoto->hasPicture());
}

TEST_P(CardPictureTest, JpegFilesAreStoredByteForByte)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(50, 70), "JPG");
    ASSERT_TRUE(isJpeg(jpeg));
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    addWithFile(w, "P01", writeFile("a.jpg", jpeg));
    addWithFile(w, "P02", writeFile("b.jpeg", jpeg));
    EXPECT_EQ(storedPhoto("P01"), jpeg);
    EXPECT_EQ(storedPhoto("P02"), jpeg);
}

TEST_P(CardPictureTest, UnreadableFilesStoreNoPicture)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(50, 70), "JPG");
    const QString good = writeFile("good.jpg", jpeg);
    const QList<QPair<QString, QString>> files{
        {"P01", writeFile("cut.jpg", jpeg.left(jpeg.size() / 2))},
        {"P02", writeFile("empty.jpg", {})},
        {"P03", writeFile("text.jpg", "not a picture at all\n")}};
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    for (const auto &[no, file] : files) {
        SCOPED_TRACE(file.toStdString());
        w->btnAddClick();
        w->edtPicNo->setText(no);
        w->edtPicName->setText("Broken");
        // A picture loaded before does not survive a failed load.
        zq::platform::setFileDialogAnswer([good](auto &, auto &) { return good; });
        w->btnOpenClick();
        ASSERT_TRUE(w->imgPhoto->hasPicture());
        zq::platform::setFileDialogAnswer([file](auto &, auto &) { return file; });
        w->btnOpenClick();
        EXPECT_FALSE(w->imgPhoto->hasPicture());
        EXPECT_TRUE(w->currentPicture().isEmpty());
        w->btnOkClick();
        EXPECT_EQ(pictures(no), 1);
        EXPECT_TRUE(storedPhoto(no).isEmpty());
    }
}

TEST_P(CardPictureTest, StoredPicturesShowAndSurviveAnUntouchedSave)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(40, 60), "JPG");
    storePicture("P01", "Bitmap", encoded(sample(40, 60), "BMP"));
    storePicture("P02", "Jpeg", jpeg);
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->edtPicNo->text(), "P01");
    EXPECT_FALSE(w->imgPhoto->hasPicture());
    w->btnEditClick();
    w->btnOkClick();
    EXPECT_TRUE(storedPhoto("P01").isEmpty());

    w->btnNextClick();
    ASSERT_EQ(w->edtPicNo->text(), "P02");
    EXPECT_TRUE(w->imgPhoto->hasPicture());
    EXPECT_EQ(w->imgPhoto->image().size(), QSize(40, 60));
    w->btnOkClick();
    EXPECT_EQ(storedPhoto("P02"), jpeg);

    w->btnClearClick();
    EXPECT_FALSE(w->imgPhoto->hasPicture());
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_TRUE(storedPhoto("P02").isEmpty());
    EXPECT_EQ(picName("P02"), "Jpeg");
}

TEST_P(CardPictureTest, LeavingAChangedRecordSavesItWithoutAsking)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    storePicture("P02", "Back", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    w->btnEditClick();
    w->edtPicName->setText("Changed");
    d.calls.clear();
    w->btnNextClick();
    EXPECT_EQ(d.count("ShowMessageBox"), 0);
    EXPECT_EQ(picName("P01"), "Changed");
    EXPECT_EQ(w->edtPicNo->text(), "P02");
    EXPECT_EQ(w->edtPicName->text(), "Back");
}

TEST_P(CardPictureTest, AddingAnExistingNumberKeepsTheStoredRecord)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(20, 20), "JPG");
    storePicture("P01", "Front", jpeg);
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    w->btnAddClick();
    w->edtPicNo->setText("P01");
    w->edtPicName->setText("Other");
    d.calls.clear();
    w->btnOkClick();
    EXPECT_EQ(w->mode(), MaintenanceWindow::ViewMode);
    EXPECT_TRUE(d.messages().isEmpty());
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardPicture"), 1);
    EXPECT_EQ(picName("P01"), "Front");
    EXPECT_EQ(storedPhoto("P01"), jpeg);
}

TEST_P(CardPictureTest, LeavingTheNameFillsAnEmptyDescriptionOnly)
{
    ZQ_FORM_DB();
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    w->btnAddClick();
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    w->edtPicName->setText("Front");
    QCoreApplication::sendEvent(w->edtPicName, &focusOut);
    EXPECT_EQ(w->edtDescription->text(), "Front");

    w->edtDescription->setText("Kept");
    w->edtPicName->setText("Back");
    QCoreApplication::sendEvent(w->edtPicName, &focusOut);
    EXPECT_EQ(w->edtDescription->text(), "Kept");
}

TEST_P(CardPictureTest, NumbersWithQuotesAreAddedCheckedAndDeleted)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    w->btnAddClick();
    w->edtPicNo->setText("O'P");
    w->edtPicName->setText("Quoted");
    w->btnOkClick();
    ASSERT_EQ(pictures("O'P"), 1);
    ASSERT_EQ(w->edtPicNo->text(), "O'P");

    w->btnAddClick();
    w->edtPicNo->setText("O'P");
    w->edtPicName->setText("Again");
    w->btnOkClick();
    EXPECT_EQ(picName("O'P"), "Quoted");

    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "PicNo", "O'P"));
    d.calls.clear();
    d.messageBoxAnswers = {7, 6};
    w->btnDeleteClick();
    EXPECT_EQ(pictures("O'P"), 1);
    w->btnDeleteClick();
    EXPECT_EQ(d.messages(), (QStringList{"DeleteRecord", "DeleteRecord"}));
    EXPECT_EQ(pictures("O'P"), 0);
    EXPECT_EQ(pictures("P01"), 1);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines,
                         CardPictureTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
