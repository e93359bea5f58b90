// Any bytes as a listing for the TIdFTPLPMList parser.
#include "ListingFuzzInput.h"
#include "ftp/listing/IdFTPListParseMList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzinput::Exercise(TIdFTPLPMList::Class(), fuzzinput::Lines(data, size));
    return 0;
}
