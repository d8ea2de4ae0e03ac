// The holder window against another workstation: what the window showed guards every write
// and every delete, whatever the operator did to the fields meanwhile, and a delete that
// fails after its device calls says what it left undone.
#include "HolderFixture.h"

#include "FileDialogs.h"
#include "PictureCodec.h"

#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>

namespace {

const QString kChanged = "RecordChangedElsewhere";

class HolderGuardTest : public HolderTest
{
protected:
    void SetUp() override
    {
        HolderTest::SetUp();
        m_dir = std::make_unique<QTemporaryDir>();
    }
    void TearDown() override
    {
        zq::platform::setFileDialogAnswer({});
        m_other.reset();
        HolderTest::TearDown();
    }
    // The other workstation, with a connection of its own.
    void openOther()
    {
        m_other = m_db->openAnother();
        ASSERT_TRUE(m_other && m_other->isConnected());
    }
    void elsewhere(const QString &sql) { ASSERT_TRUE(m_other->execute(sql)) << sql.toStdString(); }
    // The other workstation stores `bytes` as the photo of `holder`.
    void photoElsewhere(const QString &holder, const QByteArray &bytes)
    {
        zq::data::Recordset rs;
        rs.setConnection(m_other.get());
        rs.setStatement("SELECT * FROM HolderData WHERE HolderNo = " + Connection::quoted(holder));
        rs.open();
        ASSERT_FALSE(rs.isEmpty());
        rs.edit();
        rs.setField("Photo", bytes.isNull() ? QVariant() : QVariant(bytes));
        rs.post();
    }
    static QByteArray jpeg(const QColor &colour)
    {
        QImage image(24, 30, QImage::Format_RGB32);
        image.fill(colour);
        return zq::platform::encodeJpeg(image, 70);
    }
    QByteArray photoOf(const QString &holder)
    {
        zq::data::Recordset rs;
        rs.setConnection(&db());
        rs.setStatement("SELECT Photo FROM HolderData WHERE HolderNo = "
                        + Connection::quoted(holder));
        rs.open();
        return rs.isEmpty() ? QByteArray("(no row)") : rs.bytes("Photo");
    }
    static void press(QAbstractButton *button)
    {
        ASSERT_TRUE(button && button->isVisible()) << "no visible button";
        QTest::mouseClick(button, Qt::LeftButton);
        QCoreApplication::processEvents();
    }
    void devicesAndCards()
    {
        exec({"INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (1, 'a', 1)",
              "INSERT INTO DeviceUnit (DeviceNo, DeviceName, DeviceEnabled) VALUES (3, 'c', 1)",
              "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1001, 'H1', 1)",
              "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1002, 'H1', 1)"});
    }
    std::unique_ptr<Connection> m_other;
    std::unique_ptr<QTemporaryDir> m_dir;
};

// After Edit + OK the window stays on the holder in Edit mode; Clear and then OK removes the
// stored photo, and so does a Load refused for a file that is no picture.
TEST_P(HolderGuardTest, ClearOrARefusedLoadAfterASavedEditRemovesTheStoredPhoto)
{
    ZQ_FORM_DB();
    fillSite();
    addHolder("H5", "Dora", "D1", "");
    openOther();
    photoElsewhere("H1", jpeg(Qt::blue));
    photoElsewhere("H5", jpeg(Qt::red));
    auto *w = openHolders();
    ASSERT_TRUE(w);
    clickRow(w, "H1");
    click(w, "btnEdit");
    typeInto(ui(w).edDescription, "first");
    click(w, "btnOk");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    ASSERT_EQ(scalar("SELECT Description FROM HolderData WHERE HolderNo = 'H1'"), "first");
    press(ui(w).btnClear);
    EXPECT_FALSE(ui(w).imgPhoto->hasPicture());
    click(w, "btnOk");
    EXPECT_TRUE(photoOf("H1").isEmpty());
    EXPECT_FALSE(d.messages().contains(kChanged));
    EXPECT_EQ(d.auditEntries(), (QStringList{"BasicDataHolderI|E H1", "BasicDataHolderI|E H1"}));

    // The same with a file that is no picture: refused, and the photo gone on OK.
    QFile text(m_dir->filePath("notes.jpg"));
    ASSERT_TRUE(text.open(QIODevice::WriteOnly));
    text.write("these are no picture's bytes");
    text.close();
    click(w, "btnCancel");
    clickRow(w, "H5");
    click(w, "btnEdit");
    typeInto(ui(w).edDescription, "second");
    click(w, "btnOk");
    ASSERT_EQ(w->mode(), TfrmHolder::EditMode);
    ASSERT_EQ(photoOf("H5"), jpeg(Qt::red));
    zq::platform::setFileDialogAnswer(
        [&](const QString &, const QString &) { return text.fileName(); });
    press(ui(w).btnOpen);
    click(w, "btnOk");
    EXPECT_TRUE(photoOf("H5").isEmpty());
    EXPECT_EQ(d.auditEntries().size(), 4);
}

// A field the operator left alone is no change, NULL or '': the other workstation's value in
// it stays. A field he emptied is stored as empty text.
TEST_P(HolderGuardTest, AFieldLeftAloneIsNoChangeWhetherNullOrEmpty)
{
    ZQ_FORM_DB();
    fillSite();
    openOther();
    exec({"UPDATE HolderData SET Email = NULL, Definable1 = NULL WHERE HolderNo = 'H2'",
          "UPDATE HolderData SET Email = '', Definable1 = '' WHERE HolderNo = 'H3'",
          "UPDATE HolderData SET Description = 'old' WHERE HolderNo = 'H4'"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    pick(filterOf(w), "D2 : Sales");
    for (const QString no : {"H2", "H3"}) {
        SCOPED_TRACE(no.toStdString());
        clickRow(w, no);
        click(w, "btnEdit");
        elsewhere("UPDATE HolderData SET Email = 'b@other' WHERE HolderNo = '" + no + "'");
        typeInto(ui(w).edName, "Renamed " + no);
        click(w, "btnOk");
        EXPECT_FALSE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
        const QString where = " FROM HolderData WHERE HolderNo = '" + no + "'";
        EXPECT_EQ(scalar("SELECT HolderName" + where), "Renamed " + no);
        EXPECT_EQ(scalar("SELECT Email" + where), "b@other");
        // Untouched, the other empty field keeps its form.
        EXPECT_EQ(count("SELECT COUNT(*)" + where + " AND Definable1 IS NULL"), no == "H2");
        click(w, "btnCancel");
    }
    // Emptied by the operator: empty text.
    pick(filterOf(w), "D3 : Lab");
    click(w, "btnEdit");
    QTest::mouseClick(ui(w).edDescription, Qt::LeftButton);
    QTest::keyClick(ui(w).edDescription, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(ui(w).edDescription, Qt::Key_Backspace);
    click(w, "btnOk");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H4' AND Description = ''"),
              1);
    EXPECT_EQ(d.auditEntries().size(), 3);
}

// The photo guards the delete as every other column does: changed elsewhere (to other bytes,
// to bytes that are no picture, or removed), the holder and his cards stay.
TEST_P(HolderGuardTest, ADeleteIsRefusedWhenOnlyThePhotoChangedElsewhere)
{
    ZQ_FORM_DB();
    fillSite();
    devicesAndCards();
    openOther();
    photoElsewhere("H1", QByteArray("no jpeg at all"));
    auto *w = openHolders();
    ASSERT_TRUE(w);
    ASSERT_EQ(w->holder().number, "H1");
    const QList<QByteArray> changes{jpeg(Qt::green), QByteArray("other bytes"), QByteArray()};
    for (const QByteArray &photo : changes) {
        photoElsewhere("H1", photo);
        d.messageBoxAnswers = {Yes, Yes};
        click(w, "btnDelete");
        EXPECT_EQ(d.messages().last(), kChanged);
        EXPECT_EQ(d.count("DeviceCardDelete"), 0);
        EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), 1);
        EXPECT_EQ(count("SELECT COUNT(*) FROM CardData WHERE HolderNo = 'H1' AND CardFlag = 1"), 2);
        click(w, "btnRefresh"); // the holder as he is now
    }
    EXPECT_TRUE(d.auditEntries().isEmpty());
    // Seen as he is, he goes.
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), 0);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|D H1"});
}

// The database part fails after the cards were taken off the controllers: the operator is
// told which cards left which controllers, the holder and his cards stay in the database,
// and the next Delete finishes the job.
TEST_P(HolderGuardTest, ADeleteFailingAfterTheDeviceCallsNamesTheCardsAndTheNextOneFinishes)
{
    ZQ_FORM_DB();
    fillSite();
    devicesAndCards();
    openOther();
    auto *w = openHolders();
    ASSERT_TRUE(w);
    bool changed = false;
    QTimer watch;
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (!changed && d.count("DeviceCardDelete") > 0) {
            changed = true;
            elsewhere("UPDATE HolderData SET Email = 'new@other' WHERE HolderNo = 'H1'");
        }
    });
    watch.start(0);
    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    watch.stop();
    ASSERT_TRUE(changed);
    EXPECT_EQ(d.count("DeviceCardDelete"), 4);
    EXPECT_TRUE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
    EXPECT_TRUE(d.messages().contains("CardsOffDevicesOnly  1001 (1, 3); 1002 (1, 3)"))
        << d.messages().join(",").toStdString();
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData WHERE HolderNo = 'H1' AND CardFlag = 1"), 2);
    EXPECT_TRUE(d.auditEntries().isEmpty());

    d.messageBoxAnswers = {Yes, Yes};
    click(w, "btnDelete");
    EXPECT_EQ(d.count("DeviceCardDelete"), 8);
    EXPECT_EQ(count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = 'H1'"), 0);
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData"), 0);
    EXPECT_EQ(d.auditEntries(), QStringList{"BasicDataHolderI|D H1"});
}

// 'H1' and 'H1 ' (data of older tools) are two holders: each is deleted as shown, by his own
// key, with only the cards filed under it.
TEST_P(HolderGuardTest, OfTwoHoldersDifferingByTrailingBlanksTheOneShownGoes)
{
    ZQ_FORM_DB();
    fillSite();
    addHolder("H1 ", "Ann Twin", "D1", "");
    exec({"INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1001, 'H1', 1)",
          "INSERT INTO CardData (CardNo, HolderNo, CardFlag) VALUES (1009, 'H1 ', 1)"});
    auto *w = openHolders();
    ASSERT_TRUE(w);
    for (const QString key : {"H1 ", "H1"}) {
        SCOPED_TRACE("'" + key.toStdString() + "'");
        clickRow(w, key);
        ASSERT_EQ(w->holder().key, key);
        d.messageBoxAnswers = {Yes, 7}; // the cards only released
        click(w, "btnDelete");
        EXPECT_FALSE(d.messages().contains(kChanged)) << d.messages().join(",").toStdString();
        EXPECT_EQ(
            count("SELECT COUNT(*) FROM HolderData WHERE HolderNo = " + Connection::quoted(key)),
            0);
    }
    EXPECT_EQ(count("SELECT COUNT(*) FROM CardData WHERE HolderNo IS NULL AND CardFlag = 0"), 2);
    EXPECT_EQ(d.auditEntries(), (QStringList{"BasicDataHolderI|D H1", "BasicDataHolderI|D H1"}));
}

} // namespace

INSTANTIATE_TEST_SUITE_P(Engines,
                         HolderGuardTest,
                         testing::Values(zq::data::Engine::SQLite, zq::data::Engine::PostgreSQL),
                         zq::test::engineName);
