#include "FormTest.h"
#include "Gestures.h"

#include "Connection.h"
#include "FileDialogs.h"
#include "Helpers.h"
#include "ModuleState.h"
#include "PictureBox.h"
#include "PictureCodec.h"
#include "Recordset.h"
#include "TfrmLabelPic.h"
#include "TfrmOccupationType.h"

#include <QApplication>
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
using namespace zq::test;

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
        clickButton(type, "btnLabelPic");
        auto *w = qobject_cast<TfrmLabelPic *>(
            zq::module::state().registry[int(WindowKind::LabelPic)].data());
        EXPECT_NE(w, nullptr);
        if (w) {
            QApplication::setActiveWindow(w);
            QCoreApplication::processEvents();
        }
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
        clickButton(w, "btnAdd");
        ASSERT_EQ(w->mode(), MaintenanceWindow::AddMode);
        typeText(no);
        typeInto(w->edtPicName, "Name " + no);
        zq::platform::setFileDialogAnswer([file](auto &, auto &) { return file; });
        click(w->btnOpen);
        clickButton(w, "btnOk");
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

    clickButton(w, "btnAdd");
    EXPECT_FALSE(w->btnOpen->isHidden());
    EXPECT_FALSE(w->btnClear->isHidden());
    d.calls.clear();
    clickButton(w, "btnRefresh");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);

    clickButton(w, "btnCancel");
    EXPECT_TRUE(w->btnOpen->isHidden());
    clickButton(w, "btnEdit");
    EXPECT_FALSE(w->btnClear->isHidden());
    d.calls.clear();
    clickButton(w, "btnRefresh");
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
        clickButton(w, "btnAdd");
        typeText(no);
        typeInto(w->edtPicName, "Broken");
        // A picture loaded before does not survive a failed load.
        zq::platform::setFileDialogAnswer([good](auto &, auto &) { return good; });
        click(w->btnOpen);
        ASSERT_TRUE(w->imgPhoto->hasPicture());
        zq::platform::setFileDialogAnswer([file](auto &, auto &) { return file; });
        click(w->btnOpen);
        EXPECT_FALSE(w->imgPhoto->hasPicture());
        EXPECT_TRUE(w->currentPicture().isEmpty());
        clickButton(w, "btnOk");
        EXPECT_EQ(pictures(no), 1);
        EXPECT_TRUE(storedPhoto(no).isEmpty());
    }
}

TEST_P(CardPictureTest, StoredPicturesShowAndSurviveAnUntouchedSave)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(40, 60), "JPG");
    const QByteArray bitmap = encoded(sample(40, 60), "BMP");
    storePicture("P01", "Bitmap", bitmap);
    storePicture("P02", "Jpeg", jpeg);
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    ASSERT_EQ(w->edtPicNo->text(), "P01");
    EXPECT_FALSE(w->imgPhoto->hasPicture());
    // Bytes the window cannot show are no picture to it, but an untouched save keeps them.
    clickButton(w, "btnEdit");
    typeInto(w->edtDescription, "edited");
    clickButton(w, "btnOk");
    EXPECT_EQ(storedPhoto("P01"), bitmap);

    clickButton(w, "btnNext");
    ASSERT_EQ(w->edtPicNo->text(), "P02");
    EXPECT_TRUE(w->imgPhoto->hasPicture());
    EXPECT_EQ(w->imgPhoto->image().size(), QSize(40, 60));
    clickButton(w, "btnOk");
    EXPECT_EQ(storedPhoto("P02"), jpeg);

    click(w->btnClear);
    EXPECT_FALSE(w->imgPhoto->hasPicture());
    clickButton(w, "btnOk");
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
    clickButton(w, "btnEdit");
    typeInto(w->edtPicName, "Changed");
    d.calls.clear();
    clickButton(w, "btnNext");
    EXPECT_EQ(d.count("ShowMessageBox"), 0);
    EXPECT_EQ(picName("P01"), "Changed");
    EXPECT_EQ(w->edtPicNo->text(), "P02");
    EXPECT_EQ(w->edtPicName->text(), "Back");
}

// A number that another picture has is refused with a message, on Add and on a changed
// number in EditMode; the input stays in its mode and the stored record is kept.
TEST_P(CardPictureTest, AddingAnExistingNumberKeepsTheStoredRecord)
{
    ZQ_FORM_DB();
    const QByteArray jpeg = encoded(sample(20, 20), "JPG");
    storePicture("P01", "Front", jpeg);
    storePicture("P02", "Back", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnAdd");
    typeText(" P01");
    typeInto(w->edtPicName, "Other");
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(d.messages(), QStringList{"PicNoDouble"});
    EXPECT_EQ(d.callsNamed("ShowMessageBox").value(0).args.value(2), "16");
    EXPECT_FALSE(d.sounds().contains("Ok"));
    EXPECT_EQ(w->edtPicName->text(), "Other");
    EXPECT_EQ(QApplication::focusWidget(), w->edtPicNo);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardPicture"), 2);
    EXPECT_EQ(picName("P01"), "Front");
    EXPECT_EQ(storedPhoto("P01"), jpeg);

    clickButton(w, "btnCancel");
    clickButton(w, "btnNext"); // P02
    clickButton(w, "btnEdit");
    typeInto(w->edtPicNo, "P01");
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.messages(), QStringList{"PicNoDouble"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edtPicNo->text(), "P01");
    EXPECT_EQ(picName("P01"), "Front");
    EXPECT_EQ(picName("P02"), "Back");

    // A new number of its own is a change like any other.
    typeInto(w->edtPicNo, "P03");
    clickButton(w, "btnOk");
    EXPECT_EQ(picName("P03"), "Back");
    EXPECT_EQ(pictures("P02"), 0);
}

// The database refuses the write, at once or at COMMIT: error sound, mode and input kept,
// and the list holds only what is stored.
TEST_P(CardPictureTest, AFailedSaveKeepsTheInputWithTheErrorSound)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    storePicture("P03", "Night", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    refuseWrites("CardPicture", "INSERT", true);
    refuseWrites("CardPicture", "UPDATE", false);
    clickButton(w, "btnAdd");
    typeText("P02");
    typeInto(w->edtPicName, "Back");
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::AddMode);
    EXPECT_EQ(w->edtPicNo->text(), "P02");
    EXPECT_EQ(w->edtPicName->text(), "Back");
    EXPECT_EQ(pictures("P02"), 0);
    EXPECT_EQ(w->listQuery()->recordCount(), 2);

    clickButton(w, "btnCancel");
    clickButton(w, "btnEdit");
    typeInto(w->edtPicName, "Changed");
    d.calls.clear();
    clickButton(w, "btnOk");
    EXPECT_EQ(d.sounds(), QStringList{"Error"});
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edtPicName->text(), "Changed");
    EXPECT_EQ(picName("P01"), "Front");
    EXPECT_EQ(w->listQuery()->text("PicName"), "Front");
    // Leaving tries the save again; while it fails the user stays on the record.
    clickButton(w, "btnNext");
    EXPECT_EQ(w->mode(), MaintenanceWindow::EditMode);
    EXPECT_EQ(w->edtPicNo->text(), "P01");
    EXPECT_EQ(w->edtPicName->text(), "Changed");
}

// After Add the number field has the focus, after Edit the first field (the number, which
// may be changed too).
TEST_P(CardPictureTest, AddAndEditPutTheFocusInTheFirstField)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnAdd");
    EXPECT_EQ(QApplication::focusWidget(), w->edtPicNo);
    typeText("P09");
    EXPECT_EQ(w->edtPicNo->text(), "P09");
    clickButton(w, "btnCancel");
    clickButton(w, "btnEdit");
    EXPECT_EQ(QApplication::focusWidget(), w->edtPicNo);
}

TEST_P(CardPictureTest, LeavingTheNameFillsAnEmptyDescriptionOnly)
{
    ZQ_FORM_DB();
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnAdd");
    typeInto(w->edtPicName, "Front");
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), w->edtDescription);
    EXPECT_EQ(w->edtDescription->text(), "Front");

    typeInto(w->edtDescription, "Kept");
    typeInto(w->edtPicName, "Back");
    pressKey(Qt::Key_Tab);
    EXPECT_EQ(w->edtDescription->text(), "Kept");
}

TEST_P(CardPictureTest, NumbersWithQuotesAreAddedCheckedAndDeleted)
{
    ZQ_FORM_DB();
    storePicture("P01", "Front", {});
    auto *w = openPictures();
    ASSERT_NE(w, nullptr);
    clickButton(w, "btnAdd");
    typeText("O'P");
    typeInto(w->edtPicName, "Quoted");
    clickButton(w, "btnOk");
    ASSERT_EQ(pictures("O'P"), 1);
    ASSERT_EQ(w->edtPicNo->text(), "O'P");

    clickButton(w, "btnAdd");
    typeText("O'P");
    typeInto(w->edtPicName, "Again");
    clickButton(w, "btnOk");
    EXPECT_EQ(picName("O'P"), "Quoted");
    EXPECT_EQ(d.messages(), QStringList{"PicNoDouble"});
    clickButton(w, "btnCancel");

    ASSERT_TRUE(zq::data::LocateRecord(w->listQuery(), "PicNo", "O'P"));
    d.calls.clear();
    d.messageBoxAnswers = {7, 6};
    clickRow(w->chrome().dgView, w->listQuery()->currentRow());
    pressKey(Qt::Key_Delete);
    EXPECT_EQ(pictures("O'P"), 1);
    clickButton(w, "btnDelete");
    EXPECT_EQ(d.messages(), (QStringList{"DeleteRecord", "DeleteRecord"}));
    EXPECT_EQ(pictures("O'P"), 0);
    EXPECT_EQ(pictures("P01"), 1);
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines,
                         CardPictureTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
