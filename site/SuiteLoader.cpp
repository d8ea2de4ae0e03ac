#include "SuiteLoader.h"

#include <dlfcn.h>

namespace {
const char *const kSuite[5] = {
    "libZQCommon.so", "libZQLanguage.so", "libZQUserRight.so", "libZQCom.so", "libZQUtility.so"};
}

SuiteLoader::~SuiteLoader()
{
    // The libraries stay loaded until the process ends: windows and Qt objects of theirs
    // may still be torn down after this point.
}

bool SuiteLoader::load(const QString &libraryFolder, const ZQSuiteContext &context)
{
    if (!loadSuite(libraryFolder, context))
        return false;
    const QByteArray plugin = (libraryFolder + QStringLiteral("libZQHolder.so")).toLocal8Bit();
    m_plugin = dlopen(plugin.constData(), RTLD_NOW | RTLD_LOCAL);
    if (!m_plugin) {
        m_error = QString::fromLocal8Bit(dlerror());
        return false;
    }
    return true;
}

bool SuiteLoader::loadSuite(const QString &libraryFolder, const ZQSuiteContext &context)
{
    m_connection = context.connection;
    // dlopen searches the calling binary's run path only for a name without a slash.
    for (int i = 0; i < 5; ++i) {
        const QByteArray path = (libraryFolder + QString::fromLatin1(kSuite[i])).toLocal8Bit();
        m_libraries[i] = dlopen(path.constData(), RTLD_NOW | RTLD_LOCAL);
        if (!m_libraries[i]) {
            m_error = QString::fromLocal8Bit(dlerror());
            return false;
        }
        auto init = reinterpret_cast<ZQSuiteInitFn>(dlsym(m_libraries[i], "ZQSuiteInit"));
        if (!init || init(&context) != 1) {
            m_error = QStringLiteral("%1 does not accept the host context").arg(kSuite[i]);
            return false;
        }
    }
    return true;
}

void SuiteLoader::handles(intptr_t out[6]) const
{
    for (int i = 0; i < 5; ++i)
        out[i] = reinterpret_cast<intptr_t>(m_libraries[i]);
    out[5] = 0;
}

void *SuiteLoader::pluginEntry(const char *name) const
{
    return m_plugin ? dlsym(m_plugin, name) : nullptr;
}
