#include "app/InstanceLock.h"

#include "config/dialog/MessageBoxes.h"

#include <cstdio>

std::optional<tavrin::TProgramLocks> LockOrExplain(QWidget* parent) {
    try {
        tavrin::TProgramLocks locks = tavrin::LockSettingsAndRegister();
        for (const std::string& warning : locks.warnings)
            std::fprintf(stderr, "tavrin: %s\n", warning.c_str());
        return locks;
    } catch (const tavrin::fs::EFileInUse& inUse) {
        tavrin::ShowErrorBox(parent, std::string("Tavrin is already running: ") + inUse.what() +
                                         ". Close it before starting another one.");
        return std::nullopt;
    }
}
