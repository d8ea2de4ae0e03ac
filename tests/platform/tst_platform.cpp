#include "PictureCodec.h"

#include <QBuffer>
#include <QDataStream>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtEndian>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>

using namespace zq::platform;

namespace {

QImage quadrants(int width, int height, QImage::Format format = QImage::Format_RGB32)
{
    QImage image(width, height, format);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.setPixelColor(x,
                                y,
                                y < height / 2 ? (x < width / 2 ? Qt::red : Qt::green)
                                               : (x < width / 2 ? Qt::blue : Qt::yellow));
    return image;
}

testing::AssertionResult near(QRgb a, QRgb b, int tolerance = 12)
{
    if (std::abs(qRed(a) - qRed(b)) <= tolerance && std::abs(qGreen(a) - qGreen(b)) <= tolerance
        && std::abs(qBlue(a) - qBlue(b)) <= tolerance)
        return testing::AssertionSuccess();
    return testing::AssertionFailure()
           << QColor(a).name().toStdString() << " is not near " << QColor(b).name().toStdString();
}

void expectQuadrants(const QImage &image, int width, int height)
{
    ASSERT_EQ(image.size(), QSize(width, height));
    EXPECT_TRUE(near(image.pixel(width / 4, height / 4), qRgb(255, 0, 0)));
    EXPECT_TRUE(near(image.pixel(3 * width / 4, height / 4), qRgb(0, 255, 0)));
    EXPECT_TRUE(near(image.pixel(width / 4, 3 * height / 4), qRgb(0, 0, 255)));
    EXPECT_TRUE(near(image.pixel(3 * width / 4, 3 * height / 4), qRgb(255, 255, 0)));
}

// Random pixels: nearly all of its JPEG is scan data, so a cut lands inside the scan.
QImage noisePicture()
{
    QImage image(160, 120, QImage::Format_RGB32);
    QRandomGenerator(5).fillRange(reinterpret_cast<quint32 *>(image.bits()), 160 * 120);
    return image;
}

QByteArray saved(const QImage &image, const char *format, bool progressive = false)
{
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.setProgressiveScanWrite(progressive);
    EXPECT_TRUE(writer.write(image)) << format;
    return buffer.data();
}

// Width and height in the frame header, to fake a huge picture in a few bytes.
QByteArray withJpegSize(QByteArray jpeg, quint16 width, quint16 height)
{
    const qsizetype sof = jpeg.indexOf("\xFF\xC0");
    jpeg[sof + 5] = char(height >> 8), jpeg[sof + 6] = char(height);
    jpeg[sof + 7] = char(width >> 8), jpeg[sof + 8] = char(width);
    return jpeg;
}

QByteArray withBmpSize(QByteArray bmp, qint32 width, qint32 height)
{
    qToLittleEndian(width, bmp.data() + 18);
    qToLittleEndian(height, bmp.data() + 22);
    return bmp;
}

// Qt writes one picture per icon file; this joins several into one directory.
QByteArray iconFile(const QList<QImage> &images)
{
    QByteArray out;
    QDataStream stream(&out, QIODevice::WriteOnly);
    stream.setByteOrder(QDataStream::LittleEndian);
    stream << quint16(0) << quint16(1) << quint16(images.size());
    quint32 offset = 6 + 16 * images.size();
    QByteArray data;
    for (const QImage &image : images) {
        const QByteArray single = saved(image, "ico");
        const quint32 start = qFromLittleEndian<quint32>(single.constData() + 18);
        stream.writeRawData(single.constData() + 6, 12);
        stream << quint32(offset + data.size());
        data += single.mid(start);
    }
    stream.writeRawData(data.constData(), data.size());
    return out;
}

// A progressive JPEG of one DC scan plus AC scans refined bit by bit, (levels * 189 + 1) scans.
QByteArray manyScans(int levels)
{
    const QImage rgb = quadrants(32, 32).convertToFormat(QImage::Format_RGB888);
    std::vector<jpeg_scan_info> scans{{3, {0, 1, 2}, 0, 0, 0, 0}};
    for (int c = 0; c < 3; ++c)
        for (int k = 1; k < 64; ++k)
            for (int level = levels - 1; level >= 0; --level)
                scans.push_back({1, {c}, k, k, level == levels - 1 ? 0 : level + 1, level});
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char *buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = cinfo.image_height = 32;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.scan_info = scans.data();
    cinfo.num_scans = int(scans.size());
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<uchar *>(rgb.constScanLine(int(cinfo.next_scanline)));
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    QByteArray out(reinterpret_cast<const char *>(buffer), qsizetype(size));
    std::free(buffer);
    return out;
}

} // namespace

TEST(PictureKind, ComesFromTheLastThreeCharacters)
{
    EXPECT_EQ(kindOfPath("C:/photos/a.bmp"), PictureKind::Bmp);
    EXPECT_EQ(kindOfPath("A.BmP"), PictureKind::Bmp);
    EXPECT_EQ(kindOfPath("face.Ico"), PictureKind::Ico);
    for (const char *path : {"a.jpg", "a.JPEG", "a.png", "picture", "", "bmp.jpg"})
        EXPECT_EQ(kindOfPath(path), PictureKind::Jpeg) << path;
}

TEST(JpegCodec, EncodesBaselineAtTheQualityAndDecodesBack)
{
    const QImage image = quadrants(64, 48);
    const QByteArray jpeg = encodeJpeg(image, 70);
    EXPECT_TRUE(jpeg.contains("\xFF\xC0")) << "baseline frame";
    // Quality 70 scales the standard luminance table, starting 16, 11, 12, 14, to 60 %.
    const qsizetype dqt = jpeg.indexOf("\xFF\xDB");
    ASSERT_GE(dqt, 0);
    EXPECT_EQ(jpeg.mid(dqt + 4, 5), QByteArray("\x00\x0A\x07\x07\x08", 5));
    EXPECT_EQ(encodeJpeg(image, 70), jpeg);
    EXPECT_NE(encodeJpeg(image, 90), jpeg);
    expectQuadrants(decodeJpeg(jpeg), 64, 48);
    expectQuadrants(decodeJpeg(encodeJpeg(quadrants(33, 17, QImage::Format_RGB888), 95)), 33, 17);

    EXPECT_TRUE(encodeJpeg(QImage(), 70).isEmpty());
    EXPECT_TRUE(encodeJpeg(image, 0).isEmpty());
    EXPECT_TRUE(encodeJpeg(image, 101).isEmpty());
}

TEST(JpegCodec, ComposesTransparencyOverWhite)
{
    QImage image(16, 16, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    for (int y = 8; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            image.setPixel(x, y, qRgba(255, 0, 0, 128));
    const QImage decoded = decodeJpeg(encodeJpeg(image, 100));
    EXPECT_TRUE(near(decoded.pixel(8, 2), qRgb(255, 255, 255)));
    EXPECT_TRUE(near(decoded.pixel(8, 13), qRgb(255, 127, 127)));
}

TEST(JpegCodec, DecodesOnlyCompleteJpegData)
{
    const QImage image = quadrants(40, 40);
    const QByteArray jpeg = encodeJpeg(image, 70);
    QByteArray noise(4096, Qt::Uninitialized);
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QByteArray photo = encodeJpeg(noisePicture(), 90);
    const QByteArray broken[] = {QByteArray(),
                                 jpeg.left(jpeg.size() / 2),
                                 photo.left(photo.size() * 3 / 4),
                                 photo.chopped(2),
                                 saved(image, "bmp"),
                                 noise,
                                 QByteArray("\xFF\xD8\xFF") + noise,
                                 withJpegSize(jpeg, 30000, 30000),
                                 manyScans(6)};
    for (const QByteArray &data : broken)
        EXPECT_TRUE(decodeJpeg(data).isNull()) << data.left(8).toHex().constData();

    expectQuadrants(decodeJpeg(manyScans(5)), 32, 32); // 946 scans, within the limit
    expectQuadrants(decodeJpeg(saved(image, "jpeg", true)), 40, 40);
    const QImage grey = image.convertToFormat(QImage::Format_Grayscale8);
    const QImage decodedGrey = decodeJpeg(saved(grey, "jpeg"));
    ASSERT_EQ(decodedGrey.size(), image.size());
    EXPECT_TRUE(near(decodedGrey.pixel(30, 30), grey.pixel(30, 30)));
    EXPECT_TRUE(near(decodedGrey.pixel(10, 30), grey.pixel(10, 30)));
}

class PictureFileTest : public testing::Test
{
protected:
    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        return path;
    }

    QTemporaryDir m_dir;
};

TEST_F(PictureFileTest, JpegFilesAreStoredByteForByte)
{
    const QImage image = quadrants(48, 32);
    const QByteArray ours = encodeJpeg(image, 75);
    const QByteArray progressive = saved(image, "jpeg", true);
    for (const auto &[name, bytes] :
         {std::pair{"a.jpg", ours}, {"b.jpeg", progressive}, {"noextension", ours}}) {
        const PictureResult result = pictureForFile(write(name, bytes));
        ASSERT_TRUE(result.ok) << name << result.error.toStdString();
        EXPECT_EQ(result.jpeg, bytes) << name;
        EXPECT_TRUE(result.error.isEmpty());
        expectQuadrants(result.image, 48, 32);
    }
}

TEST_F(PictureFileTest, BitmapsAndIconsAreStoredAsJpegAtTheQuality)
{
    const QImage image = quadrants(50, 40);
    const QString bmp = write("a.BMP", saved(image, "bmp"));
    PictureResult result = pictureForFile(bmp);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.jpeg, encodeJpeg(image, 70));
    expectQuadrants(result.image, 50, 40);
    EXPECT_EQ(pictureForFile(bmp, 85).jpeg, encodeJpeg(image, 85));

    QImage icon = quadrants(64, 64, QImage::Format_ARGB32);
    for (int y = 0; y < 8; ++y)
        for (int x = 48; x < 64; ++x)
            icon.setPixel(x, y, qRgba(0, 0, 0, 0));
    result = pictureForFile(
        write("face.ico", iconFile({quadrants(16, 16), icon, quadrants(8, 8)})));
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    EXPECT_EQ(result.jpeg, encodeJpeg(icon, 70));
    expectQuadrants(result.image, 64, 64);
    EXPECT_TRUE(near(result.image.pixel(56, 2), qRgb(255, 255, 255)));
}

TEST_F(PictureFileTest, BrokenMismatchedAndHugeFilesAreRefused)
{
    const QImage image = quadrants(40, 40);
    const QByteArray jpeg = encodeJpeg(image, 70);
    const QByteArray bmp = saved(image, "bmp");
    const QByteArray photo = encodeJpeg(noisePicture(), 90);
    const QByteArray ico = saved(image, "ico");
    QByteArray noise(999, 'x');
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32 *>(noise.data()), noise.size() / 4);
    const QString oversized = write("oversized.jpg", {});
    QFile(oversized).resize(kMaxPictureFileBytes + 1);
    const std::pair<QString, const char *> cases[] = {
        {m_dir.filePath("missing.jpg"), "does not exist"},
        {write("empty.bmp", {}), "is empty"},
        {oversized, "larger than 64 MiB"},
        {write("cut.jpg", photo.left(photo.size() - 1000)), "damaged or incomplete"},
        {write("cut.ico", ico.left(ico.size() - 100)), "cannot be read"},
        {write("noise.jpg", noise), "not a JPEG"},
        {write("bitmap.jpg", bmp), "not a JPEG"},
        {write("photo.bmp", jpeg), "not a BMP"},
        {write("photo.ico", jpeg), "not an ICO"},
        {write("half.bmp", bmp.left(bmp.size() / 2)), "incomplete"},
        {write("huge.jpg", withJpegSize(jpeg, 30000, 30000)), "30000 x 30000 pixels is too large"},
        {write("huge.bmp", withBmpSize(bmp, 30000, 30000)), "30000 x 30000 pixels is too large"},
        {write("wide.bmp", withBmpSize(bmp, 10001, 10)), "10001 x 10 pixels is too large"},
        {write("many.bmp", withBmpSize(bmp, 9000, 8000)), "9000 x 8000 pixels is too large"},
        {write("short.bmp", withBmpSize(bmp, 10000, 6400)), "incomplete"},
    };
    for (const auto &[path, reason] : cases) {
        QElapsedTimer timer;
        timer.start();
        const PictureResult result = pictureForFile(path);
        EXPECT_LT(timer.elapsed(), 1000) << path.toStdString();
        EXPECT_FALSE(result.ok) << path.toStdString();
        EXPECT_TRUE(result.error.contains(reason)) << result.error.toStdString();
        EXPECT_TRUE(result.jpeg.isEmpty() && result.image.isNull()) << path.toStdString();
    }
    EXPECT_TRUE(pictureForFile(write("fine.jpg", jpeg), 0).error.contains("quality"));
}

TEST_F(PictureFileTest, LargestAllowedBitmapIsConvertedQuickly)
{
    // With four colours Qt writes four bits a pixel, which keeps the file within its limit.
    QImage image(8000, 8000, QImage::Format_Indexed8);
    image.setColorTable({qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 0, 255), qRgb(255, 255, 0)});
    for (int y = 0; y < 8000; ++y) {
        uchar *line = image.scanLine(y);
        std::memset(line, y < 4000 ? 0 : 2, 4000);
        std::memset(line + 4000, y < 4000 ? 1 : 3, 4000);
    }
    const QString path = write("large.bmp", saved(image, "bmp"));
    QElapsedTimer timer;
    timer.start();
    const PictureResult result = pictureForFile(path);
    EXPECT_LT(timer.elapsed(), 10000);
    ASSERT_TRUE(result.ok) << result.error.toStdString();
    expectQuadrants(result.image, 8000, 8000);
}
