// Any bytes as the first text line of a PASV reply. A port part that is no number raising the
// conversion error is an expected result; anything else that escapes, a port outside the TCP
// range other than the refused -1, and every sanitizer report is a finding.
#include "base/IdException.h"
#include "ftp/IdFTP.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    std::string host;
    int port = 0;
    try {
        tavrin::ftp::ParsePasvReply(line, host, port);
    } catch (const EConvertError&) {
        return 0;
    }
    if (port < -1 || port > 65535)
        __builtin_trap();
    return 0;
}
