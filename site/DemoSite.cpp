#include "DemoSite.h"

#include "Connection.h"
#include "Recordset.h"

#include <QBuffer>
#include <QDate>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

using zq::data::Connection;
using zq::data::Recordset;

namespace {

QByteArray jpeg(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPG", 70);
    return bytes;
}

QByteArray cardBackground(bool portrait, const QColor &color, const QString &text)
{
    QImage image(portrait ? QSize(204, 324) : QSize(324, 204), QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient g(0, 0, image.width(), image.height());
    g.setColorAt(0, color.lighter(150));
    g.setColorAt(1, color.darker(130));
    p.fillRect(image.rect(), g);
    p.setPen(Qt::white);
    // The card labels print the type's name in a band across the top of a portrait card,
    // so the portrait artwork keeps its word at the foot.
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), portrait ? 9 : 14, QFont::Bold));
    p.drawText(image.rect().adjusted(8, 4, -8, -4),
               (portrait ? Qt::AlignBottom : Qt::AlignTop) | Qt::AlignHCenter,
               text);
    return jpeg(image);
}

QByteArray photo(int seed, const QString &initials)
{
    QImage image(96, 120, QImage::Format_RGB32);
    image.fill(QColor::fromHsv((seed * 47) % 360, 60, 230));
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setBrush(QColor::fromHsv((seed * 47) % 360, 120, 150));
    p.setPen(Qt::NoPen);
    p.drawEllipse(QPoint(48, 44), 24, 28);
    p.drawRoundedRect(14, 78, 68, 60, 24, 24);
    p.setPen(Qt::white);
    p.setFont(QFont(QStringLiteral("DejaVu Sans"), 12, QFont::Bold));
    p.drawText(QRect(0, 30, 96, 30), Qt::AlignCenter, initials);
    return jpeg(image);
}

struct Writer
{
    Connection &c;
    void exec(const QString &sql)
    {
        if (!c.execute(sql))
            throw zq::data::DbError(c.errors());
    }
    void row(const QString &table, const QList<QPair<QString, QVariant>> &values)
    {
        Recordset rs;
        rs.setConnection(&c);
        rs.setStatement(QStringLiteral("SELECT * FROM %1 WHERE 1 = 2").arg(table));
        rs.open();
        rs.append();
        for (const auto &v : values)
            rs.setField(v.first, v.second);
        rs.post();
    }
};

QList<QStringList> demoTitles()
{
    return QList<QStringList>{{"T01", "Director"},
                              {"T02", "Manager"},
                              {"T03", "Engineer"},
                              {"T04", "Clerk"},
                              {"T05", "Technician"}};
}

QList<QStringList> demoTypes()
{
    return QList<QStringList>{{"Y01", "Employee", "P01", "P02"},
                              {"Y02", "Contractor", "P01", ""},
                              {"Y03", "Visitor", "P03", ""}};
}

// The code lists: departments in a hierarchy, titles, card pictures and types.
void writeCodes(Writer &w)
{
    const QList<QStringList> titles = demoTitles();
    const QList<QStringList> types = demoTypes();
    const QList<QStringList> departments{{"D01", "Head office", "Management and staff", ""},
                                         {"D02", "Sales", "Sales and marketing", "D01"},
                                         {"D03", "Engineering", "Research and development", "D01"},
                                         {"D04", "Support", "Customer support", "D03"},
                                         {"D05", "Warehouse", "Goods in and out", ""},
                                         {"D06", "Night shift", "Warehouse night shift", "D05"}};
    for (const QStringList &d : departments)
        w.row("DepartmentData",
              {{"DepartmentNo", d[0]},
               {"DepartmentName", d[1]},
               {"Description", d[2]},
               {"UnderNo", d[3]}});
    for (const QStringList &t : titles)
        w.row("OccupationTitle", {{"TitleNo", t[0]}, {"TitleName", t[1]}, {"Description", ""}});
    w.row("CardPicture",
          {{"PicNo", "P01"},
           {"PicName", "Staff portrait"},
           {"GBPhoto", cardBackground(true, QColor(30, 90, 160), "STAFF")},
           {"Description", "Blue staff card, portrait"}});
    w.row("CardPicture",
          {{"PicNo", "P02"},
           {"PicName", "Staff landscape"},
           {"GBPhoto", cardBackground(false, QColor(30, 90, 160), "STAFF")},
           {"Description", "Blue staff card, landscape"}});
    w.row("CardPicture",
          {{"PicNo", "P03"},
           {"PicName", "Visitor"},
           {"GBPhoto", cardBackground(true, QColor(190, 90, 30), "VISITOR")},
           {"Description", "Orange visitor card"}});
    for (const QStringList &t : types)
        w.row("OccupationType",
              {{"TypeNo", t[0]},
               {"TypeName", t[1]},
               {"Description", ""},
               {"PicNoV", t[2]},
               {"PicNoH", t[3]}});
}

// 50 holders with photos, most with a card, spread over the codes.
void writeHolders(Writer &w)
{
    const QList<QStringList> titles = demoTitles();
    const QList<QStringList> types = demoTypes();
    const QStringList given{"Anna",   "Ben",   "Chen",  "Dora", "Emil", "Fang", "Greta",
                            "Hugo",   "Ines",  "Jonas", "Kai",  "Lena", "Mei",  "Nils",
                            "Olga",   "Pablo", "Qing",  "Rosa", "Sven", "Tara", "Ulla",
                            "Victor", "Wen",   "Xenia", "Yusuf"};
    const QStringList family{"Berg", "Lin", "Novak", "Okafor", "Weber"};
    const QStringList depts{"D01", "D02", "D03", "D04", "D05", "D06"};
    for (int i = 1; i <= 50; ++i) {
        const QString first = given[(i - 1) % given.size()];
        const QString last = family[(i - 1) / 10 % family.size()];
        const QString no = QStringLiteral("H%1").arg(i, 4, 10, QLatin1Char('0'));
        const QString name = first + QLatin1Char(' ') + last;
        const bool expires = i % 7 == 0;
        w.row("HolderData",
              {{"HolderNo", no},
               {"HolderName", name},
               {"ShowText", (no + QLatin1Char(' ') + name).left(16)},
               {"Birthday", QDate(1960 + i % 40, 1 + i % 12, 1 + i % 28)},
               {"DepartmentNo", depts[i % depts.size()]},
               {"TitleNo", titles[i % titles.size()][0]},
               {"TypeNo", types[i % types.size()][0]},
               {"Photo", photo(i, first.left(1) + last.left(1))},
               {"Enabled", 1},
               {"PIN", QStringLiteral("%1").arg(1000 + i * 37 % 9000)},
               {"PunchCard", i % 4 == 0 ? 0 : 1},
               {"Email", (first + QLatin1Char('.') + last).toLower() + "@example.com"},
               {"StartDate", QDate(2024, 1 + i % 12, 1)},
               {"ExpiredDate", expires ? QVariant(QDate(2027, 12, 31)) : QVariant()},
               {"AnnounceFlag", 0},
               {"LoginFlag", 0},
               {"CheckMark", 1},
               {"Description", ""},
               {"SequenceNo", i},
               {"Deposit04", ""}});
        if (i <= 44) {
            w.row("CardData", {{"CardNo", 1000000 + i}, {"HolderNo", no}, {"CardFlag", 1}});
            if (i % 10 == 0)
                w.row("CardData", {{"CardNo", 2000000 + i}, {"HolderNo", no}, {"CardFlag", 1}});
        }
    }
}

// Spare cards, door devices, and the users admin (supervisor) and operator.
void writeDevicesAndUsers(Writer &w)
{
    for (int i = 1; i <= 4; ++i)
        w.row("CardData", {{"CardNo", 3000000 + i}, {"HolderNo", QVariant()}, {"CardFlag", 0}});
    for (int i = 1; i <= 5; ++i)
        w.row("DeviceUnit",
              {{"DeviceNo", i},
               {"DeviceName", QStringLiteral("Door %1").arg(i)},
               {"DeviceEnabled", i == 5 ? 0 : 1}});

    w.row("UserData",
          {{"UserID", "admin"},
           {"UserName", "Administrator"},
           {"UserPassword", ""},
           {"Supervisor", 1}});
    w.row("UserData",
          {{"UserID", "operator"},
           {"UserName", "Front desk"},
           {"UserPassword", ""},
           {"Supervisor", 0}});
    for (const char *d : {"D02", "D04"})
        w.row("UserRightDept", {{"UserID", "operator"}, {"DepartmentNo", d}});
    // The operator may not delete holders, keep departments or import.
    const QList<QPair<QString, int>> rights{{"BasicDataHolderI", 1 | 2 | 4 | 16 | 32 | 64},
                                            {"BasicDataOccupationTitleI", 127},
                                            {"BasicDataOccupationTypeI", 127},
                                            {"BasicDataDepartmentI", 0},
                                            {"BasicDataHolderR", 64},
                                            {"BasicDataHolderB", 16}};
    for (const auto &r : rights)
        w.row("UserProgramRight",
              {{"UserID", "operator"}, {"RightKey", r.first}, {"RightValue", r.second}});
}

} // namespace

void fillDemoSite(Connection &connection)
{
    Writer w{connection};
    writeCodes(w);
    writeHolders(w);
    writeDevicesAndUsers(w);
}

bool createDemoSite(Connection &connection, QString &error)
{
    if (!connection.begin()) {
        error = connection.errors().value(0).text;
        return false;
    }
    try {
        fillDemoSite(connection);
    } catch (const std::exception &e) {
        error = QString::fromUtf8(e.what());
        connection.rollback();
        return false;
    }
    if (!connection.commit()) {
        error = connection.errors().value(0).text;
        return false;
    }
    return true;
}
