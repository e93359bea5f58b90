// Any bytes as what a server sends on the control connection: split into lines the way the
// line reader does (LF ends a line, a CR before it is dropped), framed into replies the way
// ReadReply does, and loaded into TIdReplyFTP. A code that is not valid raising is an expected
// result; anything else that escapes, every broken invariant and every sanitizer report is a
// finding.
#include "base/IdException.h"
#include "base/StrUtils.h"
#include "ftp/IdReplyFTP.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Lines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c != '\n') {
            current.push_back(c);
            continue;
        }
        if (!current.empty() && current.back() == '\r')
            current.pop_back();
        lines.push_back(std::move(current));
        current.clear();
    }
    return lines; // a last line without LF never arrives
}

void Check(const TIdReplyFTP& reply, size_t lineCount) {
    const int code = reply.NumericCode();
    if (!TIdReplyFTP::IsValidCode(reply.Code()) || (code != 0 && (code < 100 || code > 999)))
        __builtin_trap();
    if (reply.Text().size() != lineCount)
        __builtin_trap();
    (void)reply.FormattedReply();
    (void)reply.JoinedText();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::vector<std::string> lines = Lines(data, size);
    size_t next = 0;
    while (next < lines.size()) {
        // Blank lines before a reply are passed over; its first line is kept trimmed.
        std::string first = tavrin::Trim(lines[next++]);
        while (first.empty() && next < lines.size())
            first = tavrin::Trim(lines[next++]);
        if (first.empty())
            break;
        std::vector<std::string> reply{first};
        while (!TIdReplyFTP::IsLastReplyLine(reply.back()) && next < lines.size())
            reply.push_back(lines[next++]);
        TIdReplyFTP loaded;
        try {
            loaded.LoadReplyLines(reply);
        } catch (const EIdException&) {
            continue; // "Reply Code is not valid: ..."
        }
        Check(loaded, reply.size());
    }
    return 0;
}
