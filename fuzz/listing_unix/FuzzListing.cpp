// Any bytes as a listing for the TIdFTPLPUnix parser.
#include "ListingFuzzInput.h"
#include "ftp/listing/IdFTPListParseUnix.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Exercise(TIdFTPLPUnix::Class(), fuzzinput::Lines(data, size));
    return 0;
}
