#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

typedef struct ldap LDAP;

/// How to reach and log into a directory server.
struct LdapSettings
{
    QString uri; ///< ldap://host[:port] or ldaps://host[:port]
    bool startTls = false;
    QString caFile; ///< the CA certificates to trust; "" = the system's store
    QString bindDn;
    QByteArray password;
    int timeoutSeconds = 30; ///< to connect, and for each page to arrive
};

/// One directory entry: its DN and, per requested attribute (in the order asked for), its
/// first value as the server sent it (a null array when the entry has none).
struct DirectoryEntry
{
    QString dn;
    QList<QByteArray> values;
};

/// Why a connection or a search ended.
enum class LdapEnd {
    Complete,    ///< every entry was delivered
    Unreachable, ///< no connection (refused, timed out, dropped during the bind)
    Certificate, ///< the TLS handshake failed: the server's certificate does not verify
    Refused,     ///< the server refused the bind (wrong DN or password)
    SizeLimit,   ///< the server stopped the search at its size limit
    Lost,        ///< the connection dropped during the search
    Failed,      ///< any other error of the server (the base does not exist, a bad filter)
    Stopped,     ///< the page callback asked to stop
};

/// A directory read through the OpenLDAP client library: connects (TLS verified against
/// the system's CA store or a given file), binds simply, and reads a subtree a page at a
/// time with the simple paged results control, so that only one page is held at once.
/// Referrals are never followed: they are counted, and the caller decides what an
/// incomplete read means.
class LdapSource
{
public:
    explicit LdapSource(LdapSettings settings);
    ~LdapSource();
    LdapSource(const LdapSource &) = delete;
    LdapSource &operator=(const LdapSource &) = delete;

    /// Connects and binds; anything but Complete leaves `error()` saying why.
    LdapEnd connect();
    /// Reads the entries under `base` matching `filter` (passed to the server as given),
    /// `pageSize` at a time, each page handed to `onPage` before the next is asked for.
    LdapEnd search(const QString &base,
                   const QString &filter,
                   const QStringList &attributes,
                   int pageSize,
                   const std::function<bool(const QList<DirectoryEntry> &)> &onPage);
    /// Search result references (referrals to other servers) met and not followed.
    int referrals() const { return m_referrals; }
    QString error() const { return m_error; }

    /// `value` escaped for an LDAP filter (RFC 4515): *, (, ), backslash, NUL and the other
    /// control characters as a backslash and two hex digits, and the bytes of characters beyond
    /// ASCII too, so that the text is one assertion value whatever it holds.
    static QString escapeFilterValue(const QString &value);

private:
    LdapEnd fail(int code, const QString &what);
    bool setTlsOptions();
    LdapEnd certificateFailure();
    bool reachableWithoutVerifying() const;

    LdapSettings m_settings;
    LDAP *m_ld = nullptr;
    int m_referrals = 0;
    QString m_error;
};
