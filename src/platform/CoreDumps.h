#pragma once
// Passwords and key passphrases live in this process's memory (the settings dialog's fields,
// the jobs' logins): a crash must not write them to a core file that others may read.

namespace tavrin::platform {

// No core file from here on, and no other process of the user may attach and read our
// memory. Returns false when the system refused (the program goes on without).
bool KeepMemoryOutOfCoreDumps();

} // namespace tavrin::platform
