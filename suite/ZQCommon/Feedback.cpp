#include "Feedback.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>

namespace zq::suite {

namespace {

bool audible()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    const QString platform = QGuiApplication::platformName();
    return platform != QLatin1String("offscreen") && platform != QLatin1String("minimal");
}

} // namespace

void playFeedback(Feedback kind)
{
    if (!audible())
        return;
    // A window that opens and confirms at once would otherwise ring twice in a row, which
    // the user hears as an error.
    static QElapsedTimer last;
    if (kind != Feedback::Error && last.isValid() && last.elapsed() < 120)
        return;
    last.start();
    QApplication::beep();
    if (kind == Feedback::Error)
        QTimer::singleShot(180, qApp, [] { QApplication::beep(); });
}

} // namespace zq::suite
