#include <QApplication>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

// Every test program needs the application object (windows, SQL driver plug-ins); without a
// display the tests run on the offscreen platform.
int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleMock(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
