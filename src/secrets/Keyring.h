#pragma once
// The keyring as the job start and the settings dialog see it: a store of texts by key, which
// may not be there at all. The desktop's keyring implements it (secrets/keyring); tests and
// the service give their own.
#include <string>

namespace tavrin {

enum class TKeyringStatus {
    Found,      // the value is in `value`
    NotFound,   // the keyring answered and holds nothing under the key
    Unavailable // no keyring answered, or it refused; `error` says why
};

struct TKeyringAnswer {
    TKeyringStatus status = TKeyringStatus::Unavailable;
    std::string value;
    std::string error;
};

class TKeyring {
public:
    virtual ~TKeyring() = default;
    // True when a keyring answers now; cheap enough to ask when a dialog opens.
    virtual bool Available() = 0;
    virtual TKeyringAnswer Read(const std::string& key) = 0;
    // Stores `value` under `key`; an empty value removes the key. On failure returns false
    // with the reason in `error`.
    virtual bool Write(const std::string& key, const std::string& value, std::string& error) = 0;
};

// Every entry lives under this service name.
inline constexpr const char* kKeyringService = "tavrin";

} // namespace tavrin
