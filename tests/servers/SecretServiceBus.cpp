#include "servers/SecretServiceBus.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>

namespace testsrv {
namespace {

using namespace std::chrono_literals;

constexpr const char* kEnvironment[] = {"DBUS_SESSION_BUS_ADDRESS", "HOME", "XDG_RUNTIME_DIR",
                                        "XDG_DATA_HOME", "XDG_CONFIG_HOME"};
constexpr auto kStartLimit = 15s;

// A session bus that lets everyone on it talk to everyone, listening only on a socket in
// our folder.
std::string BusConfig(const std::string& runDir) {
    return "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
           " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
           "<busconfig>\n"
           "  <type>session</type>\n"
           "  <listen>unix:dir=" +
           runDir +
           "</listen>\n"
           "  <auth>EXTERNAL</auth>\n"
           "  <policy context=\"default\">\n"
           "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
           "    <allow eavesdrop=\"true\"/>\n"
           "    <allow own=\"*\"/>\n"
           "  </policy>\n"
           "</busconfig>\n";
}

template <typename Done> bool PollUntil(Done done) {
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

} // namespace

SecretServiceBus::SecretServiceBus(bool withKeyring) : folder_(MakeTempDir("tavrin-bus-")) {
    for (const char* name : kEnvironment)
        if (const char* value = std::getenv(name))
            saved_.emplace_back(name, value);
    std::filesystem::create_directories(folder_ + "/home/.local/share");
    std::filesystem::create_directories(folder_ + "/home/.config");
    std::filesystem::create_directories(folder_ + "/run");
    ::chmod((folder_ + "/run").c_str(), 0700);
    ::setenv("HOME", (folder_ + "/home").c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", (folder_ + "/run").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (folder_ + "/home/.local/share").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (folder_ + "/home/.config").c_str(), 1);
    StartBus();
    if (withKeyring)
        StartKeyring();
}

SecretServiceBus::~SecretServiceBus() {
    keyring_.Stop();
    bus_.Stop();
    for (const char* name : kEnvironment)
        ::unsetenv(name);
    for (const auto& [name, value] : saved_)
        ::setenv(name.c_str(), value.c_str(), 1);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

void SecretServiceBus::StartBus() {
    WriteWholeFile(folder_ + "/bus.conf", BusConfig(folder_ + "/run"));
    bus_ = ChildProcess({"/usr/bin/dbus-daemon", "--config-file=" + folder_ + "/bus.conf",
                         "--nofork", "--print-address=1"},
                        folder_ + "/bus.out");
    const bool printed = PollUntil([this] {
        const std::string out = bus_.Output();
        const size_t start = out.find("unix:");
        const size_t end = out.find('\n', start);
        if (start == std::string::npos || end == std::string::npos)
            return !bus_.Running();
        address_ = out.substr(start, end - start);
        return true;
    });
    if (!printed || address_.empty())
        throw std::runtime_error("dbus-daemon did not start: " + bus_.Output());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address_.c_str(), 1);
}

void SecretServiceBus::StartKeyring() {
    // The daemon reads the new keyring's password from standard input; exec keeps its pid
    // ours to stop.
    WriteWholeFile(folder_ + "/unlock", "tavrin-test-keyring");
    keyring_ = ChildProcess({"/bin/sh", "-c",
                             "exec /usr/bin/gnome-keyring-daemon --foreground --unlock "
                             "--components=secrets < \"$0\"",
                             folder_ + "/unlock"},
                            folder_ + "/keyring.out");
    const bool up = PollUntil([this] {
        const auto names = Names();
        return std::find(names.begin(), names.end(), "org.freedesktop.secrets") != names.end() ||
               !keyring_.Running();
    });
    if (!up || !keyring_.Running())
        throw std::runtime_error("gnome-keyring-daemon did not start: " + keyring_.Output());
}

std::vector<std::string> SecretServiceBus::Names() const {
    std::string out;
    RunCommand({"/usr/bin/dbus-send", "--bus=" + address_, "--print-reply",
                "--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                "org.freedesktop.DBus.ListNames"},
               out, 5000ms);
    std::vector<std::string> names;
    for (size_t at = out.find("string \""); at != std::string::npos;
         at = out.find("string \"", at + 1)) {
        const size_t begin = at + 8;
        names.push_back(out.substr(begin, out.find('"', begin) - begin));
    }
    return names;
}

} // namespace testsrv
