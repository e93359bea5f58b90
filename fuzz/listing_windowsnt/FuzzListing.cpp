// Any bytes as a listing for the TIdFTPLPWindowsNT parser.
#include "ListingFuzzInput.h"
#include "ftp/listing/IdFTPListParseWindowsNT.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Exercise(TIdFTPLPWindowsNT::Class(), fuzzinput::Lines(data, size));
    return 0;
}
