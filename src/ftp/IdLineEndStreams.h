#pragma once
// ASCII (TYPE A) transfers carry text with CR LF line ends; files here end lines with LF.
// These wrappers convert on the way: the writer turns CR LF into LF for a download, the
// reader turns LF into CR LF for an upload. Everything else passes byte for byte.
#include "ftp/IdStream.h"

// Writes into `target` with every CR LF made LF; a lone CR stays. Call Flush() at the end
// (a CR that ended the last chunk is held back until the next byte is known).
class TIdCrLfToLfWriter : public TIdStream {
public:
    explicit TIdCrLfToLfWriter(TIdStream& target) : target_(target) {}
    size_t Read(char*, size_t) override { return 0; }
    void Write(const char* data, size_t size) override;
    int64_t Position() const override { return target_.Position() + (pendingCr_ ? 1 : 0); }
    void SetPosition(int64_t position) override;
    int64_t Size() const override { return target_.Size(); }
    void Flush();

private:
    TIdStream& target_;
    bool pendingCr_ = false;
};

// Reads from `source` with every LF that does not follow a CR made CR LF, so text that
// already has CR LF line ends goes out unchanged.
class TIdLfToCrLfReader : public TIdStream {
public:
    explicit TIdLfToCrLfReader(TIdStream& source) : source_(source) {}
    size_t Read(char* buffer, size_t size) override;
    void Write(const char*, size_t) override;
    int64_t Position() const override { return source_.Position(); }
    void SetPosition(int64_t position) override;
    int64_t Size() const override { return source_.Size(); }

private:
    TIdStream& source_;
    bool lastWasCr_ = false;
    bool lfOwed_ = false; // a CR went out for an LF that did not fit into the last buffer
};
