// Any bytes as a listing for the TIdFTPLPNList parser.
#include "ListingFuzzInput.h"
#include "ftp/listing/IdFTPListParseNList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Exercise(TIdFTPLPNList::Class(), fuzzinput::Lines(data, size));
    return 0;
}
