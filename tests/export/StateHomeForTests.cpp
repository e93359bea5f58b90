// The export monitor keeps a note of the upload in progress in the per-user state folder;
// the tests' notes go to a folder of their own, never to the user's.
#include "servers/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace {

class StateHomeForTests : public ::testing::Environment {
public:
    void SetUp() override {
        folder_ = testsrv::MakeTempDir("tavrin-export-state-");
        ::setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

private:
    std::string folder_;
};

[[maybe_unused]] ::testing::Environment* const kStateHome =
    ::testing::AddGlobalTestEnvironment(new StateHomeForTests);

} // namespace
