#pragma once
// A download's hidden part kept after the transfer broke, so the next try asks the server for
// the rest (REST) instead of all of it again. Beside the part a small stamp file holds the
// size and time the listing showed for the server file then; the part is used again only
// while the listing still shows the very same, so bytes of two versions of a file never meet.
// The stamp is an ordinary file, so a kept part survives a restart of the program. The final
// size check after the download still decides whether the file is whole.
#include <cstdint>
#include <string>

namespace tavrin::remote {
struct TRemoteEntry;
}

class TResumablePart {
public:
    // `partPath`: where the download is written. `entry`: the server file as listed now.
    // `enabled`: resumed downloads are switched on and the transfer is binary (an ASCII
    // transfer changes line ends, so byte offsets on the two sides differ).
    TResumablePart(std::string partPath, const tavrin::remote::TRemoteEntry& entry, bool enabled);
    TResumablePart(const TResumablePart&) = delete;
    TResumablePart& operator=(const TResumablePart&) = delete;

    // A kept part could be used at all: enabled, and the listing gives size and time.
    bool Wanted() const { return wanted_; }
    // A part of this same server file is there to go on from. When not, a stamp left from
    // an earlier version is already gone, so the download starts over.
    bool CanGoOn() const { return goOn_; }

    // After a failed download: the part stays, stamped with the listing's size and time, when
    // the server can go on from an offset (`serverCanResume`) and this try brought new bytes
    // but not all of them; otherwise part and stamp go. Never raises.
    void AfterFailure(bool serverCanResume) noexcept;
    // After a whole download: the stamp goes (the part has become the file). Never raises.
    void Forget() noexcept;

    // The stamp file of a part: "<part>.resume" beside it, or a hashed name where that would
    // exceed the longest file name.
    static std::string StampPath(const std::string& partPath);

private:
    bool StampMatches() const;
    void RemoveBoth() noexcept;

    std::string part_, stamp_;
    bool wanted_ = false, goOn_ = false;
    int64_t listedSize_ = 0;
    double listedTime_ = 0; // as in TRemoteEntry::modified
    int64_t sizeBefore_ = 0;
};
