#pragma once
// The second process of the keyring tests: this test program started again with
// TAVRIN_SECRETS_PROBE set, on whatever session bus the environment names.
//   "start": resolves the Import job of TAVRIN_SECRETS_PROBE_CONFIG as a job start does, with
//            the desktop keyring, and prints password=, sslpass=, problem= and note= lines.
//   "save":  saves the Import job with "Keep passwords in the keyring", the password
//            TAVRIN_SECRETS_PROBE_VALUE, and prints inkeyring= and note= lines.
#include <chrono>
#include <string>

inline constexpr const char* kProbeVariable = "TAVRIN_SECRETS_PROBE";

int RunKeyringProbe(const std::string& mode);

// Starts this program as the probe and returns what it printed (bounded wait).
std::string RunProbeProcess(const std::string& mode, const std::string& config,
                            const std::string& value = "");
