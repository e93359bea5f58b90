#include "servers/RealServers.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <stdexcept>

namespace testsrv {

namespace {

void Openssl(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/openssl");
    std::string output;
    int code = RunCommand(args, output);
    if (code != 0) {
        std::string line;
        for (const std::string& a : args)
            line += a + " ";
        throw std::runtime_error("test certificates: " + line + "failed (" + std::to_string(code) +
                                 "):\n" + output);
    }
}

// Removes the folder when the process ends; servers read the files while they run.
struct CertificateFolder {
    TestCertificates certs;
    ~CertificateFolder() {
        if (!certs.dir.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(certs.dir, ignored);
        }
    }
};

void MakeCertificates(TestCertificates& c) {
    c.dir = MakeTempDir("tavrin-certs-");
    const std::string d = c.dir + "/";
    c.caCert = d + "ca.pem";
    c.serverCert = d + "server.pem";
    c.serverKey = d + "server.key";
    c.clientCert = d + "client.pem";
    c.clientKey = d + "client.key";
    c.clientKeyPassword = "tavrin-key-pass";
    c.untrustedClientCert = d + "untrusted.pem";
    c.untrustedClientKey = d + "untrusted.key";
    c.otherServerCert = d + "other-server.pem";
    c.otherServerKey = d + "other-server.key";
    c.stateHome = d + "state";
    const std::string days = "3650";

    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", d + "ca.key", "-out",
             c.caCert, "-days", days, "-subj", "/CN=Tavrin Test CA", "-addext",
             "basicConstraints=critical,CA:TRUE", "-addext",
             "keyUsage=critical,keyCertSign,cRLSign"});

    WriteWholeFile(d + "server.ext", "basicConstraints=CA:FALSE\n"
                                     "keyUsage=digitalSignature,keyEncipherment\n"
                                     "extendedKeyUsage=serverAuth\n"
                                     "subjectAltName=IP:127.0.0.1,IP:::1\n");
    Openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", c.serverKey, "-out",
             d + "server.csr", "-subj", "/CN=127.0.0.1"});
    Openssl({"x509", "-req", "-in", d + "server.csr", "-CA", c.caCert, "-CAkey", d + "ca.key",
             "-CAcreateserial", "-out", c.serverCert, "-days", days, "-extfile", d + "server.ext"});

    WriteWholeFile(d + "client.ext", "basicConstraints=CA:FALSE\n"
                                     "keyUsage=digitalSignature,keyEncipherment\n"
                                     "extendedKeyUsage=clientAuth\n");
    Openssl({"genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-aes-256-cbc",
             "-pass", "pass:" + c.clientKeyPassword, "-out", c.clientKey});
    Openssl({"req", "-new", "-key", c.clientKey, "-passin", "pass:" + c.clientKeyPassword, "-out",
             d + "client.csr", "-subj", "/CN=Tavrin Test Client"});
    Openssl({"x509", "-req", "-in", d + "client.csr", "-CA", c.caCert, "-CAkey", d + "ca.key",
             "-CAcreateserial", "-out", c.clientCert, "-days", days, "-extfile", d + "client.ext"});

    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", c.untrustedClientKey,
             "-out", c.untrustedClientCert, "-days", days, "-subj", "/CN=Untrusted Client"});
    Openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", c.otherServerKey, "-out",
             c.otherServerCert, "-days", days, "-subj", "/CN=127.0.0.1", "-addext",
             "subjectAltName=IP:127.0.0.1,IP:::1"});
    ::setenv("XDG_STATE_HOME", c.stateHome.c_str(), 1);
}

} // namespace

const TestCertificates& Certificates() {
    static CertificateFolder folder;
    static std::once_flag once;
    std::call_once(once, [] { MakeCertificates(folder.certs); });
    return folder.certs;
}

} // namespace testsrv
