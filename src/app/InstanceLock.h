#pragma once
// The window takes the same locks as the service before it opens: a second window (or a
// window beside a running service) on the same settings file or register would fetch the
// same files and upload them twice.
#include "config/ConfigPaths.h"

#include <optional>

class QWidget;

// The locks, or nothing after an error box that says which process holds them; the program
// then ends with status 2.
std::optional<tavrin::TProgramLocks> LockOrExplain(QWidget* parent);
