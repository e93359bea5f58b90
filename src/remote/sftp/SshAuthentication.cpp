#include "remote/sftp/SshAuthentication.h"

#include <vector>

namespace tavrin::sftp {
namespace {

std::string Offered(int methods) {
    std::string text;
    auto add = [&](int bit, const char* name) {
        if (methods & bit)
            text += (text.empty() ? "" : ", ") + std::string(name);
    };
    add(SSH_AUTH_METHOD_PUBLICKEY, "publickey");
    add(SSH_AUTH_METHOD_PASSWORD, "password");
    add(SSH_AUTH_METHOD_INTERACTIVE, "keyboard-interactive");
    add(SSH_AUTH_METHOD_HOSTBASED, "hostbased");
    add(SSH_AUTH_METHOD_GSSAPI_MIC, "gssapi-with-mic");
    return text.empty() ? "none" : text;
}

// Every prompt gets the password; servers ask nothing in a last round, which we answer
// with no answers. Bounded, so a server that keeps asking cannot hold us.
int KeyboardInteractive(ssh_session session, const std::string& password) {
    int rc = ::ssh_userauth_kbdint(session, nullptr, nullptr);
    for (int round = 0; rc == SSH_AUTH_INFO && round < 8; ++round) {
        const int prompts = ::ssh_userauth_kbdint_getnprompts(session);
        for (int i = 0; i < prompts; ++i)
            if (::ssh_userauth_kbdint_setanswer(session, static_cast<unsigned>(i),
                                                password.c_str()) < 0)
                return SSH_AUTH_ERROR;
        rc = ::ssh_userauth_kbdint(session, nullptr, nullptr);
    }
    return rc == SSH_AUTH_INFO ? SSH_AUTH_DENIED : rc;
}

class Attempts {
public:
    Attempts(ssh_session session, const std::string& where) : session_(session), where_(where) {}

    // True when this step let us in. A partial success (the server wants a second
    // factor) refreshes what it offers and goes on.
    bool Took(const std::string& method, int rc) {
        tried_.push_back(method);
        if (rc == SSH_AUTH_SUCCESS)
            return true;
        if (rc == SSH_AUTH_ERROR)
            throw ESftpError("SFTP login to " + where_ + " failed during " + method + ": " +
                             ::ssh_get_error(session_));
        return false;
    }
    void Note(const std::string& text) { notes_ += "; " + text; }
    std::string TriedText() const {
        std::string text;
        for (const std::string& method : tried_)
            text += (text.empty() ? "" : ", ") + method;
        return text.empty() ? "nothing" : text;
    }
    const std::string& Notes() const { return notes_; }

private:
    ssh_session session_;
    std::string where_;
    std::vector<std::string> tried_;
    std::string notes_;
};

bool TryKeyFile(ssh_session session, const TSftpSettings& settings, Attempts& attempts) {
    ssh_key key = nullptr;
    const char* passphrase =
        settings.KeyPassphrase.empty() ? nullptr : settings.KeyPassphrase.c_str();
    if (::ssh_pki_import_privkey_file(settings.KeyFile.c_str(), passphrase, nullptr, nullptr,
                                      &key) != SSH_OK) {
        attempts.Note("the key file " + settings.KeyFile +
                      " could not be read (missing, unsupported or wrong passphrase)");
        return false;
    }
    const int rc = ::ssh_userauth_publickey(session, nullptr, key);
    ::ssh_key_free(key);
    return attempts.Took("publickey (key file)", rc);
}

} // namespace

std::string Authenticate(ssh_session session, const TSftpSettings& settings,
                         const std::string& where) {
    int rc = ::ssh_userauth_none(session, nullptr);
    if (rc == SSH_AUTH_SUCCESS)
        return "none";
    if (rc == SSH_AUTH_ERROR)
        throw ESftpError("SFTP login to " + where + " failed: " + ::ssh_get_error(session));
    const int offered = ::ssh_userauth_list(session, nullptr);
    Attempts attempts(session, where);

    if (offered & SSH_AUTH_METHOD_PUBLICKEY) {
        if (settings.UseAgent &&
            attempts.Took("publickey (agent)", ::ssh_userauth_agent(session, nullptr)))
            return "publickey (agent)";
        if (!settings.KeyFile.empty() && TryKeyFile(session, settings, attempts))
            return "publickey (key file)";
    }
    // The list may change after a partial success; ask again before each further method.
    if ((::ssh_userauth_list(session, nullptr) & SSH_AUTH_METHOD_PASSWORD) &&
        !settings.Password.empty() &&
        attempts.Took("password",
                      ::ssh_userauth_password(session, nullptr, settings.Password.c_str())))
        return "password";
    if ((::ssh_userauth_list(session, nullptr) & SSH_AUTH_METHOD_INTERACTIVE) &&
        !settings.Password.empty() &&
        attempts.Took("keyboard-interactive", KeyboardInteractive(session, settings.Password)))
        return "keyboard-interactive";

    throw ESftpLoginRefused("SFTP login to " + where + " as " + settings.Username +
                            " was refused. Tried: " + attempts.TriedText() +
                            ". The server offers: " + Offered(offered) + attempts.Notes() + ".");
}

} // namespace tavrin::sftp
