#pragma once
// A private D-Bus session bus for one test process, with GNOME Keyring's Secret Service on it
// (or without, to see what happens where no keyring is). Both daemons run from a folder of
// the test's own (HOME, XDG_RUNTIME_DIR, XDG_DATA_HOME point there while it lives, and
// DBUS_SESSION_BUS_ADDRESS at the bus), the keyring is created and unlocked with a password
// given on its standard input, and both are stopped by their own process ids. Works as root
// in a container: no session, no systemd, no display needed.
//
// A process caches its session bus on first use, so make one per test program (e.g. in
// SetUpTestSuite) and run other buses in child processes.
#include "servers/ChildProcess.h"

#include <string>
#include <utility>
#include <vector>

namespace testsrv {

class SecretServiceBus {
public:
    explicit SecretServiceBus(bool withKeyring = true);
    ~SecretServiceBus();
    SecretServiceBus(const SecretServiceBus&) = delete;
    SecretServiceBus& operator=(const SecretServiceBus&) = delete;

    const std::string& Address() const { return address_; }
    const std::string& Folder() const { return folder_; }
    pid_t BusPid() const { return bus_.Pid(); }
    pid_t KeyringPid() const { return keyring_.Pid(); }

    // The names now on the bus (dbus-send, bounded).
    std::vector<std::string> Names() const;

private:
    void StartBus();
    void StartKeyring();

    std::string folder_;
    std::string address_;
    std::vector<std::pair<std::string, std::string>> saved_;
    ChildProcess bus_;
    ChildProcess keyring_;
};

} // namespace testsrv
