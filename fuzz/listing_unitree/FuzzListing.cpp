// Any bytes as a listing for the TIdFTPLPUnitree parser.
#include "ListingFuzzInput.h"
#include "ftp/listing/IdFTPListParseUnitree.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Exercise(TIdFTPLPUnitree::Class(), fuzzinput::Lines(data, size));
    return 0;
}
