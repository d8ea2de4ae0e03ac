#include "ToolTexts.h"

#include <QFile>

#include <SimpleIni.h>

struct ToolTexts::Files
{
    CSimpleIniA language{true};
    CSimpleIniA english{true};
};

ToolTexts::ToolTexts()
    : m_files(std::make_unique<Files>())
{}

ToolTexts::~ToolTexts() = default;

void ToolTexts::load(const QString &folder, const QString &language)
{
    m_files = std::make_unique<Files>();
    if (folder.isEmpty())
        return;
    m_files->english.LoadFile(QFile::encodeName(folder + QStringLiteral("en.ini")).constData());
    if (language != QLatin1String("en"))
        m_files->language.LoadFile(
            QFile::encodeName(folder + language + QStringLiteral(".ini")).constData());
}

QString ToolTexts::text(const char *key) const
{
    for (const CSimpleIniA *ini : {&m_files->language, &m_files->english}) {
        if (const char *value = ini->GetValue("zqtransfer", key))
            return QString::fromUtf8(value);
    }
    return QString::fromLatin1(key);
}
