// The row codec gives back every value it packed, of the same type, whichever way it was
// packed (a driver's QVariant, an engine's ASCII bytes, a wall-clock time), next to values
// of other rows and columns; a date-time column's text reads as a date-time where it is one
// and stays the text where it is not.
#include "RowCodec.h"

#include <QByteArray>
#include <QDateTime>

#include <gtest/gtest.h>

#include <cstring>

using namespace zq::data;

namespace {

QVariant null(QMetaType type)
{
    return QVariant(type, nullptr);
}

} // namespace

TEST(RowCodec, ValuesComeBackAsTheyWentIn)
{
    const QList<QVariant> values{
        QVariant(),
        null(QMetaType::fromType<QString>()),
        QString(""),
        QStringLiteral("Latin-1 é ÿ"),
        QStringLiteral("中文 and 😀"),
        QString(QChar(0xD800)), // a lone surrogate stays as it is
        QVariant(int(-7)),
        QVariant(qlonglong(1) << 40),
        QVariant(2.5),
        QVariant(std::numeric_limits<double>::infinity()),
        QVariant(QByteArray("\0blob\xff", 6)),
        QVariant(true),
        QVariant(QDate(2024, 2, 29)),
        QString(300, QLatin1Char('x')), // a length past one byte of the varint
    };
    RowCodec codec;
    codec.beginRow();
    for (const QVariant &v : values)
        codec.put(v);
    const std::vector<char> row = codec.row();
    const QVector<QVariant> back = codec.values(row.data(), int(values.size()));
    ASSERT_EQ(back.size(), values.size());
    for (int i = 0; i < values.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(back.at(i).isNull(), values.at(i).isNull());
        if (values.at(i).isNull())
            continue;
        EXPECT_EQ(back.at(i).metaType(), values.at(i).metaType());
        EXPECT_EQ(back.at(i), values.at(i));
        EXPECT_EQ(codec.value(row.data(), i), values.at(i));
    }
    EXPECT_EQ(RowCodec::cell(row.data(), 3).kind, PackedCell::Kind::Latin1);
    EXPECT_EQ(RowCodec::cell(row.data(), 4).kind, PackedCell::Kind::Utf16);
    EXPECT_EQ(RowCodec::cell(row.data(), 7).kind, PackedCell::Kind::Int64);
    EXPECT_EQ(RowCodec::cell(row.data(), 10).kind, PackedCell::Kind::Side);
}

TEST(RowCodec, DateTimeColumnsReadAsWallClockTimes)
{
    RowCodec codec;
    codec.beginRow();
    const QDateTime plain(QDate(2025, 6, 30), QTime(13, 45, 7));
    codec.putColumn(QStringLiteral("2025-06-30 13:45:07"), FieldKind::DateTime);
    codec.putColumn(QStringLiteral("2025-06-30T13:45:07.250"), FieldKind::DateTime);
    codec.putColumn(QStringLiteral("2025-06-30"), FieldKind::DateTime); // a bare date
    codec.putColumn(QStringLiteral("not a date"), FieldKind::DateTime);
    codec.putColumn(QDateTime(plain.date(), plain.time(), Qt::UTC), FieldKind::DateTime);
    codec.putAscii("2025-06-30 13:45:07", 19, true);
    codec.putAscii("13:45", 5, true);
    codec.putAscii("2025-06-30 13:45:07", 19, false); // a text column keeps its text
    codec.putWallClock(QDate(1, 1, 1), QTime(0, 0));
    const std::vector<char> row = codec.row();
    EXPECT_EQ(codec.value(row.data(), 0), QVariant(plain));
    EXPECT_EQ(codec.value(row.data(), 1), QVariant(plain));
    EXPECT_EQ(codec.value(row.data(), 2), QVariant(QDate(2025, 6, 30).startOfDay()));
    EXPECT_EQ(codec.value(row.data(), 3), QVariant(QStringLiteral("not a date")));
    // The fields of a stamp of another zone are kept, not converted to the local zone.
    EXPECT_EQ(codec.value(row.data(), 4), QVariant(plain));
    EXPECT_EQ(RowCodec::cell(row.data(), 4).kind, PackedCell::Kind::WallClock);
    EXPECT_EQ(codec.value(row.data(), 5), QVariant(plain));
    EXPECT_EQ(RowCodec::cell(row.data(), 5).kind, PackedCell::Kind::DbText);
    EXPECT_EQ(codec.value(row.data(), 6), QVariant(QStringLiteral("13:45")));
    EXPECT_EQ(codec.value(row.data(), 7), QVariant(QStringLiteral("2025-06-30 13:45:07")));
    EXPECT_EQ(codec.value(row.data(), 8), QVariant(QDateTime(QDate(1, 1, 1), QTime(0, 0))));
}

TEST(RowCodec, RowsKeepTheirOwnBytesAndShareTheSideValues)
{
    RowCodec codec;
    std::vector<std::vector<char>> rows;
    for (int i = 0; i < 3; ++i) {
        codec.beginRow();
        codec.putInt32(i);
        codec.put(QByteArray(i + 1, char('a' + i)));
        codec.putNull();
        rows.push_back(codec.row());
    }
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(codec.value(rows[size_t(i)].data(), 0), QVariant(i));
        EXPECT_EQ(codec.value(rows[size_t(i)].data(), 1),
                  QVariant(QByteArray(i + 1, char('a' + i))));
        EXPECT_TRUE(codec.value(rows[size_t(i)].data(), 2).isNull());
    }
}
