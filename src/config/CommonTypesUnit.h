#pragma once
// One direction's settings, copied by value into each monitor. Field names are the INI keys.
#include <cstdint>
#include <string>

struct RConfiguration {
    std::string LocalFolder;
    bool FirstToTemp = false;
    std::string TempFolder;
    std::string MoveToFolder;
    std::string Host;
    std::string Port;
    bool PassiveMode = false;
    bool BinaryMode = false;
    std::string Username;
    std::string Password;
    std::string RemoteFolder;
    int32_t CheckInterval = 0;
    bool MoveDelete = false;
    bool SSL = false;
    std::string SSLCertificate;
    std::string SSLKey;
    std::string SSLPass;
    bool KeepAlive = false;

    bool operator==(const RConfiguration&) const = default;
};
