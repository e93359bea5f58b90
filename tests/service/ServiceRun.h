// tavrin-service as its users run it: a child process in a folder of its own, with a settings
// file there, its standard output and standard error each in a file the test reads.
#pragma once

#include "servers/RealServers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace servicetest {

inline const std::string kService = std::string(TAVRIN_BINARY_DIR) + "/src/service/tavrin-service";

// Polls every 50 ms until done() holds or the limit has passed.
inline bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

class ServiceRun : public ::testing::Test {
protected:
    // The folders the test needs below the work folder; the register goes where TEMP says,
    // and the child inherits it.
    void MakeWorkFolder(const std::string& prefix, std::initializer_list<const char*> folders) {
        work_ = testsrv::MakeTempDir(prefix);
        for (const char* folder : folders)
            std::filesystem::create_directories(work_ + "/" + folder);
        std::filesystem::create_directories(work_ + "/register");
        setenv("TEMP", (work_ + "/register").c_str(), 1);
        unsetenv("TAVRIN_CONFIG");
    }
    void TearDown() override {
        service_.Stop();
        std::error_code ignored;
        std::filesystem::remove_all(work_, ignored);
    }

    void StartService(std::vector<std::string> arguments = {}) {
        std::vector<std::string> argv = {
            "/bin/sh",  "-c",    "exec 2>\"$0\"; exec \"$@\"", work_ + "/stderr.txt", kService,
            "--config", Config()};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        service_ = testsrv::ChildProcess(argv, work_ + "/stdout.txt");
    }
    std::string Stdout() const { return testsrv::ReadWholeFile(work_ + "/stdout.txt"); }
    std::string Stderr() const { return testsrv::ReadWholeFile(work_ + "/stderr.txt"); }
    bool StdoutHas(const std::string& text, size_t from = 0) const {
        return Stdout().find(text, from) != std::string::npos;
    }
    std::string Config() const { return work_ + "/MonitorConfig.ini"; }
    std::string File(const std::string& path) const {
        return testsrv::ReadWholeFile(work_ + "/" + path);
    }
    void Put(const std::string& path, const std::string& text) const {
        testsrv::WriteWholeFile(work_ + "/" + path, text);
    }
    testsrv::PyFtpdOptions ServerOptions() const {
        testsrv::PyFtpdOptions options;
        options.root = work_ + "/server";
        return options;
    }

    std::string work_;
    testsrv::ChildProcess service_;
};

} // namespace servicetest
