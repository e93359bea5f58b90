// One file of the import cycle: download under a hidden name, check it is whole, put it in
// place, delete it on the server when asked, move it out of the staging folder, register it.
#include "import/MonitorFTPUnit.h"

#include "base/IdException.h"
#include "config/LogSwitches.h"
#include "import/ImportTexts.h"
#include "import/ResumablePart.h"
#include "platform/FileSystem.h"
#include "remote/FileProgress.h"

#include <cerrno>
#include <cstdio>
#include <exception>
#include <mutex>
#include <sys/stat.h>

namespace {

using tavrin::importtext::OneLine;
using tavrin::importtext::Quoted;

[[noreturn]] void FailWithErrno(const std::string& what, const std::string& path) {
    throw EIdException(what + " " + Quoted(path) + ". " + tavrin::fs::SystemErrorText(errno));
}

// A transfer the server called complete that brought another byte count than the listing.
class EShortDelivery : public EIdException {
public:
    using EIdException::EIdException;
};

// Keeps this poller's claim on a name for as long as it is being fetched.
class TFetchClaim {
public:
    TFetchClaim(TSharedRegister& shared, const std::string& name, std::mutex& mutex)
        : shared_(shared), name_(name), mutex_(mutex) {
        std::lock_guard lock(mutex_);
        shared_.fetching.insert(name_);
    }
    ~TFetchClaim() {
        std::lock_guard lock(mutex_);
        shared_.fetching.erase(name_);
    }
    TFetchClaim(const TFetchClaim&) = delete;
    TFetchClaim& operator=(const TFetchClaim&) = delete;

private:
    TSharedRegister& shared_;
    std::string name_;
    std::mutex& mutex_;
};

} // namespace

void TFTPChecker::FetchEntry(tavrin::remote::TRemoteSession& session,
                             const tavrin::remote::TRemoteEntry& entry) {
    const std::string name = entry.name;
    // The cycle is in the remote folder already (it changed into it at login), so the bare
    // name is the path: "out" + "/" + name would point below the folder for a relative one.
    const std::string remotePath = RemotePathOf(name);
    const std::string& folder = config_.FirstToTemp ? config_.TempFolder : config_.LocalFolder;
    TFetchClaim claim(*register_, name, fetchMutex_);
    // Done once every step below went through; any return before that reports Failed.
    tavrin::remote::TFileProgress progress(onProgress_, session, name, false,
                                           entry.sizeKnown ? std::optional<uint64_t>(entry.size)
                                                           : std::nullopt);

    LogTransfer("Getting file " + Quoted(name));
    try {
        MakeFoldersFor(folder, name);
        DownloadWhole(session, entry, remotePath, folder + "/" + name);
    } catch (const std::exception& failure) {
        std::string nextTry;
        {
            std::lock_guard lock(fetchMutex_);
            nextTry = NextTryText(retries_.Failed(entry));
        }
        // The lines of one failure stay together among those of other files.
        std::lock_guard lines(linesMutex_);
        LogMessage(name + " is not a file or is demaged.", clRed);
        const std::string reason = OneLine(failure.what());
        LogMessage(reason.empty()
                       ? "Failed while fetching " + Quoted(name) + " from " + HostPort() + "."
                       : reason,
                   clRed);
        LogMessage("Next try of " + Quoted(name) + " " + nextTry + ".", clHotLight);
        return;
    }
    bool allSteps = true;
    if (config_.MoveDelete) {
        // With files in parallel the lines of different files mix: each then names its file.
        const std::string deleting = Parallel() ? "Deleting file " + Quoted(name) + " ..."
                                                : std::string("Deleting file ...");
        try {
            LogMessage(deleting, clHotLight);
            session.Delete(remotePath);
            LogMessage(deleting + " done", clHotLight);
        } catch (const std::exception& failure) {
            allSteps = false;
            const std::string reason = OneLine(failure.what());
            LogMessage(deleting + " error: " +
                           (reason.empty() ? "Failed while deleting " + Quoted(name) + " on " +
                                                 HostPort() + "."
                                           : reason),
                       clRed);
        }
    }
    if (config_.FirstToTemp && !MoveOutOfStaging(name))
        allSteps = false;
    LogTransfer("Getting file " + Quoted(name) + " done");
    Register(name);
    {
        std::lock_guard lock(fetchMutex_);
        retries_.Succeeded(name);
    }
    progress.End(allSteps);
}

void TFTPChecker::DownloadWhole(tavrin::remote::TRemoteSession& session,
                                const tavrin::remote::TRemoteEntry& entry,
                                const std::string& remotePath, const std::string& finalPath) {
    // The final name shows nothing until every byte is on disk and the server confirmed the
    // transfer: programs that pick files up from the import folder never see a piece of one,
    // and a local file of that name stays as it was until then.
    const size_t slash = finalPath.rfind('/');
    const std::string partial =
        PartialPath(finalPath.substr(0, slash), finalPath.substr(slash + 1));
    TResumablePart kept(partial, entry, config_.ResumeDownloads && config_.BinaryMode);
    bool serverResumes = false;
    try {
        serverResumes = kept.Wanted() && session.CanResume();
        const bool resume = kept.CanGoOn() && serverResumes;
        session.Download(remotePath, partial, resume);
        struct stat written {};
        if (::stat(partial.c_str(), &written) != 0)
            FailWithErrno("Cannot read the size of file", partial);
        // Only a binary transfer keeps the byte count; an ASCII one may change line ends.
        if (config_.BinaryMode && entry.sizeKnown && written.st_size != entry.size)
            throw EShortDelivery("Received " + std::to_string(written.st_size) + " of " +
                                 std::to_string(entry.size) + " bytes.");
        if (!tavrin::fs::SyncFile(partial))
            FailWithErrno("Cannot write file", partial);
        if (::rename(partial.c_str(), finalPath.c_str()) != 0)
            FailWithErrno("Cannot create file", finalPath);
        kept.Forget();
    } catch (...) {
        // A transfer that broke after some bytes keeps its part for the next try; any other
        // leftover would fill a nearly full disk for the files after.
        bool goOnLater = serverResumes;
        // After a refusal, a short delivery or a local write failure the server still follows
        // the conversation; after anything else (a cut, a stall, a dead server) the
        // connection is closed, so no half-dead one goes on into the next command.
        try {
            throw;
        } catch (const tavrin::remote::ERemoteRefused&) {
        } catch (const EShortDelivery&) {
            goOnLater = false; // the server called it complete: its count is not to be built on
        } catch (const tavrin::remote::ELocalFileFailed&) {
            // Our side failed (a full disk); the client ended the transfer with the server.
            goOnLater = false;
        } catch (...) {
            CloseAfterFailure(session);
        }
        kept.AfterFailure(goOnLater);
        throw;
    }
}

bool TFTPChecker::MoveOutOfStaging(const std::string& name) {
    const std::string from = config_.TempFolder + "/" + name;
    const std::string to = config_.LocalFolder + "/" + name;
    int error = 0;
    try {
        MakeFoldersFor(config_.LocalFolder, name);
    } catch (const std::exception& failure) {
        LogMessage(failure.what(), clRed); // the move below then says where the file stayed
    }
    // The file stays where it is when the move fails; the line says where to look.
    if (tavrin::fs::MoveFileNoReplace(from, to, error))
        return true;
    LogMessage("Cannot move file " + Quoted(from) + " to " + Quoted(to) + ". " +
                   tavrin::fs::SystemErrorText(error),
               clRed);
    return false;
}

void TFTPChecker::Register(const std::string& name) {
    {
        std::lock_guard lock(fetchMutex_);
        register_->names.Add(name);
    }
    // Outside the lock: names of fetches that end while a line is being written go to disk
    // together with the next write, each line whole.
    try {
        register_->appender.Append(name);
    } catch (const std::exception& failure) {
        LogMessage(OneLine(failure.what()), clRed);
    }
}
