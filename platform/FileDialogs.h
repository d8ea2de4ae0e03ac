#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace zq::platform {

/// The file dialogs of the windows. Tests answer them through `setOpenFileAnswer`.
QString getOpenFileName(QWidget *parent, const QString &caption, const QString &filter);
QString getSaveFileName(QWidget *parent, const QString &caption, const QString &filter,
                        QString *selectedFilter = nullptr);

/// Replaces the dialogs: the function gets caption and filter and returns the chosen path
/// ("" = cancelled). An empty function restores the real dialogs.
using FileAnswer = std::function<QString(const QString &caption, const QString &filter)>;
void setFileDialogAnswer(FileAnswer answer);

/// Opens `url` ("mailto:...") with the desktop's default handler; tests record it instead.
bool openUrl(const QString &url);
void setOpenUrlHandler(std::function<bool(const QString &url)> handler);

} // namespace zq::platform
