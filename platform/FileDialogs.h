#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace zq::platform {

/// The file dialogs of the windows. Tests answer them through `setOpenFileAnswer`.
QString getOpenFileName(QWidget *parent, const QString &caption, const QString &filter);
QString getSaveFileName(QWidget *parent,
                        const QString &caption,
                        const QString &filter,
                        QString *selectedFilter = nullptr);

/// Replaces the dialogs: the function gets caption and filter and returns the chosen path
/// ("" = cancelled). An empty function restores the real dialogs.
using FileAnswer = std::function<QString(const QString &caption, const QString &filter)>;
void setFileDialogAnswer(FileAnswer answer);

/// A file dialog that starts from a file name and one of several file types, and tells
/// which file type the operator left chosen.
struct FileChoice
{
    bool save = false;
    QString caption;
    QStringList fileTypes; ///< "Text files (*.txt)", ...
    int fileType = 0;      ///< in: the type shown first; out: the type chosen
    QString fileName;      ///< the name the dialog starts with (a folder may lead it)
    QString folder;        ///< the folder it opens in when the name has none
};

/// Shows the dialog; the chosen path, or "" when cancelled (then `choice` is unchanged).
/// No extension is added: the caller decides by the chosen type.
QString chooseFile(QWidget *parent, FileChoice &choice);

/// Replaces `chooseFile`'s dialog: the function may change `choice.fileType` and returns
/// the chosen path ("" = cancelled). An empty function restores the real dialog.
using FileChoiceAnswer = std::function<QString(FileChoice &choice)>;
void setFileChoiceAnswer(FileChoiceAnswer answer);

/// Opens `url` ("mailto:...") with the desktop's default handler; tests record it instead.
bool openUrl(const QString &url);
void setOpenUrlHandler(std::function<bool(const QString &url)> handler);

} // namespace zq::platform
