#include "LdapSource.h"

#include <QFileInfo>

#include <ldap.h>

#include <sys/time.h>

namespace {

// Debian's bundle of the CA certificates the system trusts.
const char *const kSystemBundle = "/etc/ssl/certs/ca-certificates.crt";
const char *const kSystemCaFolder = "/etc/ssl/certs";

QString diagnostic(LDAP *ld)
{
    char *text = nullptr;
    if (!ld || ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &text) != LDAP_OPT_SUCCESS || !text)
        return {};
    const QString out = QString::fromUtf8(text);
    ldap_memfree(text);
    return out;
}

// The values of one attribute of `entry`: its first value, or a null array when the entry
// has none.
QByteArray firstValue(LDAP *ld, LDAPMessage *entry, const QByteArray &attribute)
{
    berval **values = ldap_get_values_len(ld, entry, attribute.constData());
    if (!values)
        return {};
    QByteArray first;
    if (values[0])
        first = values[0]->bv_len == 0 ? QByteArray("")
                                       : QByteArray(values[0]->bv_val, int(values[0]->bv_len));
    ldap_value_free_len(values);
    return first;
}

} // namespace

LdapSource::LdapSource(LdapSettings settings)
    : m_settings(std::move(settings))
{}

LdapSource::~LdapSource()
{
    if (m_ld)
        ldap_unbind_ext_s(m_ld, nullptr, nullptr);
}

QString LdapSource::escapeFilterValue(const QString &value)
{
    const QByteArray bytes = value.toUtf8();
    QString out;
    out.reserve(bytes.size());
    for (const char c : bytes) {
        const auto u = static_cast<unsigned char>(c);
        if (u == '*' || u == '(' || u == ')' || u == '\\' || u < 0x20 || u == 0x7f)
            out += QStringLiteral("\\%1").arg(uint(u), 2, 16, QLatin1Char('0'));
        else if (u < 0x80)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\%1").arg(uint(u), 2, 16, QLatin1Char('0'));
    }
    return out;
}

LdapEnd LdapSource::fail(int code, const QString &what)
{
    const QString diag = diagnostic(m_ld);
    const QString reason = QString::fromUtf8(ldap_err2string(code));
    m_error = what + QStringLiteral(": ") + reason
              + (diag.isEmpty() || diag == reason ? QString() : QStringLiteral(" (") + diag + ')');
    switch (code) {
    case LDAP_INVALID_CREDENTIALS:
    case LDAP_INAPPROPRIATE_AUTH:
    case LDAP_UNWILLING_TO_PERFORM:
    case LDAP_CONFIDENTIALITY_REQUIRED:
    case LDAP_STRONG_AUTH_REQUIRED:
        return LdapEnd::Refused;
    case LDAP_SIZELIMIT_EXCEEDED:
    case LDAP_ADMINLIMIT_EXCEEDED:
        return LdapEnd::SizeLimit;
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
    case LDAP_TIMEOUT:
        return LdapEnd::Unreachable;
    default:
        return LdapEnd::Failed;
    }
}

bool LdapSource::setTlsOptions()
{
    const int demand = LDAP_OPT_X_TLS_DEMAND;
    if (ldap_set_option(m_ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &demand) != LDAP_OPT_SUCCESS)
        return false;
    // Set on the handle, so that no ldap.conf or ~/.ldaprc of the machine weakens it.
    if (!m_settings.caFile.isEmpty()) {
        const QByteArray file = QFileInfo(m_settings.caFile).absoluteFilePath().toLocal8Bit();
        if (ldap_set_option(m_ld, LDAP_OPT_X_TLS_CACERTFILE, file.constData()) != LDAP_OPT_SUCCESS)
            return false;
    } else if (QFileInfo(QString::fromLatin1(kSystemBundle)).isFile()) {
        if (ldap_set_option(m_ld, LDAP_OPT_X_TLS_CACERTFILE, kSystemBundle) != LDAP_OPT_SUCCESS)
            return false;
    } else if (ldap_set_option(m_ld, LDAP_OPT_X_TLS_CACERTDIR, kSystemCaFolder)
               != LDAP_OPT_SUCCESS) {
        return false;
    }
    const int client = 0;
    return ldap_set_option(m_ld, LDAP_OPT_X_TLS_NEWCTX, &client) == LDAP_OPT_SUCCESS;
}

LdapEnd LdapSource::connect()
{
    const QByteArray uri = m_settings.uri.toUtf8();
    int rc = ldap_initialize(&m_ld, uri.constData());
    if (rc != LDAP_SUCCESS) {
        m_error = QStringLiteral("%1 is not a directory address: %2")
                      .arg(m_settings.uri, QString::fromUtf8(ldap_err2string(rc)));
        return LdapEnd::Failed;
    }
    const int version = LDAP_VERSION3;
    timeval timeout{m_settings.timeoutSeconds, 0};
    ldap_set_option(m_ld, LDAP_OPT_PROTOCOL_VERSION, &version);
    ldap_set_option(m_ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
    ldap_set_option(m_ld, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    ldap_set_option(m_ld, LDAP_OPT_TIMEOUT, &timeout);
    const bool tls = m_settings.startTls
                     || m_settings.uri.startsWith(QLatin1String("ldaps://"), Qt::CaseInsensitive);
    if (tls && !setTlsOptions()) {
        m_error = QStringLiteral("cannot set up TLS for %1").arg(m_settings.uri);
        return LdapEnd::Failed;
    }
    // Connecting first tells a server that cannot be reached from a certificate that does
    // not verify: an ldaps:// handshake happens within it.
    rc = ldap_connect(m_ld);
    if (rc != LDAP_SUCCESS) {
        if (tls && !m_settings.startTls && reachableWithoutVerifying())
            return certificateFailure();
        return fail(rc, QStringLiteral("cannot reach the directory at ") + m_settings.uri);
    }
    if (m_settings.startTls) {
        rc = ldap_start_tls_s(m_ld, nullptr, nullptr);
        if (rc != LDAP_SUCCESS) {
            const QString diag = diagnostic(m_ld);
            certificateFailure();
            m_error += QStringLiteral(" (StartTLS: %1%2)")
                           .arg(QString::fromUtf8(ldap_err2string(rc)),
                                diag.isEmpty() ? QString() : QStringLiteral(", ") + diag);
            return LdapEnd::Certificate;
        }
    }
    const QByteArray dn = m_settings.bindDn.toUtf8();
    berval credentials{ber_len_t(m_settings.password.size()),
                       const_cast<char *>(m_settings.password.constData())};
    rc = ldap_sasl_bind_s(
        m_ld, dn.constData(), LDAP_SASL_SIMPLE, &credentials, nullptr, nullptr, nullptr);
    if (rc != LDAP_SUCCESS)
        return fail(rc, QStringLiteral("the directory refused the bind as ") + m_settings.bindDn);
    return LdapEnd::Complete;
}

LdapEnd LdapSource::certificateFailure()
{
    m_error = QStringLiteral("the certificate of the directory at %1 does not verify against %2")
                  .arg(m_settings.uri,
                       m_settings.caFile.isEmpty() ? QStringLiteral("the system's CA store")
                                                   : m_settings.caFile);
    return LdapEnd::Certificate;
}

// Whether the server answers a handshake that checks nothing: then what failed was the
// verification of its certificate, not the way to it. Nothing is sent over this link.
bool LdapSource::reachableWithoutVerifying() const
{
    LDAP *probe = nullptr;
    const QByteArray uri = m_settings.uri.toUtf8();
    if (ldap_initialize(&probe, uri.constData()) != LDAP_SUCCESS)
        return false;
    const int never = LDAP_OPT_X_TLS_NEVER;
    const int client = 0;
    timeval timeout{m_settings.timeoutSeconds, 0};
    ldap_set_option(probe, LDAP_OPT_NETWORK_TIMEOUT, &timeout);
    const bool reached = ldap_set_option(probe, LDAP_OPT_X_TLS_REQUIRE_CERT, &never)
                             == LDAP_OPT_SUCCESS
                         && ldap_set_option(probe, LDAP_OPT_X_TLS_NEWCTX, &client)
                                == LDAP_OPT_SUCCESS
                         && ldap_connect(probe) == LDAP_SUCCESS;
    ldap_unbind_ext_s(probe, nullptr, nullptr);
    return reached;
}

namespace {

// The entries of one page's answer; references are counted, not followed.
QList<DirectoryEntry> entriesOf(LDAP *ld,
                                LDAPMessage *answer,
                                const QList<QByteArray> &attributes,
                                int &references)
{
    QList<DirectoryEntry> entries;
    for (LDAPMessage *m = ldap_first_message(ld, answer); m; m = ldap_next_message(ld, m)) {
        const int type = ldap_msgtype(m);
        if (type == LDAP_RES_SEARCH_REFERENCE) {
            ++references;
            continue;
        }
        if (type != LDAP_RES_SEARCH_ENTRY)
            continue;
        DirectoryEntry entry;
        if (char *dn = ldap_get_dn(ld, m)) {
            entry.dn = QString::fromUtf8(dn);
            ldap_memfree(dn);
        }
        entry.values.reserve(attributes.size());
        for (const QByteArray &attribute : attributes)
            entry.values.append(firstValue(ld, m, attribute));
        entries.append(std::move(entry));
    }
    return entries;
}

} // namespace

// Sends the request for the page after `cookie`; its message id, or -1 with `rc` saying why.
static int askPage(LDAP *ld,
                   const QByteArray &base,
                   const QByteArray &filter,
                   char **attrs,
                   int pageSize,
                   berval *cookie,
                   int &rc)
{
    LDAPControl *page = nullptr;
    rc = ldap_create_page_control(ld, pageSize, cookie, 1, &page);
    if (rc != LDAP_SUCCESS)
        return -1;
    LDAPControl *server[2] = {page, nullptr};
    int id = -1;
    rc = ldap_search_ext(ld,
                         base.constData(),
                         LDAP_SCOPE_SUBTREE,
                         filter.constData(),
                         attrs,
                         0,
                         server,
                         nullptr,
                         nullptr,
                         LDAP_NO_LIMIT,
                         &id);
    ldap_control_free(page);
    return rc == LDAP_SUCCESS ? id : -1;
}

// The next page is asked for as soon as the cookie of this one is read, before this one's
// entries are handed over: the server prepares it while the caller writes this one.
LdapEnd LdapSource::search(const QString &base,
                           const QString &filter,
                           const QStringList &attributes,
                           int pageSize,
                           const std::function<bool(const QList<DirectoryEntry> &)> &onPage)
{
    QList<QByteArray> names;
    for (const QString &a : attributes)
        names << a.toUtf8();
    std::vector<char *> attrs;
    for (QByteArray &n : names)
        attrs.push_back(n.data());
    attrs.push_back(nullptr);
    const QByteArray baseDn = base.toUtf8();
    const QByteArray filterText = filter.toUtf8();
    berval cookie{0, nullptr};
    int rc = LDAP_SUCCESS;
    int id = askPage(m_ld, baseDn, filterText, attrs.data(), pageSize, &cookie, rc);
    if (id < 0)
        return fail(rc, QStringLiteral("cannot ask for a page of entries"));
    for (;;) {
        LDAPMessage *answer = nullptr;
        timeval timeout{m_settings.timeoutSeconds, 0};
        const int type = ldap_result(m_ld, id, LDAP_MSG_ALL, &timeout, &answer);
        int code = LDAP_SUCCESS;
        if (type == 0)
            code = LDAP_TIMEOUT;
        else if (type < 0)
            ldap_get_option(m_ld, LDAP_OPT_RESULT_CODE, &code);
        // Entries that came before a size limit are whole entries: they count.
        const QList<DirectoryEntry> entries = answer ? entriesOf(m_ld, answer, names, m_referrals)
                                                     : QList<DirectoryEntry>();
        LDAPControl **controls = nullptr;
        LDAPMessage *result = answer ? ldap_first_message(m_ld, answer) : nullptr;
        while (result && ldap_msgtype(result) != LDAP_RES_SEARCH_RESULT)
            result = ldap_next_message(m_ld, result);
        if (result)
            ldap_parse_result(m_ld, result, &code, nullptr, nullptr, nullptr, &controls, 0);
        else if (type > 0 && code == LDAP_SUCCESS)
            code = LDAP_SERVER_DOWN;
        ber_int_t estimate = 0;
        if (code == LDAP_SUCCESS && controls)
            if (LDAPControl *c = ldap_control_find(LDAP_CONTROL_PAGEDRESULTS, controls, nullptr))
                ldap_parse_pageresponse_control(m_ld, c, &estimate, &cookie);
        if (controls)
            ldap_controls_free(controls);
        if (answer)
            ldap_msgfree(answer);
        const bool more = code == LDAP_SUCCESS && cookie.bv_len > 0;
        id = more ? askPage(m_ld, baseDn, filterText, attrs.data(), pageSize, &cookie, rc) : -1;
        if (cookie.bv_val)
            ber_memfree(cookie.bv_val);
        cookie = berval{0, nullptr};
        if (!entries.isEmpty() && !onPage(entries)) {
            if (id >= 0)
                ldap_abandon_ext(m_ld, id, nullptr, nullptr);
            return LdapEnd::Stopped;
        }
        if (more && id < 0)
            code = rc;
        if (code == LDAP_SERVER_DOWN || code == LDAP_TIMEOUT) {
            fail(code,
                 QStringLiteral("the directory at %1 dropped the connection").arg(m_settings.uri));
            return LdapEnd::Lost;
        }
        if (code == LDAP_REFERRAL) {
            ++m_referrals;
            m_error = QStringLiteral("%1 is a referral to another server, which is not followed")
                          .arg(base);
            return LdapEnd::Failed;
        }
        if (code != LDAP_SUCCESS)
            return fail(code, QStringLiteral("the directory ended the search"));
        if (!more)
            return LdapEnd::Complete;
    }
}
