// A second window on the settings file or register that another program holds: one error
// box naming that process, and no locks taken; once it is gone, the files are free again.
#include "app/InstanceLock.h"
#include "config/ConfigPaths.h"
#include "config/dialog/MessageBoxes.h"
#include "platform/FileLock.h"

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

TEST(InstanceLock, SecondWindowOnHeldFilesShowsWhoHoldsThemAndTakesNothing) {
    const std::string pid = std::to_string(::getpid());
    struct Case {
        const char* what;
        std::string held;
    } cases[] = {
        {"settings file held", tavrin::ConfigFilePath()},
        {"register held", tavrin::RegisterFilePath()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        tavrin::TMessageRecorder boxes;
        // A lock of its own in this process conflicts like another process's would.
        auto holder = std::make_unique<tavrin::fs::TFileLock>(c.held);
        EXPECT_FALSE(LockOrExplain(nullptr).has_value());
        EXPECT_EQ(boxes.Texts(tavrin::TMessageKind::mkError),
                  std::vector<std::string>{"Tavrin is already running: " + c.held +
                                           " is in use by process " + pid +
                                           ". Close it before starting another one."});
        // Nothing was kept by the refused attempt: the files are free once the holder goes.
        holder.reset();
        boxes.Clear();
        {
            std::optional<tavrin::TProgramLocks> first = LockOrExplain(nullptr);
            ASSERT_TRUE(first.has_value());
            EXPECT_EQ(first->locks.size(), 2u);
            EXPECT_FALSE(LockOrExplain(nullptr).has_value()) << "a second window is refused";
        }
        EXPECT_TRUE(LockOrExplain(nullptr).has_value());
    }
}
