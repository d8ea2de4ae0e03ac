#include "FileDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QUrl>

namespace zq::platform {

namespace {
FileAnswer g_answer;
FileChoiceAnswer g_choiceAnswer;
std::function<bool(const QString &)> g_openUrl;
} // namespace

QString getOpenFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (g_answer)
        return g_answer(caption, filter);
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString getSaveFileName(QWidget *parent,
                        const QString &caption,
                        const QString &filter,
                        QString *selectedFilter)
{
    if (g_answer)
        return g_answer(caption, filter);
    return QFileDialog::getSaveFileName(parent, caption, QString(), filter, selectedFilter);
}

void setFileDialogAnswer(FileAnswer answer)
{
    g_answer = std::move(answer);
}

QString chooseFile(QWidget *parent, FileChoice &choice)
{
    if (g_choiceAnswer) {
        FileChoice answered = choice;
        const QString path = g_choiceAnswer(answered);
        if (!path.isEmpty())
            choice = answered;
        return path;
    }
    QFileDialog dialog(parent, choice.caption);
    dialog.setAcceptMode(choice.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(choice.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(choice.fileTypes);
    if (choice.fileType >= 0 && choice.fileType < choice.fileTypes.size())
        dialog.selectNameFilter(choice.fileTypes.at(choice.fileType));
    const QFileInfo start(choice.fileName);
    if (!choice.fileName.isEmpty() && start.isAbsolute())
        dialog.setDirectory(start.absolutePath());
    else if (!choice.folder.isEmpty())
        dialog.setDirectory(choice.folder);
    if (!start.fileName().isEmpty())
        dialog.selectFile(start.fileName());
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    const qsizetype type = choice.fileTypes.indexOf(dialog.selectedNameFilter());
    if (type >= 0)
        choice.fileType = int(type);
    return dialog.selectedFiles().constFirst();
}

void setFileChoiceAnswer(FileChoiceAnswer answer)
{
    g_choiceAnswer = std::move(answer);
}

bool openUrl(const QString &url)
{
    if (g_openUrl)
        return g_openUrl(url);
    return QDesktopServices::openUrl(QUrl(url));
}

void setOpenUrlHandler(std::function<bool(const QString &)> handler)
{
    g_openUrl = std::move(handler);
}

} // namespace zq::platform
