#pragma once
// For tests that log in over SSH: HOME and XDG_STATE_HOME under the test's own folder, so no
// known_hosts of the user is read or written, and no agent of the user's; all three are put
// back when it goes.
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace testsrv {

class PrivateHome {
public:
    explicit PrivateHome(const std::string& folder) {
        for (const char* name : kNames)
            if (const char* value = std::getenv(name))
                saved_.emplace_back(name, value);
        std::filesystem::create_directories(folder + "/home/.ssh");
        ::setenv("HOME", (folder + "/home").c_str(), 1);
        ::setenv("XDG_STATE_HOME", (folder + "/xdg").c_str(), 1);
        ::unsetenv("SSH_AUTH_SOCK");
    }
    ~PrivateHome() {
        for (const char* name : kNames)
            ::unsetenv(name);
        for (const auto& [name, value] : saved_)
            ::setenv(name.c_str(), value.c_str(), 1);
    }
    PrivateHome(const PrivateHome&) = delete;
    PrivateHome& operator=(const PrivateHome&) = delete;

private:
    static constexpr const char* kNames[] = {"HOME", "XDG_STATE_HOME", "SSH_AUTH_SOCK"};
    std::vector<std::pair<std::string, std::string>> saved_;
};

} // namespace testsrv
