#pragma once

#include <QString>

#include <memory>

/// The tool's own messages, from the `[zqtransfer]` section of the language files the
/// windows use (`<folder><language>.ini`, en.ini behind it for a key the language lacks):
/// what it prints before the language service of the suite is loaded as well as after.
class ToolTexts
{
public:
    ToolTexts();
    ~ToolTexts();
    ToolTexts(const ToolTexts &) = delete;
    ToolTexts &operator=(const ToolTexts &) = delete;

    /// Reads the files of `language` from `folder` (which ends with '/').
    void load(const QString &folder, const QString &language);
    /// The text of `key`, or the key itself when neither file has it.
    QString text(const char *key) const;

private:
    struct Files;
    std::unique_ptr<Files> m_files;
};
