#include "ServiceDouble.h"

#include <QDir>
#include <QTemporaryDir>

#include <dlfcn.h>
#include <memory>

namespace zq::test {

ServiceDouble::ServiceDouble()
{
    reset();
}

ServiceDouble &ServiceDouble::instance()
{
    static ServiceDouble d;
    return d;
}

void ServiceDouble::reset()
{
    static std::unique_ptr<QTemporaryDir> folder;
    folder = std::make_unique<QTemporaryDir>();
    messageBoxAnswers.clear();
    defaultAnswer = 1;
    rights.clear();
    defaultRight = 127;
    loginUser = QStringLiteral("admin");
    programPath = folder->path() + QLatin1Char('/');
    texts.clear();
    search = nullptr;
    cancelAfterSteps = -1;
    calls.clear();
    progressSteps = 0;
}

QList<Call> ServiceDouble::callsNamed(const QString &name) const
{
    QList<Call> result;
    for (const Call &c : calls)
        if (c.name == name)
            result << c;
    return result;
}

QStringList ServiceDouble::sounds() const
{
    QStringList result;
    for (const Call &c : calls)
        if (c.name.startsWith(QLatin1String("PlaySound")))
            result << c.name.mid(9);
    return result;
}

QStringList ServiceDouble::messages() const
{
    QStringList result;
    for (const Call &c : callsNamed(QStringLiteral("ShowMessageBox")))
        result << c.args.value(0);
    return result;
}

QStringList ServiceDouble::auditEntries() const
{
    QStringList result;
    for (const Call &c : callsNamed(QStringLiteral("AddProgramRunEdit")))
        result << c.args.value(0) + QLatin1Char('|') + c.args.value(1);
    return result;
}

void ServiceDouble::record(const QString &name, const QStringList &args)
{
    calls.append({name, args});
}

int ServiceDouble::nextAnswer()
{
    return messageBoxAnswers.isEmpty() ? defaultAnswer : messageBoxAnswers.takeFirst();
}

std::array<intptr_t, 6> ServiceDouble::handles()
{
    Dl_info info{};
    dladdr(reinterpret_cast<void *>(&ServiceDouble::instance), &info);
    void *self = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    const auto h = reinterpret_cast<intptr_t>(self);
    return {h, h, h, h, h, 0};
}

} // namespace zq::test
