#pragma once
// The hidden name a download is written under until it is whole.
#include <string>

namespace tavrin::importpart {

// The longest file name (in bytes) the local file systems we write to accept.
constexpr size_t kNameMax = 255;

// ".NAME.part" when that fits kNameMax; otherwise "." + a 16-digit hash of the name + ".part",
// so the longest names a server can list still have a place to be written to. Always hidden,
// so programs that pick files up from the import folder pass it over.
std::string PartFileName(const std::string& name);

} // namespace tavrin::importpart
