#pragma once
// Where the password comes from when the command line says "-": $TAVRIN_PASSWORD when it is
// set, otherwise standard input, read without echo when it is a terminal. A password on the
// command line shows in every process listing; these two do not.
#include <string>

namespace tavrin::tool {

// `given` itself unless it is "-". Raises std::invalid_argument when nothing could be read.
std::string ResolvePassword(const std::string& given);

} // namespace tavrin::tool
