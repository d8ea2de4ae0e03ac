#include "DirectorySync.h"
#include "DirectorySyncRows.h"

#include "Connection.h"
#include "HolderImport.h"
#include "PictureCodec.h"
#include "Services.h"
#include "TransferFormat.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QSqlError>
#include <QTemporaryDir>

using zq::transfer::HolderImport;
using Outcome = zq::transfer::HolderImport::Outcome;

namespace {

// The file name a picture's bytes are checked under: the picture checks take the kind from
// the name, and a jpegPhoto that holds a bitmap or an icon is converted as a loaded one is.
QString pictureName(const QByteArray &bytes)
{
    if (bytes.startsWith("BM"))
        return QStringLiteral("photo.bmp");
    if (bytes.startsWith(QByteArray("\0\0\1\0", 4)))
        return QStringLiteral("photo.ico");
    return QStringLiteral("photo.jpg");
}

} // namespace

DirectorySync::DirectorySync(SyncOptions options, std::FILE *out, std::FILE *err)
    : m_options(std::move(options))
    , m_out(out)
    , m_err(err)
    , m_source(m_options.ldap)
{
    m_order = m_options.map.columnOrder();
    m_numberAt = m_order.indexOf(u'1');
}

DirectorySync::~DirectorySync() = default;

void DirectorySync::printLine(std::FILE *to, const QString &text)
{
    std::fputs(text.toUtf8().constData(), to);
    std::fputc('\n', to);
    std::fflush(to);
}

bool DirectorySync::connect()
{
    const LdapEnd end = m_source.connect();
    m_error = m_source.error();
    return end == LdapEnd::Complete;
}

void DirectorySync::refuse(qint64 entry,
                           const QString &number,
                           const QString &dn,
                           const QString &code,
                           const QString &text)
{
    m_refusals << DirectoryRefusal{entry, number, dn, code, text};
}

QString DirectorySync::json() const
{
    const SyncCounts &c = m_counts;
    return QStringLiteral("{\"entries\":%1, \"stored\":%2, \"new\":%3, \"overwritten\":%4, "
                          "\"unchanged\":%5, \"refused\":%6, \"codes_created\":%7, "
                          "\"photos\":%8, \"missing\":%9, \"disabled\":%10, \"referrals\":%11}")
        .arg(c.entries)
        .arg(c.inserted + c.updated)
        .arg(c.inserted)
        .arg(c.updated)
        .arg(c.unchanged)
        .arg(c.refused)
        .arg(c.codesCreated)
        .arg(c.photos)
        .arg(c.missing)
        .arg(c.disabled)
        .arg(c.referrals);
}

int DirectorySync::run(zq::data::Connection *connection)
{
    m_connection = connection;
    zq::transfer::ImportOptions io;
    io.columnOrder = m_order;
    io.cover = true;
    io.today = QDate::currentDate();
    io.dateFormat = zq::transfer::transferDateFormat();
    io.dryRun = m_options.dryRun;
    io.userId = m_options.userId;
    m_run = std::make_unique<HolderImport>(m_connection, io);
    if (!m_run->start()) {
        m_error = QStringLiteral("cannot read the holders: %1").arg(m_run->databaseError());
        return 2;
    }
    QElapsedTimer clock;
    clock.start();
    const LdapEnd end = m_source.search(m_options.base,
                                        searchFilter(),
                                        m_options.map.attributes(),
                                        m_options.pageSize,
                                        [&](const QList<DirectoryEntry> &page) {
                                            const bool go = takePage(page);
                                            if (m_options.progress
                                                && clock.elapsed() - m_lastProgress >= 1000) {
                                                m_lastProgress = clock.elapsed();
                                                printProgress();
                                            }
                                            return go;
                                        });
    const bool committed = m_run->finish();
    takeEngineRefusals({}, nullptr);
    m_counts.inserted = m_run->count(Outcome::Inserted);
    m_counts.updated += m_run->count(Outcome::Updated);
    m_counts.codesCreated = int(m_run->createdCodes().size());
    m_counts.referrals = m_source.referrals();
    m_counts.refused = int(m_refusals.size());
    std::stable_sort(
        m_refusals.begin(),
        m_refusals.end(),
        [](const DirectoryRefusal &a, const DirectoryRefusal &b) { return a.entry < b.entry; });
    if (m_options.progress)
        printProgress();
    if (!committed || end == LdapEnd::Stopped) {
        m_error = QStringLiteral("the holders of the last entries could not be stored: %1")
                      .arg(m_run->errorText().isEmpty() ? m_run->databaseError()
                                                        : m_run->errorText());
        return 2;
    }
    if (end != LdapEnd::Complete) {
        m_error = QStringLiteral("%1; after %2 entries the sync stopped (what was stored stays, "
                                 "no holder was looked for as missing)")
                      .arg(m_source.error())
                      .arg(m_counts.entries);
        return 2;
    }
    if (m_options.missing != SyncOptions::Missing::Ignore) {
        if (m_counts.referrals > 0) {
            printLine(m_err,
                      QStringLiteral("zqtransfer: %1 referrals were not followed: the directory "
                                     "was not read whole, so no holder was looked for as missing")
                          .arg(m_counts.referrals));
            return 1;
        }
        if (!handleMissing())
            return 2;
    }
    return m_counts.refused > 0 || m_counts.referrals > 0 ? 1 : 0;
}

// The user's filter as given; with --holder, and the holder number's attribute equal to
// that number, escaped so that the number is one value whatever characters it holds.
QString DirectorySync::searchFilter() const
{
    if (m_options.holder.isEmpty())
        return m_options.filter;
    const QString value = LdapSource::escapeFilterValue(m_options.holder);
    QString number;
    const QStringList attributes = m_options.map.columnAttributes(u'1');
    for (const QString &a : attributes)
        number += QStringLiteral("(%1=%2)").arg(a, value);
    if (attributes.size() > 1)
        number = QStringLiteral("(|%1)").arg(number);
    const QString given = m_options.filter.startsWith(u'(') ? m_options.filter
                                                            : u'(' + m_options.filter + u')';
    return QStringLiteral("(&%1%2)").arg(given, number);
}

void DirectorySync::printProgress()
{
    printLine(m_err,
              QStringLiteral("zqtransfer: %1 entries read, %2 to store, %3 unchanged, %4 refused")
                  .arg(m_counts.entries)
                  .arg(m_run->stored() + m_counts.updated)
                  .arg(m_counts.unchanged)
                  .arg(m_refusals.size()));
}

bool DirectorySync::takePage(const QList<DirectoryEntry> &page)
{
    QList<Candidate> candidates;
    for (const DirectoryEntry &e : page) {
        const qint64 entry = ++m_counts.entries;
        DirectoryMap::Row row = m_options.map.rowOf(e);
        const QString number = zq::transfer::trimmedValue(row.cells.value(m_numberAt)).toString();
        if (number.isEmpty()) {
            const zq::transfer::Refusal r{
                entry, QString(), zq::transfer::RefusalReason::EmptyNumber, {}, {}};
            refuse(entry, number, e.dn, refusalCode(r.reason), refusalText(r));
            continue;
        }
        // A number seen before is refused whether or not its first entry was stored: the
        // second person must not overwrite the first.
        if (const qint64 *first = m_seen.find(number)) {
            refuse(entry,
                   number,
                   e.dn,
                   QStringLiteral("duplicate"),
                   QStringLiteral("Duplicate in the directory (first in entry %1)").arg(*first));
            continue;
        }
        m_seen.insert(number, entry);
        if (!row.badAttribute.isEmpty()) {
            refuse(entry,
                   number,
                   e.dn,
                   QStringLiteral("unreadable"),
                   QStringLiteral("The value of %1 is not valid UTF-8 text").arg(row.badAttribute));
            continue;
        }
        Candidate c{entry, e.dn, number, std::move(row.cells), {}, false};
        if (!row.photo.isNull()) {
            QString why;
            c.photo = checkedPhoto(row.photo, why);
            if (c.photo.isNull()) {
                refuse(entry, number, e.dn, QStringLiteral("photo"), why);
                continue;
            }
        }
        candidates << std::move(c);
    }
    return judge(candidates);
}

bool DirectorySync::judge(QList<Candidate> &candidates)
{
    const QHash<QString, Stored> stored = readStored(candidates);
    if (m_storedFailed)
        return false;
    QHash<qint64, QString> dns;
    QList<Candidate> photos;
    for (Candidate &c : candidates) {
        const auto s = stored.constFind(c.number);
        const bool known = s != stored.constEnd();
        const bool newPhoto = !c.photo.isNull() && (!known || s->photo != c.photo);
        if (known && sameAsStored(c, *s)) {
            if (!newPhoto) {
                ++m_counts.unchanged;
                continue;
            }
            c.photoOnly = true;
            ++m_counts.updated;
            photos << c;
            continue;
        }
        dns.insert(c.entry, c.dn);
        const Outcome o = m_run->importCells(c.cells, c.entry);
        if ((o == Outcome::Inserted || o == Outcome::Updated) && newPhoto)
            photos << c;
        if (!m_run->canContinue())
            return false;
    }
    // The engine holds back holders for a batch: once they are written, every refusal of
    // the page is known and the rows of the stored ones stand, ready for their photos.
    m_run->writePending();
    QSet<qint64> refused;
    takeEngineRefusals(dns, &refused);
    writePhotos(photos, refused);
    return m_run->canContinue();
}

QByteArray DirectorySync::checkedPhoto(const QByteArray &bytes, QString &why)
{
    if (!m_pictures) {
        m_pictures = std::make_unique<QTemporaryDir>();
        if (!m_pictures->isValid()) {
            why = QStringLiteral("Photo: no temporary folder to check it in");
            return {};
        }
    }
    const QString path = m_pictures->filePath(pictureName(bytes));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        why = QStringLiteral("Photo: %1").arg(file.errorString());
        return {};
    }
    file.close();
    const zq::platform::PictureResult picture = zq::platform::pictureForFile(path, 70);
    QFile::remove(path);
    if (!picture.ok) {
        why = QStringLiteral("Photo: %1").arg(picture.error);
        return {};
    }
    return picture.jpeg;
}

void DirectorySync::takeEngineRefusals(const QHash<qint64, QString> &dns, QSet<qint64> *refused)
{
    const QList<zq::transfer::Refusal> &list = m_run->refusals();
    for (qsizetype i = m_engineRefusals; i < list.size(); ++i) {
        const zq::transfer::Refusal &r = list.at(i);
        refuse(r.line, r.holderNo, dns.value(r.line), refusalCode(r.reason), refusalText(r));
        if (refused)
            refused->insert(r.line);
    }
    m_engineRefusals = list.size();
}
