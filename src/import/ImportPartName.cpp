#include "import/ImportPartName.h"

#include <cstdint>
#include <cstdio>

namespace tavrin::importpart {

std::string PartFileName(const std::string& name) {
    std::string plain = "." + name + ".part";
    if (plain.size() <= kNameMax)
        return plain;
    // FNV-1a: stable from run to run, so a piece left by a crash is found and replaced by the
    // next download of the same name.
    uint64_t hash = 1469598103934665603ull;
    for (unsigned char c : name)
        hash = (hash ^ c) * 1099511628211ull;
    char digits[17];
    std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
    return "." + std::string(digits) + ".part";
}

} // namespace tavrin::importpart
