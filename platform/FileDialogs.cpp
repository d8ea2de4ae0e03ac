#include "FileDialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QUrl>

namespace zq::platform {

namespace {
FileAnswer g_answer;
std::function<bool(const QString &)> g_openUrl;
} // namespace

QString getOpenFileName(QWidget *parent, const QString &caption, const QString &filter)
{
    if (g_answer)
        return g_answer(caption, filter);
    return QFileDialog::getOpenFileName(parent, caption, QString(), filter);
}

QString getSaveFileName(QWidget *parent, const QString &caption, const QString &filter,
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
