// What the user is shown when something fails: failures escaping an event handler and
// messages from code below the window reach the error box, and the event loop goes on.
#include "app/MainForm.h"
#include "base/IdException.h"
#include "config/UserMessages.h"
#include "config/dialog/MessageBoxes.h"

#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <thread>

using tavrin::TMessageKind;
using tavrin::TMessageRecorder;

TEST(ErrorSeam, FailureEscapingASlotIsShownAndTheEventLoopGoesOn) {
    TMessageRecorder recorder;
    QObject context;
    bool laterEventRan = false;
    QTimer::singleShot(0, &context, [] {
        tavrin::RunGuarded(nullptr,
                           [] { throw EConvertError("'21x' is not a valid integer value"); });
    });
    QTimer::singleShot(0, &context, [] { tavrin::RunGuarded(nullptr, [] { throw 42; }); });
    QTimer::singleShot(0, &context, [&] { laterEventRan = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return laterEventRan; }, 5000));

    EXPECT_EQ(
        recorder.Texts(TMessageKind::mkError),
        std::vector<std::string>({"'21x' is not a valid integer value", "Unknown exception"}));
    EXPECT_EQ(recorder.Messages().size(), 2u);
}

TEST(ErrorSeam, MessagesFromBelowTheWindowOpenTheErrorBoxOnTheWindowsThread) {
    TMessageRecorder recorder;
    {
        TfmMainForm window;
        tavrin::ShowErrorMessage("shown at once");
        EXPECT_EQ(recorder.Texts(TMessageKind::mkError),
                  std::vector<std::string>({"shown at once"}));

        std::thread watch([] { tavrin::ShowErrorMessage("from the watch thread"); });
        watch.join();
        EXPECT_EQ(recorder.Messages().size(), 1u) << "queued to the window's thread";
        ASSERT_TRUE(recorder.WaitForMessages(2, std::chrono::seconds(5)));
        EXPECT_EQ(recorder.Messages()[1].Text, "from the watch thread");
    }
    // The window took its sink along when it went.
    tavrin::ShowErrorMessage("nobody listens (expected on stderr)");
    QTest::qWait(10);
    EXPECT_EQ(recorder.Messages().size(), 2u);
}

TEST(ErrorSeam, AFailureWithoutTextStillOpensABoxThatSaysSomething) {
    TMessageRecorder recorder;
    TfmMainForm window;
    for (const char* blank : {"", " \r\n"}) {
        tavrin::ShowErrorMessage(blank);
        ASSERT_FALSE(recorder.Texts(TMessageKind::mkError).empty());
        EXPECT_EQ(recorder.Texts(TMessageKind::mkError).back(),
                  "A monitor failed without giving a reason.");
    }
    EXPECT_EQ(recorder.Messages().size(), 2u);
}

TEST(ErrorSeam, RecorderAnswersInTheUsersPlace) {
    TMessageRecorder recorder;
    recorder.QueueWarningAnswer(true);
    recorder.QueueChosenPath(std::string("/srv/in"));
    recorder.QueueChosenPath(std::nullopt);
    EXPECT_TRUE(tavrin::AskWarning(nullptr, "Continue?"));
    EXPECT_FALSE(tavrin::AskWarning(nullptr, "Again?")) << "No once the answers run out";
    EXPECT_EQ(tavrin::BrowseForFolder(nullptr), std::optional<std::string>("/srv/in"));
    EXPECT_EQ(tavrin::BrowseForFile(nullptr), std::nullopt);
    EXPECT_EQ(tavrin::BrowseForFile(nullptr), std::nullopt);
    tavrin::ShowInformation(nullptr, "Settings saved.");

    const auto shown = recorder.Messages();
    ASSERT_EQ(shown.size(), 6u);
    EXPECT_EQ(shown[0].Kind, TMessageKind::mkWarning);
    EXPECT_EQ(shown[0].Text, "Continue?");
    EXPECT_EQ(shown[2].Kind, TMessageKind::mkFolderBrowser);
    EXPECT_EQ(shown[4].Kind, TMessageKind::mkFileOpen);
    EXPECT_EQ(shown[5].Kind, TMessageKind::mkInformation);
    EXPECT_THROW(TMessageRecorder second, std::logic_error);
}

TEST(KeepResponsive, BlockingCallOnTheWindowsThreadLetsTheWindowHandleEvents) {
    TfmMainForm window;
    bool tickHandled = false;
    QTimer::singleShot(0, &window, [&] { tickHandled = true; });
    // What the socket layer does after a send (not idle): the window's events run at once.
    TIdAntiFreezeBase::KeepResponsive(false, false);
    EXPECT_TRUE(tickHandled);
}
