#include "config/dialog/JobStore.h"

#include "base/IdException.h"

namespace tavrin {

std::vector<TStoredJob> ReadNamedJobs(const std::string&) {
    return {};
}

void SaveJobRecord(TDirection, const std::string& section, const RConfiguration&,
                   const std::string&) {
    throw EIdException("Cannot save " + section);
}

void RemoveJobFromFile(const std::string& section, const std::string&) {
    throw EIdException("Cannot remove " + section);
}

void RenameJobInFile(const std::string& from, const std::string&, const std::string&) {
    throw EIdException("Cannot rename " + from);
}

} // namespace tavrin
