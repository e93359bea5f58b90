#pragma once
// A private settings file and register folder for each test, and a recorder in place of the
// message boxes and file dialogs.
#include "config/LogSwitches.h"
#include "config/dialog/MessageBoxes.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

class DialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "dlg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        configPath_ = dir_ + "/MonitorConfig.ini";
        registerPath_ = dir_ + "/LocalFileList.txt";
        ::setenv("TAVRIN_CONFIG", configPath_.c_str(), 1);
        ::setenv("TEMP", (dir_ + "/").c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TAVRIN_CONFIG");
        ::unsetenv("TEMP");
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
        std::filesystem::remove_all(dir_);
    }

    static void WriteFile(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string ReadFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // "Section.Key=value" for every key line of the settings file, in file order.
    std::vector<std::string> SettingsLines() const {
        std::vector<std::string> lines;
        std::istringstream in(ReadFile(configPath_));
        std::string line, section;
        while (std::getline(in, line)) {
            if (line.starts_with('['))
                section = line.substr(1, line.find(']') - 1);
            else if (!line.empty())
                lines.push_back(section + "." + line);
        }
        return lines;
    }

    tavrin::TMessageRecorder recorder_;
    std::string dir_;
    std::string configPath_;
    std::string registerPath_;
};
