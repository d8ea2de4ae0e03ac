#include "SuiteHost.h"

#include <QDir>
#include <QFile>

#include <array>

namespace zq::test {

void *suiteLibrary(SuiteLib lib)
{
    static const std::array<const char *, 5> files{
        ZQ_LIB_COMMON, ZQ_LIB_LANGUAGE, ZQ_LIB_USERRIGHT, ZQ_LIB_COM, ZQ_LIB_UTILITY};
    static std::array<void *, 5> handles{};
    void *&handle = handles[size_t(lib)];
    if (!handle) {
        // RTLD_LOCAL keeps each library on its own copy of the support code, as in the host.
        handle = dlopen(files[size_t(lib)], RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(handle, nullptr) << files[size_t(lib)] << ": " << dlerror();
    }
    return handle;
}

QString insertRow(const QString &table, const QStringList &columns, const QVariantList &values)
{
    QStringList literals;
    for (const QVariant &value : values)
        literals << (value.typeId() == QMetaType::QString
                         ? zq::data::Connection::quoted(value.toString())
                         : value.toString());
    return QStringLiteral("INSERT INTO %1 (%2) VALUES (%3)")
        .arg(table, columns.join(QStringLiteral(", ")), literals.join(QStringLiteral(", ")));
}

SuiteHost::SuiteHost()
{
    for (const char *folder : {"site", "lang", "reports"})
        QDir(m_dir.path()).mkpath(QString::fromLatin1(folder));
    // Without the trailing '/': the libraries have to add it themselves.
    siteFolder = QFile::encodeName(path(QStringLiteral("site")));
    langFolder = QFile::encodeName(path(QStringLiteral("lang")));
    reportFolder = QFile::encodeName(path(QStringLiteral("reports")));
}

SuiteHost::~SuiteHost()
{
    connection = nullptr;
    siteFolder = langFolder = reportFolder = reportOutDir = loginUserId = QByteArray();
    init();
}

bool SuiteHost::init()
{
    const ZQSuiteContext context{ZQ_SUITE_CONTEXT_VERSION,
                                 connection,
                                 siteFolder.constData(),
                                 loginUserId.constData(),
                                 language.constData(),
                                 langFolder.constData(),
                                 reportFolder.constData(),
                                 reportOutDir.constData()};
    bool all = true;
    for (SuiteLib lib : {SuiteLib::Common,
                         SuiteLib::Language,
                         SuiteLib::UserRight,
                         SuiteLib::Com,
                         SuiteLib::Utility}) {
        auto initFn = suiteEntry<ZQSuiteInitFn>(lib, "ZQSuiteInit");
        all = initFn && initFn(&context) == 1 && all;
    }
    return all;
}

void SuiteHost::writeLanguageFile(const QString &name, const QByteArray &text) const
{
    QFile file(QDir(path(QStringLiteral("lang"))).filePath(name));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

ModalDriver::ModalDriver(std::function<bool()> step)
{
    m_timer.setInterval(10);
    QObject::connect(&m_timer, &QTimer::timeout, &m_timer, [this, step] {
        if (!m_acted)
            m_acted = step();
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && ++m_ticks > 300)
            modal->close();
    });
    m_timer.start();
}

} // namespace zq::test
