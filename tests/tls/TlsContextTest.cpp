// Context set-up from the handler's options: every failure is reported with its own message
// when the connection is made (BeginTls with bypass on, before any command), and the key
// password is handed to the library cut to the buffer it provides.
#include "ftp/tls/IdSSLOpenSSL.h"
#include "servers/RealServers.h"

#include <gtest/gtest.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

std::unique_ptr<TIdSSLIOHandlerSocketOpenSSL> ClientHandler(const std::string& password) {
    const auto& c = testsrv::Certificates();
    auto handler = std::make_unique<TIdSSLIOHandlerSocketOpenSSL>();
    handler->SSLOptions().Method = sslvSSLv23;
    handler->SSLOptions().CertFile = c.clientCert;
    handler->SSLOptions().KeyFile = c.clientKey;
    handler->OnGetPassword = [password](std::string& answer) { answer = password; };
    handler->SetBypass(true);
    return handler;
}

std::string InitFailure(TIdSSLIOHandlerSocketOpenSSL& handler) {
    try {
        handler.BeginTls();
    } catch (const EIdOpenSSLError& failure) {
        return failure.what();
    }
    return "(no failure)";
}

EVP_PKEY* ReadClientKey() {
    const auto& c = testsrv::Certificates();
    FILE* file = std::fopen(c.clientKey.c_str(), "r");
    EVP_PKEY* key = file ? PEM_read_PrivateKey(file, nullptr, nullptr,
                                               const_cast<char*>(c.clientKeyPassword.c_str()))
                         : nullptr;
    if (file)
        std::fclose(file);
    return key;
}

// The client key again, encrypted with `password`.
std::string WriteClientKey(const std::string& password, const std::string& name) {
    EVP_PKEY* key = ReadClientKey();
    const std::string path = testsrv::Certificates().dir + "/" + name;
    FILE* file = std::fopen(path.c_str(), "w");
    const bool written =
        key && file &&
        PEM_write_PrivateKey(file, key, EVP_aes_256_cbc(),
                             reinterpret_cast<const unsigned char*>(password.data()),
                             static_cast<int>(password.size()), nullptr, nullptr) == 1;
    if (file)
        std::fclose(file);
    EVP_PKEY_free(key);
    return written ? path : std::string();
}

// The size of the buffer the library hands to a password callback for a PEM key.
int PasswordBufferSize() {
    int seen = 0;
    FILE* file = std::fopen(testsrv::Certificates().clientKey.c_str(), "r");
    auto record = [](char*, int size, int, void* out) {
        *static_cast<int*>(out) = size;
        return 0;
    };
    EVP_PKEY* key = file ? PEM_read_PrivateKey(file, nullptr, record, &seen) : nullptr;
    EVP_PKEY_free(key);
    if (file)
        std::fclose(file);
    return seen;
}

TEST(TlsContext, RightPasswordLoadsCertificateAndKey) {
    auto handler = ClientHandler(testsrv::Certificates().clientKeyPassword);
    EXPECT_NO_THROW(handler->BeginTls());
}

TEST(TlsContext, EachOptionFailureHasItsOwnMessage) {
    const auto& c = testsrv::Certificates();
    {
        auto handler = ClientHandler("not the password");
        EXPECT_EQ(InitFailure(*handler), "Could not load key, check password.");
    }
    {
        auto handler = ClientHandler(""); // no OnGetPassword answer at all
        handler->OnGetPassword = nullptr;
        EXPECT_EQ(InitFailure(*handler), "Could not load key, check password.");
    }
    {
        // A key that belongs to another certificate.
        auto handler = ClientHandler(c.clientKeyPassword);
        handler->SSLOptions().KeyFile = c.untrustedClientKey;
        EXPECT_EQ(InitFailure(*handler), "Could not load key, check password.");
    }
    {
        auto handler = ClientHandler(c.clientKeyPassword);
        handler->SSLOptions().CertFile = c.dir + "/missing.pem";
        EXPECT_EQ(InitFailure(*handler), "Could not load certificate.");
    }
    {
        auto handler = ClientHandler(c.clientKeyPassword);
        handler->SSLOptions().RootCertFile = c.dir + "/missing-roots.pem";
        EXPECT_EQ(InitFailure(*handler), "Could not load root certificate.");
    }
    {
        auto handler = ClientHandler(c.clientKeyPassword);
        handler->SSLOptions().CipherList = "NO-SUCH-CIPHER";
        EXPECT_EQ(InitFailure(*handler), "SetCipher failed.");
    }
    {
        // The library has no SSL 2 any more; a handler left at the first family says so.
        TIdSSLIOHandlerSocketOpenSSL handler;
        handler.SetBypass(true);
        EXPECT_EQ(InitFailure(handler), "Error geting SSL method.");
    }
}

TEST(TlsContext, BuiltInCipherListIsAcceptedWithoutFiles) {
    TIdSSLIOHandlerSocketOpenSSL handler;
    handler.SSLOptions().Method = sslvSSLv23;
    handler.SetBypass(true);
    EXPECT_NO_THROW(handler.BeginTls());
}

TEST(TlsContext, FailedInitIsNotKeptForTheNextAttempt) {
    auto handler = ClientHandler("wrong");
    EXPECT_EQ(InitFailure(*handler), "Could not load key, check password.");
    // Had the half-made context been kept, this would succeed without loading the key.
    EXPECT_EQ(InitFailure(*handler), "Could not load key, check password.");
    handler->OnGetPassword = [](std::string& answer) {
        answer = testsrv::Certificates().clientKeyPassword;
    };
    EXPECT_NO_THROW(handler->BeginTls());
}

TEST(TlsContext, OverlongPasswordIsCutToTheLibraryBuffer) {
    const int size = PasswordBufferSize();
    ASSERT_GT(size, 1);
    const std::string fits(static_cast<size_t>(size - 1), 'p');
    const std::string fitsKey = WriteClientKey(fits, "fits.key");
    const std::string tooLongKey = WriteClientKey(fits + "q", "too-long.key");
    ASSERT_FALSE(fitsKey.empty());
    ASSERT_FALSE(tooLongKey.empty());

    // Everything past the buffer is dropped, so the key still opens.
    auto handler = ClientHandler(fits + std::string(4 * static_cast<size_t>(size), 'x'));
    handler->SSLOptions().KeyFile = fitsKey;
    EXPECT_NO_THROW(handler->BeginTls());

    // A key whose password does not fit cannot be opened: the cut is real.
    auto cut = ClientHandler(fits + "q");
    cut->SSLOptions().KeyFile = tooLongKey;
    EXPECT_EQ(InitFailure(*cut), "Could not load key, check password.");
}

} // namespace
