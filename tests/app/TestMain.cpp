// Widget tests need a QApplication; without a display they use the offscreen platform. The
// settings file and the register live in a private temporary folder, so the user's own files
// are never touched. Started by the demo script (TAVRIN_DEMO_DRIVER set), the program is the
// demo's headless driver instead, with the settings the script gives it.
#include <QApplication>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

int RunDemoDriver();

int main(int argc, char** argv) {
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    std::signal(SIGPIPE, SIG_IGN);
    if (std::getenv("TAVRIN_DEMO_DRIVER")) {
        QApplication app(argc, argv);
        return RunDemoDriver();
    }
    QTemporaryDir home;
    if (!home.isValid())
        return 2;
    const QByteArray folder = home.path().toLocal8Bit();
    setenv("TAVRIN_CONFIG", (folder + "/MonitorConfig.ini").constData(), 1);
    setenv("TEMP", folder.constData(), 1);
    // The window's tests never reach the user's own keyring.
    setenv("TAVRIN_KEYRING", "none", 1);
    setenv("XDG_STATE_HOME", (folder + "/state").constData(), 1);

    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
