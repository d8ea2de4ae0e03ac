#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>

#ifdef ZQDOUBLE_BUILD
#define ZQDOUBLE_API __attribute__((visibility("default")))
#else
#define ZQDOUBLE_API
#endif

namespace zq::data {
class Recordset;
}

namespace zq::test {

/// One recorded call of a sibling entry: its name and its arguments as texts.
struct Call
{
    QString name;
    QStringList args;
};

/// The scriptable stand-in for the five sibling libraries. Tests fill the script, hand
/// `handles()` to SetGlobalFunction and read `calls` afterwards.
class ZQDOUBLE_API ServiceDouble
{
public:
    static ServiceDouble &instance();
    /// Empties the script and the record (program path: a fresh temporary folder).
    void reset();

    // --- script ---
    /// Answers of ShowMessageBox in order; when used up, `defaultAnswer`.
    QList<int> messageBoxAnswers;
    int defaultAnswer = 1;
    /// GetProgramRight per key; keys not listed answer `defaultRight`.
    QHash<QString, int> rights;
    int defaultRight = 127;
    QString loginUser = QStringLiteral("admin");
    QString programPath; ///< ends with '/'
    /// Texts for GetMessageString / GetFunctionString; missing keys answer the key.
    QHash<QString, QString> texts;
    /// What ShowSearchDataForm does with the query (default: nothing).
    std::function<void(zq::data::Recordset *, const QString &)> search;
    /// CancelProcessForm answers 1 once this many positions were advanced (-1 = never).
    int cancelAfterSteps = -1;

    // --- record ---
    QList<Call> calls;
    QList<Call> callsNamed(const QString &name) const;
    int count(const QString &name) const { return int(callsNamed(name).size()); }
    /// The sounds played, in order ("Open", "Ok", "Error", ...).
    QStringList sounds() const;
    /// The message keys shown, in order.
    QStringList messages() const;
    /// The audit entries: "key|entry".
    QStringList auditEntries() const;

    /// dlopen handles of this library for the five library slots and the reserved one.
    static std::array<intptr_t, 6> handles();

    // used by the entries
    void record(const QString &name, const QStringList &args = {});
    int nextAnswer();
    int progressSteps = 0;
    QString lastText; // storage of the returned text
    QByteArray lastTextUtf8;

private:
    ServiceDouble();
};

} // namespace zq::test
