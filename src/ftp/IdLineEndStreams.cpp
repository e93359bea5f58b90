#include "ftp/IdLineEndStreams.h"

#include "base/IdException.h"

#include <string>

void TIdCrLfToLfWriter::Write(const char* data, size_t size) {
    std::string out;
    out.reserve(size + 1);
    for (size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (pendingCr_) {
            pendingCr_ = false;
            if (c != '\n')
                out += '\r'; // a lone CR is data
        }
        if (c == '\r')
            pendingCr_ = true;
        else
            out += c;
    }
    if (!out.empty())
        target_.Write(out.data(), out.size());
}

void TIdCrLfToLfWriter::SetPosition(int64_t position) {
    pendingCr_ = false;
    target_.SetPosition(position);
}

void TIdCrLfToLfWriter::Flush() {
    if (pendingCr_) {
        pendingCr_ = false;
        target_.Write("\r", 1);
    }
}

size_t TIdLfToCrLfReader::Read(char* buffer, size_t size) {
    size_t filled = 0;
    if (lfOwed_ && size > 0) {
        buffer[filled++] = '\n';
        lfOwed_ = false;
        lastWasCr_ = false;
    }
    // Read at most half of what is left, so that every LF has room for its CR.
    std::string chunk((size - filled) / 2 + 1, '\0');
    while (filled < size) {
        const size_t room = (size - filled + 1) / 2;
        const size_t count = source_.Read(chunk.data(), room);
        if (count == 0)
            break;
        for (size_t i = 0; i < count; ++i) {
            const char c = chunk[i];
            if (c == '\n' && !lastWasCr_) {
                buffer[filled++] = '\r';
                if (filled == size) {
                    lfOwed_ = true;
                    return filled;
                }
            }
            buffer[filled++] = c;
            lastWasCr_ = c == '\r';
        }
    }
    return filled;
}

void TIdLfToCrLfReader::Write(const char*, size_t) {
    throw EIdException("The upload source can not be written");
}

void TIdLfToCrLfReader::SetPosition(int64_t position) {
    lastWasCr_ = false;
    lfOwed_ = false;
    source_.SetPosition(position);
}
