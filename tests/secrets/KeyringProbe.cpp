#include "KeyringProbe.h"

#include "config/SettingsFile.h"
#include "secrets/KeyringSave.h"
#include "secrets/SecretSources.h"
#include "secrets/keyring/DesktopKeyring.h"
#include "servers/ChildProcess.h"

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <stdexcept>

using namespace tavrin;

namespace {

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

} // namespace

int RunKeyringProbe(const std::string& mode) {
    const std::string config = Variable("TAVRIN_SECRETS_PROBE_CONFIG");
    TDesktopKeyring keyring;
    if (mode == "start") {
        RConfiguration job = LoadRecord(TDirection::Import, config);
        const TSecretResolution result =
            ResolveSecrets("Import", job, SecretSourcesFromEnvironment(&keyring));
        std::cout << "password=" << job.Password << "\nsslpass=" << job.SSLPass << "\n";
        for (const std::string& problem : result.Problems)
            std::cout << "problem=" << problem << "\n";
        for (const std::string& note : result.Notes)
            std::cout << "note=" << note << "\n";
        return 0;
    }
    if (mode == "save") {
        RConfiguration shown;
        shown.Host = "127.0.0.1";
        shown.Password = Variable("TAVRIN_SECRETS_PROBE_VALUE");
        const TKeyringSave saved = SaveWithKeyring(
            TDirection::Import, [&shown](const TSettingKey& key) { return StoredText(shown, key); },
            config, &keyring, true);
        std::cout << "inkeyring=" << saved.InKeyring << "\n";
        if (!saved.Note.empty())
            std::cout << "note=" << saved.Note << "\n";
        return 0;
    }
    std::cerr << "unknown probe " << mode << "\n";
    return 2;
}

std::string RunProbeProcess(const std::string& mode, const std::string& config,
                            const std::string& value) {
    const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    const std::string output = testsrv::MakeTempDir("tavrin-probe-") + "/out";
    ::setenv(kProbeVariable, mode.c_str(), 1);
    ::setenv("TAVRIN_SECRETS_PROBE_CONFIG", config.c_str(), 1);
    ::setenv("TAVRIN_SECRETS_PROBE_VALUE", value.c_str(), 1);
    testsrv::ChildProcess probe({self}, output);
    ::unsetenv(kProbeVariable);
    ::unsetenv("TAVRIN_SECRETS_PROBE_CONFIG");
    ::unsetenv("TAVRIN_SECRETS_PROBE_VALUE");
    if (!probe.WaitExit(std::chrono::seconds(60)))
        throw std::runtime_error("the probe did not end");
    std::string printed = probe.Output();
    std::filesystem::remove_all(std::filesystem::path(output).parent_path());
    return printed;
}
