#pragma once
// Helpers of the export tests: a scratch folder tree and a thread-safe record of events.
#include "config/CommonTypesUnit.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace exporttest {

// A fresh folder under /tmp with "watched" and "outside" in it; removed at the end.
class TestFolder {
public:
    TestFolder() {
        char pattern[] = "/tmp/tavrin-export-XXXXXX";
        if (::mkdtemp(pattern) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        root_ = pattern;
        std::filesystem::create_directory(Watched());
        std::filesystem::create_directory(Outside());
    }
    ~TestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    TestFolder(const TestFolder&) = delete;
    TestFolder& operator=(const TestFolder&) = delete;

    const std::string& Root() const { return root_; }
    // A server that runs as another account (sshd's test user) may then reach folders below.
    void LetServersIn() const {
        using std::filesystem::perms;
        std::filesystem::permissions(root_, perms::owner_all | perms::group_read |
                                                perms::group_exec | perms::others_read |
                                                perms::others_exec);
    }
    std::string Watched() const { return root_ + "/watched"; }
    std::string Outside() const { return root_ + "/outside"; }

    // Written in full and closed before it returns.
    void Write(const std::string& name, const std::string& content) const {
        Write(name, content, Watched());
    }
    static void Write(const std::string& name, const std::string& content,
                      const std::string& folder) {
        std::ofstream(folder + "/" + name, std::ios::binary) << content;
    }
    std::uintmax_t SizeOf(const std::string& name) const {
        return std::filesystem::file_size(Watched() + "/" + name);
    }
    static std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream content;
        content << in.rdbuf();
        return content.str();
    }

private:
    std::string root_;
};

// Bytes no line-ending conversion or truncation could leave unchanged.
inline std::string RandomBytes(size_t size, unsigned seed) {
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char& byte : bytes)
        byte = static_cast<char>(generator() & 0xff);
    return bytes;
}

// Texts added from any thread, waited for with a bound.
class Events {
public:
    void Add(const std::string& text) {
        {
            std::lock_guard lock(mutex_);
            texts_.push_back(text);
        }
        changed_.notify_all();
    }
    bool WaitForCount(size_t count, std::chrono::milliseconds limit) const {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return texts_.size() >= count; });
    }
    std::vector<std::string> All() const {
        std::lock_guard lock(mutex_);
        return texts_;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> texts_;
};

// An export of `folder` to "/in" on a server on 127.0.0.1, passive and binary, that sends
// each file as soon as it is complete.
inline RConfiguration LoopbackExport(const TestFolder& folder, uint16_t port,
                                     const std::string& user = "user",
                                     const std::string& password = "pass") {
    RConfiguration config;
    config.LocalFolder = folder.Watched();
    config.Host = "127.0.0.1";
    config.Port = std::to_string(port);
    config.Username = user;
    config.Password = password;
    config.PassiveMode = true;
    config.BinaryMode = true;
    config.RemoteFolder = "/in";
    config.SettleTime = 0;
    return config;
}

} // namespace exporttest
