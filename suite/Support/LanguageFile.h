#pragma once

#include <QString>

#include <memory>
#include <optional>

namespace zq::suite {

/// The texts of one language: `<folder><language>.ini`, with en.ini behind it for every
/// key the language file lacks (and in its place when it is missing).
class LanguageFile
{
public:
    LanguageFile();
    ~LanguageFile();
    LanguageFile(const LanguageFile &) = delete;
    LanguageFile &operator=(const LanguageFile &) = delete;

    /// Reads the files of `language` ("" reads as "en") from `folder`.
    void load(const QString &folder, const QString &language);
    /// Reads the files again when one changed on disk since it was read.
    void refresh();

    /// The text of `key` in `section`, if either file has it (section and key names are
    /// matched without regard to case).
    std::optional<QString> find(const QString &section, const QString &key) const;
    /// `find`, or the key itself.
    QString text(const QString &section, const QString &key) const;
    /// The first of the sections that has `key`, else the key itself.
    QString text(const QString &section, const QString &fallbackSection, const QString &key) const;

    /// The file the texts come from ("" when none could be read).
    QString primaryPath() const;

private:
    struct Source;
    std::unique_ptr<Source> m_primary;
    std::unique_ptr<Source> m_fallback;
};

} // namespace zq::suite
