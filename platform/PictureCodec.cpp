#include "PictureCodec.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

// libjpeg reports errors by calling back and never returning, so every call into it runs under a
// setjmp in a function that holds only trivially destructible locals: the longjmp must not skip a
// destructor. Images and byte arrays live in the caller and are reached through pointers.

namespace zq::platform {

namespace {

// Qt's Format_RGB32 is one native 0xffRRGGBB word per pixel; libjpeg-turbo reads and writes
// that layout directly, which saves a conversion pass over large pictures.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_BGRX;
#else
constexpr J_COLOR_SPACE kRgb32Space = JCS_EXT_XRGB;
#endif
constexpr int kRowsPerCall = 16;

struct ErrorManager
{
    jpeg_error_mgr base; // first, so libjpeg's pointer to it is a pointer to the whole
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void failWithMessage(j_common_ptr cinfo)
{
    auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, err->message);
    std::longjmp(err->jump, 1);
}

// A picture that ends early is padded by libjpeg and only warned about; the card would show a
// grey band, so missing data counts as an error. Other warnings (stray bytes between markers)
// are common in camera files and harmless.
void checkWarning(j_common_ptr cinfo, int level)
{
    if (level < 0
        && (cinfo->err->msg_code == JWRN_JPEG_EOF || cinfo->err->msg_code == JWRN_HIT_MARKER))
        failWithMessage(cinfo);
}

void keepQuiet(j_common_ptr) {}

void installErrorManager(ErrorManager *err)
{
    jpeg_std_error(&err->base);
    err->base.error_exit = failWithMessage;
    err->base.emit_message = checkWarning;
    err->base.output_message = keepQuiet;
    err->message[0] = '\0';
}

// Every scan of a progressive file passes over the whole picture, and the format allows
// thousands of tiny ones: without a cap a small crafted file keeps the decoder busy for minutes.
void limitScans(j_common_ptr cinfo)
{
    const auto *dinfo = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (dinfo->input_scan_number > kMaxJpegScans) {
        auto *err = reinterpret_cast<ErrorManager *>(cinfo->err);
        std::snprintf(err->message, sizeof err->message, "More than %d scans", kMaxJpegScans);
        std::longjmp(err->jump, 1);
    }
}

bool withinLimits(qint64 width, qint64 height)
{
    return width > 0 && height > 0 && width <= kMaxPictureSide && height <= kMaxPictureSide
           && width * height <= kMaxPicturePixels;
}

QString tooLargeMessage(qint64 width, qint64 height)
{
    return QStringLiteral("The picture of %1 x %2 pixels is too large (at most %3 x %3 pixels and "
                          "%4 megapixels).")
        .arg(width)
        .arg(height)
        .arg(kMaxPictureSide)
        .arg(kMaxPicturePixels / 1'000'000);
}

enum class JpegStatus { Decoded, NotJpeg, TooLarge, Damaged };

struct JpegOutcome
{
    JpegStatus status = JpegStatus::NotJpeg;
    int width = 0;
    int height = 0;
    char message[JMSG_LENGTH_MAX] = {};
};

void decodeInto(const QByteArray &data, QImage *image, JpegOutcome *outcome)
{
    const auto *bytes = reinterpret_cast<const unsigned char *>(data.constData());
    // Without the start-of-image marker libjpeg would only say "not a JPEG file" too, but this
    // way a damaged JPEG and a file of another kind give different reasons.
    if (data.size() < 3 || bytes[0] != 0xFF || bytes[1] != 0xD8 || bytes[2] != 0xFF) {
        outcome->status = JpegStatus::NotJpeg;
        return;
    }

    jpeg_decompress_struct cinfo;
    ErrorManager err;
    jpeg_progress_mgr progress;
    cinfo.err = &err.base;
    installErrorManager(&err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::snprintf(outcome->message, sizeof outcome->message, "%s", err.message);
        outcome->status = JpegStatus::Damaged;
        *image = QImage();
        return;
    }
    jpeg_create_decompress(&cinfo);
    progress.progress_monitor = limitScans;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, bytes, static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    outcome->width = static_cast<int>(cinfo.image_width);
    outcome->height = static_cast<int>(cinfo.image_height);
    if (!withinLimits(cinfo.image_width, cinfo.image_height)) {
        jpeg_destroy_decompress(&cinfo);
        outcome->status = JpegStatus::TooLarge;
        return;
    }
    cinfo.out_color_space = kRgb32Space;
    jpeg_start_decompress(&cinfo);
    *image = QImage(static_cast<int>(cinfo.output_width),
                    static_cast<int>(cinfo.output_height),
                    QImage::Format_RGB32);
    if (image->isNull())
        ERREXIT(&cinfo, JERR_OUT_OF_MEMORY);
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.output_scanline < cinfo.output_height) {
        const JDIMENSION first = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.output_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = image->scanLine(static_cast<int>(first + i));
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    outcome->status = JpegStatus::Decoded;
}

// libjpeg's own memory destination reallocates with malloc and loses the buffer when an error
// jumps out; growing a QByteArray owned by the caller cannot leak.
struct ByteArrayDestination
{
    jpeg_destination_mgr base;
    QByteArray *out;
};

void startOutput(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<ByteArrayDestination *>(cinfo->dest);
    dest->out->resize(64 * 1024);
    dest->base.next_output_byte = reinterpret_cast<JOCTET *>(dest->out->data());
    dest->base.free_in_buffer = static_cast<size_t>(dest->out->size());
}

boolean growOutput(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<ByteArrayDestination *>(cinfo->dest);
    const qsizetype used = dest->out->size();
    dest->out->resize(used * 2);
    dest->base.next_output_byte = reinterpret_cast<JOCTET *>(dest->out->data()) + used;
    dest->base.free_in_buffer = static_cast<size_t>(used);
    return TRUE;
}

void finishOutput(j_compress_ptr cinfo)
{
    auto *dest = reinterpret_cast<ByteArrayDestination *>(cinfo->dest);
    dest->out->resize(dest->out->size() - static_cast<qsizetype>(dest->base.free_in_buffer));
}

bool encodeInto(const QImage &rgb32, int quality, QByteArray *out)
{
    jpeg_compress_struct cinfo;
    ErrorManager err;
    ByteArrayDestination dest;
    cinfo.err = &err.base;
    installErrorManager(&err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        out->clear();
        return false;
    }
    jpeg_create_compress(&cinfo);
    dest.base.init_destination = startOutput;
    dest.base.empty_output_buffer = growOutput;
    dest.base.term_destination = finishOutput;
    dest.out = out;
    cinfo.dest = &dest.base;
    cinfo.image_width = static_cast<JDIMENSION>(rgb32.width());
    cinfo.image_height = static_cast<JDIMENSION>(rgb32.height());
    cinfo.input_components = 4;
    cinfo.in_color_space = kRgb32Space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    JSAMPROW rows[kRowsPerCall];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION first = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(kRowsPerCall, cinfo.image_height - first);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = const_cast<JSAMPROW>(rgb32.constScanLine(static_cast<int>(first + i)));
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return true;
}

QImage opaqueRgb32(const QImage &image)
{
    if (!image.hasAlphaChannel())
        return image.convertToFormat(QImage::Format_RGB32);
    QImage canvas(image.size(), QImage::Format_RGB32);
    if (canvas.isNull())
        return canvas;
    canvas.fill(Qt::white);
    QPainter painter(&canvas);
    // An explicit target keeps a device pixel ratio of the source from scaling it.
    painter.drawImage(QRect(QPoint(0, 0), image.size()), image);
    painter.end();
    return canvas;
}

PictureResult failure(const QString &error)
{
    PictureResult result;
    result.error = error;
    return result;
}

PictureResult storedAsIs(const QString &path, qint64 expectedSize)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QStringLiteral("The file %1 cannot be opened: %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray bytes = file.readAll();
    if (bytes.size() != expectedSize)
        return failure(QStringLiteral("The file %1 cannot be read completely: %2")
                           .arg(QDir::toNativeSeparators(path), file.errorString()));
    PictureResult result;
    JpegOutcome outcome;
    decodeInto(bytes, &result.image, &outcome);
    switch (outcome.status) {
    case JpegStatus::Decoded:
        result.ok = true;
        result.jpeg = bytes;
        return result;
    case JpegStatus::NotJpeg:
        return failure(QStringLiteral("The file %1 is not a JPEG picture.")
                           .arg(QDir::toNativeSeparators(path)));
    case JpegStatus::TooLarge:
        return failure(tooLargeMessage(outcome.width, outcome.height));
    case JpegStatus::Damaged:
        break;
    }
    return failure(
        QStringLiteral("The JPEG picture %1 is damaged or incomplete: %2")
            .arg(QDir::toNativeSeparators(path), QString::fromLocal8Bit(outcome.message)));
}

// Qt's BMP reader stops quietly at the end of the file and returns the picture with whatever was
// in memory below the last row read. The header is read here, for the size limits before Qt
// allocates anything and to check that all rows of an uncompressed bitmap are in the file.
struct BmpHeader
{
    qint64 width = 0;
    qint64 height = 0;
    bool complete = false;
};

bool readBmpHeader(const QString &path, qint64 fileSize, BmpHeader *header)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.read(54);
    if (bytes.size() < 26 || !bytes.startsWith("BM"))
        return false;
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const quint32 pixelOffset = qFromLittleEndian<quint32>(p + 10);
    const quint32 infoSize = qFromLittleEndian<quint32>(p + 14);
    quint16 bitCount = 0;
    quint32 compression = 0;
    if (infoSize == 12) {
        header->width = qFromLittleEndian<quint16>(p + 18);
        header->height = qFromLittleEndian<quint16>(p + 20);
        bitCount = qFromLittleEndian<quint16>(p + 24);
    } else if (infoSize >= 40 && bytes.size() >= 34) {
        header->width = qFromLittleEndian<qint32>(p + 18);
        header->height = std::abs(qint64(qFromLittleEndian<qint32>(p + 22)));
        bitCount = qFromLittleEndian<quint16>(p + 28);
        compression = qFromLittleEndian<quint32>(p + 30);
    } else {
        return false;
    }
    if (header->width <= 0 || header->height <= 0)
        return false;
    if (!withinLimits(header->width, header->height))
        return true;
    constexpr quint32 kUncompressed = 0, kBitFields = 3, kAlphaBitFields = 6;
    const qint64 rowBytes = (header->width * bitCount + 31) / 32 * 4;
    header->complete = (compression != kUncompressed && compression != kBitFields
                        && compression != kAlphaBitFields)
                       || pixelOffset + rowBytes * header->height <= fileSize;
    return true;
}

// The directory of an icon file gives each picture's size in one byte, and nothing makes it
// agree with the picture stored behind it: an entry saying 16 x 16 may hold a PNG of 12000 x
// 5000 pixels, which Qt would decode whole. The sizes that count are the stored pictures' own
// headers, read here for every entry in directory order, as the reader numbers them.
bool readIconSizes(const QString &path, QList<QSize> *sizes)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = file.readAll();
    const auto *p = reinterpret_cast<const uchar *>(bytes.constData());
    const qint64 size = bytes.size();
    if (size < 6 || qFromLittleEndian<quint16>(p) != 0)
        return false;
    const int count = qFromLittleEndian<quint16>(p + 4);
    if (count == 0 || 6 + qint64(count) * 16 > size)
        return false;
    static constexpr char kPngSignature[] = "\x89PNG\r\n\x1a\n";
    for (int i = 0; i < count; ++i) {
        const uchar *entry = p + 6 + i * 16;
        const qint64 offset = qFromLittleEndian<quint32>(entry + 12);
        if (offset + 24 > size)
            return false;
        const uchar *image = p + offset;
        qint64 width = 0;
        qint64 height = 0;
        if (std::memcmp(image, kPngSignature, 8) == 0) {
            // The IHDR chunk comes first: length, type, then width and height big-endian.
            if (std::memcmp(image + 12, "IHDR", 4) != 0)
                return false;
            width = qFromBigEndian<quint32>(image + 16);
            height = qFromBigEndian<quint32>(image + 20);
        } else {
            // A bitmap without its file header; the height counts the mask rows too.
            if (qFromLittleEndian<quint32>(image) < 12)
                return false;
            width = std::abs(qint64(qFromLittleEndian<qint32>(image + 4)));
            height = std::abs(qint64(qFromLittleEndian<qint32>(image + 8))) / 2;
        }
        if (width <= 0 || height <= 0)
            return false;
        sizes->append(
            QSize(int(std::min<qint64>(width, INT_MAX)), int(std::min<qint64>(height, INT_MAX))));
    }
    return true;
}

// Qt refuses to read pictures whose pixels need more than its allocation limit, by default well
// below what the size limits here allow; without raising it an 8000 x 8000 bitmap would fail.
void allowLargestPicture()
{
    constexpr int kNeededMiB = int((kMaxPicturePixels * 4 + (1 << 20) - 1) >> 20);
    const int limit = QImageReader::allocationLimit();
    if (limit != 0 && limit < kNeededMiB)
        QImageReader::setAllocationLimit(kNeededMiB);
}

PictureResult reencoded(const QString &path, PictureKind kind, qint64 fileSize, int quality)
{
    const QString name = QDir::toNativeSeparators(path);
    const bool bmp = kind == PictureKind::Bmp;
    const QString notOfKind = bmp ? QStringLiteral("The file %1 is not a BMP picture.")
                                  : QStringLiteral("The file %1 is not an ICO picture.");
    QImageReader reader(path, bmp ? "bmp" : "ico");
    // Only the reader of the named kind, so a file whose content and name disagree is refused
    // the same way whichever image plug-ins happen to be installed.
    reader.setAutoDetectImageFormat(false);
    if (bmp) {
        BmpHeader header;
        if (!readBmpHeader(path, fileSize, &header) || !reader.canRead())
            return failure(notOfKind.arg(name));
        if (!withinLimits(header.width, header.height))
            return failure(tooLargeMessage(header.width, header.height));
        if (!header.complete)
            return failure(QStringLiteral("The BMP picture %1 is incomplete.").arg(name));
    } else {
        if (!reader.canRead())
            return failure(notOfKind.arg(name));
        QList<QSize> sizes;
        if (!readIconSizes(path, &sizes))
            return failure(QStringLiteral("The ICO picture %1 is damaged.").arg(name));
        // An icon file holds one picture per size; the largest shows best on the card.
        int best = 0;
        for (int i = 1; i < sizes.size(); ++i) {
            if (qint64(sizes.at(i).width()) * sizes.at(i).height()
                > qint64(sizes.at(best).width()) * sizes.at(best).height())
                best = i;
        }
        const QSize size = sizes.at(best);
        if (!withinLimits(size.width(), size.height()))
            return failure(tooLargeMessage(size.width(), size.height()));
        if (best != reader.currentImageNumber() && !reader.jumpToImage(best))
            return failure(
                QStringLiteral("The file %1 cannot be read: %2").arg(name, reader.errorString()));
    }

    allowLargestPicture();
    const QImage picture = reader.read();
    if (picture.isNull())
        return failure(
            QStringLiteral("The file %1 cannot be read: %2").arg(name, reader.errorString()));
    PictureResult result;
    result.jpeg = encodeJpeg(picture, quality);
    result.image = decodeJpeg(result.jpeg);
    result.ok = !result.image.isNull();
    if (!result.ok)
        return failure(QStringLiteral("The picture %1 cannot be converted to JPEG.").arg(name));
    return result;
}

} // namespace

PictureKind kindOfPath(const QString &path)
{
    const QString ending = path.right(3).toUpper();
    if (ending == QLatin1String("BMP"))
        return PictureKind::Bmp;
    if (ending == QLatin1String("ICO"))
        return PictureKind::Ico;
    return PictureKind::Jpeg;
}

PictureResult pictureForFile(const QString &path, int quality)
{
    if (quality < 1 || quality > 100)
        return failure(
            QStringLiteral("The JPEG quality %1 is not between 1 and 100.").arg(quality));
    const QFileInfo info(path);
    const QString name = QDir::toNativeSeparators(path);
    if (!info.isFile())
        return failure(QStringLiteral("The file %1 does not exist.").arg(name));
    if (info.size() == 0)
        return failure(QStringLiteral("The file %1 is empty.").arg(name));
    if (info.size() > kMaxPictureFileBytes)
        return failure(QStringLiteral("The file %1 is larger than %2 MiB.")
                           .arg(name)
                           .arg(kMaxPictureFileBytes / (1024 * 1024)));
    const PictureKind kind = kindOfPath(path);
    if (kind == PictureKind::Jpeg)
        return storedAsIs(path, info.size());
    return reencoded(path, kind, info.size(), quality);
}

QImage decodeJpeg(const QByteArray &data)
{
    QImage image;
    JpegOutcome outcome;
    decodeInto(data, &image, &outcome);
    return outcome.status == JpegStatus::Decoded ? image : QImage();
}

QByteArray encodeJpeg(const QImage &image, int quality)
{
    if (image.isNull() || quality < 1 || quality > 100)
        return {};
    const QImage rgb32 = opaqueRgb32(image);
    if (rgb32.isNull())
        return {};
    QByteArray out;
    encodeInto(rgb32, quality, &out);
    return out;
}

} // namespace zq::platform
