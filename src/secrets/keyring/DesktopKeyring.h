#pragma once
// The desktop's keyring over the session D-Bus: the Secret Service (GNOME Keyring, KeePassXC)
// or KWallet, through QtKeychain. Every call waits for its answer in a local event loop, at
// most `limit`, so a keyring that hangs never hangs the caller. Needs a QCoreApplication, and
// is used on the thread that made it. TAVRIN_KEYRING=none in the environment: no keyring.
#include "secrets/Keyring.h"

#include <chrono>

namespace tavrin {

class TDesktopKeyring : public TKeyring {
public:
    explicit TDesktopKeyring(std::chrono::milliseconds limit = std::chrono::seconds(5))
        : limit_(limit) {}

    bool Available() override;
    TKeyringAnswer Read(const std::string& key) override;
    bool Write(const std::string& key, const std::string& value, std::string& error) override;

private:
    std::chrono::milliseconds limit_;
};

} // namespace tavrin
