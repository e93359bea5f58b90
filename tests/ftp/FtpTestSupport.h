#pragma once
// Shared pieces of the FTP client tests: a client aimed at a loopback server and a record of
// the status texts it reported.
#include "ftp/IdFTP.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace ftptest {

struct StatusLog {
    std::vector<std::string> texts;
    TIdStatusEvent Sink() {
        return [this](const void*, TIdStatus, const std::string& text) { texts.push_back(text); };
    }
    bool Has(const std::string& text) const {
        return std::find(texts.begin(), texts.end(), text) != texts.end();
    }
};

inline std::unique_ptr<TIdFTP> MakeClient(uint16_t port, StatusLog* log = nullptr,
                                          bool passive = true) {
    auto client = std::make_unique<TIdFTP>();
    client->SetHost("127.0.0.1");
    client->SetPort(port);
    client->SetUsername("u");
    client->SetPassword("p");
    client->SetPassive(passive);
    client->SetUseMLIS(true);
    client->SetReadTimeout(5000);
    if (log)
        client->OnStatus = log->Sink();
    return client;
}

// A fresh, empty folder under the system's temporary folder, removed with its files.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string& Path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::string& path, const std::string& bytes);
std::string RandomBytes(size_t size, unsigned seed);

} // namespace ftptest
