#pragma once
// Server names this side cannot use as file names, and saying so once rather than at every
// cycle.
#include <string>
#include <unordered_set>

// Empty when the name can be a file in the import folder; otherwise why not. "folder +
// separator + name" must stay inside the folder on both sides: a path separator of either
// kind (the remote one depends on the server), a line break or NUL (they end a command or a C
// string), or more bytes than a file name may have here.
std::string WhyNotUsableHere(const std::string& name);

// Remembers which names were already reported while they stay listed.
class TNamesReported {
public:
    // True the first time the name is seen since it last was missing from a listing.
    bool FirstTime(const std::string& name);
    void EndListing();

private:
    std::unordered_set<std::string> reported_, listed_;
};
