#pragma once

#include <QByteArray>
#include <QImage>
#include <QString>

#include <cstdint>

namespace zq::platform {

/// Largest width or height of a picture that is decoded at all.
inline constexpr int kMaxPictureSide = 10000;
/// Largest pixel count (width times height) of a picture that is decoded at all: 8000 x 8000.
inline constexpr std::int64_t kMaxPicturePixels = 64'000'000;
/// Largest picture file that is read at all, in bytes.
inline constexpr std::int64_t kMaxPictureFileBytes = 64 * 1024 * 1024;
/// Scans a progressive JPEG may have; crafted files with many more would decode for minutes.
inline constexpr int kMaxJpegScans = 1000;

enum class PictureKind { Jpeg, Bmp, Ico };

/// The kind of a picture file by the last three characters of its path, case-insensitive:
/// "BMP" and "ICO" name their kinds, everything else (JPG, PEG of .jpeg, no extension) is Jpeg.
PictureKind kindOfPath(const QString &path);

/// What to store for a picked picture file.
struct PictureResult
{
    bool ok = false;
    /// The JPEG bytes to store; empty unless ok.
    QByteArray jpeg;
    /// The stored bytes decoded, as the card shows them; null unless ok.
    QImage image;
    /// Why the file cannot be stored; empty if ok.
    QString error;
};

/// The JPEG bytes to store for a picked picture file.
///
/// The kind comes from the path (kindOfPath) and the content must be of that kind: a JPEG named
/// .bmp or a bitmap named .jpg is refused, not guessed. A JPEG file is taken byte for byte once
/// it decodes completely. A BMP is decoded and encoded as JPEG at \a quality. Of an ICO file the
/// largest image is taken, composed over white at its own size and encoded at \a quality.
/// Missing, empty, truncated or damaged files, files of the wrong kind, files over
/// kMaxPictureFileBytes and pictures over kMaxPictureSide or kMaxPicturePixels give ok == false
/// and a reason; the size limits are checked from the header, before the pixels are allocated.
/// A QImageReader::allocationLimit() below what the largest allowed picture needs is raised.
PictureResult pictureForFile(const QString &path, int quality = 70);

/// Decodes JPEG data into an image of Format_RGB32. Anything that is not one complete JPEG
/// within the size limits (empty, truncated, damaged, other formats) gives a null image.
QImage decodeJpeg(const QByteArray &data);

/// Encodes an image as a baseline JPEG at \a quality (1 to 100) in colour; transparent parts are
/// composed over white. Empty for a null image, a quality out of range or an encoder error.
QByteArray encodeJpeg(const QImage &image, int quality);

} // namespace zq::platform
