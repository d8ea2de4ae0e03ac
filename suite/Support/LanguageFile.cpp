#include "LanguageFile.h"

#include <QDateTime>
#include <QFileInfo>

#include <SimpleIni.h>

namespace zq::suite {

struct LanguageFile::Source
{
    QString path;
    QDateTime stamp;
    CSimpleIniA ini{true};
    bool loaded = false;

    void read(const QString &file)
    {
        path = file;
        ini.Reset();
        ini.SetUnicode(true);
        const QFileInfo info(file);
        stamp = info.exists() ? info.lastModified() : QDateTime();
        loaded = info.isFile() && ini.LoadFile(QFile::encodeName(file).constData()) >= 0;
    }

    bool changed() const
    {
        const QFileInfo info(path);
        const QDateTime now = info.exists() ? info.lastModified() : QDateTime();
        return now != stamp;
    }

    std::optional<QString> find(const QString &section, const QString &key) const
    {
        if (!loaded)
            return std::nullopt;
        const char *value = ini.GetValue(section.toUtf8().constData(), key.toUtf8().constData());
        if (!value)
            return std::nullopt;
        return QString::fromUtf8(value);
    }
};

LanguageFile::LanguageFile()
    : m_primary(std::make_unique<Source>())
    , m_fallback(std::make_unique<Source>())
{}

LanguageFile::~LanguageFile() = default;

void LanguageFile::load(const QString &folder, const QString &language)
{
    const QString english = folder + QStringLiteral("en.ini");
    const QString name = language.isEmpty() ? QStringLiteral("en") : language;
    m_primary->read(folder + name + QStringLiteral(".ini"));
    // English backs up every other language; reading it twice for English would only
    // double the look-ups.
    if (name == QLatin1String("en"))
        m_fallback->read(QString());
    else
        m_fallback->read(english);
}

void LanguageFile::refresh()
{
    if (m_primary->changed())
        m_primary->read(m_primary->path);
    if (!m_fallback->path.isEmpty() && m_fallback->changed())
        m_fallback->read(m_fallback->path);
}

std::optional<QString> LanguageFile::find(const QString &section, const QString &key) const
{
    if (auto found = m_primary->find(section, key))
        return found;
    return m_fallback->find(section, key);
}

QString LanguageFile::text(const QString &section, const QString &key) const
{
    return find(section, key).value_or(key);
}

QString LanguageFile::text(const QString &section,
                           const QString &fallbackSection,
                           const QString &key) const
{
    if (auto found = find(section, key))
        return *found;
    return text(fallbackSection, key);
}

QString LanguageFile::primaryPath() const
{
    if (m_primary->loaded)
        return m_primary->path;
    return m_fallback->loaded ? m_fallback->path : QString();
}

} // namespace zq::suite
