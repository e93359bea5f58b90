#pragma once
// A folder of the test's own, private files in it, and a keyring held in memory for the
// tests of what the callers of the keyring interface do (the desktop keyring itself is tested
// against a real Secret Service).
#include "secrets/Keyring.h"
#include "servers/ChildProcess.h"

#include <fcntl.h>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

class TTestFolder {
public:
    TTestFolder() : root_(testsrv::MakeTempDir("tavrin-secrets-")) {}
    ~TTestFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }
    std::string Path(const std::string& name) const { return root_ + "/" + name; }

private:
    std::string root_;
};

inline void WritePrivateFile(const std::string& path, const std::string& text, mode_t mode) {
    testsrv::WriteWholeFile(path, text);
    if (::chmod(path.c_str(), mode) != 0)
        throw std::runtime_error("chmod " + path);
}

class TMemoryKeyring : public tavrin::TKeyring {
public:
    bool Available() override { return available; }
    tavrin::TKeyringAnswer Read(const std::string& key) override {
        ++reads;
        if (!available)
            return {tavrin::TKeyringStatus::Unavailable, "", error};
        auto found = entries.find(key);
        if (found == entries.end())
            return {tavrin::TKeyringStatus::NotFound, "", ""};
        return {tavrin::TKeyringStatus::Found, found->second, ""};
    }
    bool Write(const std::string& key, const std::string& value, std::string& why) override {
        if (!available || refusesWrites) {
            why = error;
            return false;
        }
        if (value.empty())
            entries.erase(key);
        else
            entries[key] = value;
        return true;
    }

    bool available = true;
    bool refusesWrites = false;
    std::string error = "no keyring";
    std::map<std::string, std::string> entries;
    int reads = 0;
};
