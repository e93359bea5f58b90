// Any bytes as a listing through the registry, as the client parses a LIST reply; the first
// byte chooses detailed or bare names.
#include "ListingFuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::PinClock();
    const bool detailed = size == 0 || (data[0] & 1) == 0;
    const auto lines = fuzzinput::Lines(data, size);
    TIdFTPListItems entries;
    std::string ident;
    TIdFTPListParseClass parser = nullptr;
    const bool found = ParserRegistry().DetectAndParse(lines, entries, ident, detailed, "", parser);
    if (found != (parser != nullptr) || (parser && parser->FormatIdent() != ident))
        __builtin_trap();
    if (!found && entries.Count() != 0)
        __builtin_trap();
    ParserRegistry().ParseWithFormat(lines, entries, "MLST");
    return 0;
}
