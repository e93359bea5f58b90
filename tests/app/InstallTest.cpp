// `cmake --install` into a temporary prefix: the programs, a desktop entry that the desktop's
// own validator accepts, and the icon that entry names.
#include "servers/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

TEST(Install, ProgramsDesktopEntryAndIconLandUnderThePrefix) {
    const std::string prefix = testsrv::MakeTempDir("install-");
    std::string output;
    ASSERT_EQ(testsrv::RunCommand(
                  {"/usr/bin/cmake", "--install", TAVRIN_BINARY_DIR, "--prefix", prefix}, output),
              0)
        << output;
    for (const char* program : {"tavrin", "tavrin-ftp"}) {
        const fs::path path = fs::path(prefix) / "bin" / program;
        ASSERT_TRUE(fs::exists(path)) << path;
        EXPECT_NE(fs::status(path).permissions() & fs::perms::owner_exec, fs::perms::none);
    }
    const std::string entry = prefix + "/share/applications/tavrin.desktop";
    const std::string text = testsrv::ReadWholeFile(entry);
    EXPECT_NE(text.find("\nExec=tavrin\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nIcon=tavrin\n"), std::string::npos) << text;
    EXPECT_TRUE(fs::exists(prefix + "/share/icons/hicolor/scalable/apps/tavrin.svg"));
    if (!fs::exists("/usr/bin/desktop-file-validate")) {
        fs::remove_all(prefix);
        GTEST_SKIP() << "desktop-file-validate is missing (Debian package desktop-file-utils)";
    }
    EXPECT_EQ(testsrv::RunCommand({"/usr/bin/desktop-file-validate", entry}, output), 0) << output;
    EXPECT_EQ(output, "") << "no warnings either";
    fs::remove_all(prefix);
}
