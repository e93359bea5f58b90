// The program's command line, run as the user runs it, and the window's Help menu and quit key.
#include "app/MainForm.h"
#include "app/WindowArguments.h"
#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"
#include "servers/ChildProcess.h"

#include <QMenu>
#include <QMenuBar>
#include <QTest>

#include <gtest/gtest.h>

TEST(CommandLine, HelpAndVersionPrintAndExitAndAnythingElseIsRefused) {
    const std::string program = TAVRIN_BINARY_DIR "/src/app/tavrin";
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        std::string expected;
    } cases[] = {
        {{"--version"}, 0, "tavrin " TAVRIN_VERSION_TEXT "\n"},
        {{"--help"}, 0, "Usage: tavrin [--help] [--version]\n"},
        {{"-h"}, 0, "Usage: tavrin"},
        {{"--verison"}, 2, "tavrin: unexpected argument --verison\n"},
        {{"file.txt"}, 2, "tavrin: unexpected argument file.txt\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> argv{program};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        std::string output;
        EXPECT_EQ(testsrv::RunCommand(argv, output), c.exitCode) << c.arguments[0];
        // Qt may say something of its own on stderr before the refusal.
        EXPECT_NE(output.find(c.expected), std::string::npos) << c.arguments[0] << ": " << output;
    }
    std::string version;
    testsrv::RunCommand({program, "--version"}, version);
    EXPECT_EQ(version, "tavrin " TAVRIN_VERSION_TEXT "\n") << "nothing else";
}

TEST(CommandLine, AboutNamesVersionAndFoldersAndCtrlQQuits) {
    TfmMainForm window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QStringList menus;
    for (QAction* menu : window.menuBar()->actions())
        menus << menu->text();
    EXPECT_EQ(menus, QStringList({"Monitor", "Help"}));

    tavrin::TMessageRecorder boxes;
    window.About1->trigger();
    const auto about = boxes.Texts(tavrin::TMessageKind::mkInformation);
    ASSERT_EQ(about.size(), 1u);
    const std::string config = tavrin::ConfigFilePath();
    for (const std::string& part :
         {std::string("Tavrin " TAVRIN_VERSION_TEXT),
          "Settings folder: " + config.substr(0, config.rfind('/')),
          "State folder: " + std::string(std::getenv("XDG_STATE_HOME")) + "/tavrin"})
        EXPECT_NE(about[0].find(part), std::string::npos) << part << " in\n" << about[0];

    QTest::keyClick(&window, Qt::Key_Q, Qt::ControlModifier);
    EXPECT_FALSE(window.isVisible());
}
