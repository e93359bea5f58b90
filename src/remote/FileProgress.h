#pragma once
// One file's progress as a monitor reports it: the session's byte reports while the file
// moves, and once the file's steps are over, how they ended. Without a receiver nothing is
// hooked into the session. The receiver may be emptied meanwhile (its owner went away):
// nothing is reported from then on.
#include "config/TransferProgress.h"
#include "remote/RemoteSession.h"

#include <exception>
#include <optional>
#include <string>

namespace tavrin::remote {

class TFileProgress {
public:
    // `total`: the size the monitor knows (the listing's, the local file's); without it the
    // session's own is used.
    TFileProgress(const TProgressEvent& receiver, TRemoteSession& session, std::string file,
                  bool upload, std::optional<uint64_t> total)
        : receiver_(receiver), session_(session) {
        report_.file = std::move(file);
        report_.upload = upload;
        report_.total = total;
        if (!receiver_)
            return;
        hooked_ = true;
        session_.SetOnTransferBytes([this](uint64_t done, std::optional<uint64_t> known) {
            report_.done = done;
            if (!report_.total)
                report_.total = known;
            if (receiver_)
                receiver_(report_);
        });
    }
    // A file whose steps were not all seen through (an exception on the way) failed.
    ~TFileProgress() {
        if (!hooked_)
            return;
        session_.SetOnTransferBytes({});
        if (!ended_) {
            try {
                End(false);
            } catch (const std::exception&) {
            }
        }
    }
    TFileProgress(const TFileProgress&) = delete;
    TFileProgress& operator=(const TFileProgress&) = delete;

    // The last report: Done when every step of the file succeeded, else Failed.
    void End(bool succeeded) {
        if (ended_ || !receiver_)
            return;
        ended_ = true;
        report_.phase = succeeded ? TTransferPhase::Done : TTransferPhase::Failed;
        receiver_(report_);
    }

private:
    const TProgressEvent& receiver_;
    TRemoteSession& session_;
    TTransferProgress report_;
    bool hooked_ = false;
    bool ended_ = false;
};

} // namespace tavrin::remote
