#pragma once

#include "DirectoryMap.h"
#include "HolderNumbers.h"
#include "LdapSource.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QSqlQuery>
#include <QString>
#include <QStringList>

#include <cstdio>
#include <memory>

namespace zq::data {
class Connection;
}
namespace zq::transfer {
class HolderImport;
}

/// What a directory sync is asked to do.
struct SyncOptions
{
    LdapSettings ldap;
    QString base;
    QString filter = QStringLiteral("(objectClass=inetOrgPerson)");
    QString holder; ///< only the person with this holder number

    DirectoryMap map;
    enum class Missing { Ignore, Report, Disable };
    Missing missing = Missing::Ignore;
    QStringList scopeDepartments; ///< numbers or names of departments
    QString scopePrefix;          ///< or the start of the holder numbers
    bool dryRun = false;
    bool progress = false;
    QString userId;
    int pageSize = 500;
};

/// An entry that was not stored: where it came in the directory's answer, its number, its
/// DN and why.
struct DirectoryRefusal
{
    qint64 entry = 0;
    QString holderNo;
    QString dn;
    QString code;
    QString text;
};

/// The counts of a sync, as the JSON line tells them.
struct SyncCounts
{
    qint64 entries = 0;
    int inserted = 0;
    int updated = 0;
    int unchanged = 0;
    int refused = 0;
    int codesCreated = 0;
    int photos = 0;
    int missing = 0;
    int disabled = 0;
    int referrals = 0;
};

/// People of a directory into the holders of a site, through the import engine of the
/// window and of the file sync: the same judging, refusals, codes created by name, audit
/// entries and dry run. Each page of entries is compared with the stored holders first;
/// only entries that differ go to the engine, so that a sync of an unchanged directory
/// writes nothing. Holders of the site that the directory no longer has can be listed or
/// switched off within a scope. Only the current page and the set of the holder numbers
/// read are held.
class DirectorySync
{
public:
    DirectorySync(SyncOptions options, std::FILE *out, std::FILE *err);
    ~DirectorySync();

    /// Connects to the directory; false (and `error()`) when that fails.
    bool connect();
    /// Reads the directory and writes the holders. The exit status of the tool: 0 all
    /// stored, 1 some refused (or referrals not followed), 2 the sync could not be done or
    /// was cut short (`error()` says why; what was committed stays, and is counted).
    int run(zq::data::Connection *connection);
    const SyncCounts &counts() const { return m_counts; }
    const QList<DirectoryRefusal> &refusals() const { return m_refusals; }
    QString error() const { return m_error; }
    /// The counts as one JSON line.
    QString json() const;

private:
    struct Candidate;
    struct Stored;
    bool takePage(const QList<DirectoryEntry> &page);
    bool judge(QList<Candidate> &candidates);
    QByteArray checkedPhoto(const QByteArray &bytes, QString &why);
    QHash<QString, Stored> readStored(const QList<Candidate> &candidates);
    bool prepareStored();
    bool sameAsStored(const Candidate &c, const Stored &stored) const;
    void refuse(qint64 entry,
                const QString &number,
                const QString &dn,
                const QString &code,
                const QString &text);
    void takeEngineRefusals(const QHash<qint64, QString> &dns, QSet<qint64> *refused);
    void writePhotos(const QList<Candidate> &photos, const QSet<qint64> &refused);
    bool handleMissing();
    bool disable(const QStringList &numbers);
    QString scopeCondition(QStringList &values) const;
    void printLine(std::FILE *to, const QString &text);
    void printProgress();
    QString searchFilter() const;

    zq::data::Connection *m_connection = nullptr;
    SyncOptions m_options;
    std::FILE *m_out;
    std::FILE *m_err;
    LdapSource m_source;
    std::unique_ptr<zq::transfer::HolderImport> m_run;
    zq::transfer::HolderNumbers m_seen; // every number the directory gave, with its entry
    QList<DirectoryRefusal> m_refusals;
    qsizetype m_engineRefusals = 0; // the engine's refusals taken over so far
    SyncCounts m_counts;
    QString m_error;
    QString m_order;
    qsizetype m_numberAt = 0;
    std::unique_ptr<QSqlQuery> m_storedQuery;
    bool m_storedFailed = false;
    std::unique_ptr<class QTemporaryDir> m_pictures;
    qint64 m_lastProgress = 0;
};
