// The keyring needs an application object and its event loop. The same program, started with
// TAVRIN_SECRETS_PROBE set, is the "new process" of the keyring tests instead (KeyringProbe).
#include "KeyringProbe.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (const char* probe = std::getenv(kProbeVariable))
        return RunKeyringProbe(probe);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
