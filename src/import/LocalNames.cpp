#include "import/LocalNames.h"

#include "import/ImportPartName.h"

std::string WhyNotUsableHere(const std::string& name) {
    if (name.find_first_of("/\\") != std::string::npos)
        return "a name with a path separator";
    if (name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
        return "a name with a line break or NUL";
    if (name.size() > tavrin::importpart::kNameMax)
        return "a name longer than " + std::to_string(tavrin::importpart::kNameMax) + " bytes";
    return {};
}

bool TNamesReported::FirstTime(const std::string& name) {
    listed_.insert(name);
    return reported_.insert(name).second;
}

void TNamesReported::EndListing() {
    for (auto it = reported_.begin(); it != reported_.end();)
        it = listed_.count(*it) ? std::next(it) : reported_.erase(it);
    listed_.clear();
}
