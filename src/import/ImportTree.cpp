// Subfolders of the import: the cycle's listing walks the remote tree below the folder it
// entered, and each file keeps its path relative to that folder ("sub/a.txt") as its name, in
// the register too. Remote folders are only entered and listed, never made or deleted.
#include "import/MonitorFTPUnit.h"

#include "config/LogSwitches.h"
#include "import/ImportTexts.h"
#include "platform/FileSystem.h"
#include "remote/RemotePaths.h"

#include <cerrno>

namespace {

using tavrin::importtext::OneLine;
using tavrin::importtext::Printable;
using tavrin::importtext::Quoted;
using tavrin::remote::TRemoteEntry;
using tavrin::remote::TRemoteKind;

// A folder still to be listed: its path below the import's folder, on the server, and depth.
struct TPendingFolder {
    std::string relative;
    std::string onServer;
    int depth;
};

} // namespace

std::string TFTPChecker::JoinOnServer(const std::string& folder, const std::string& name) {
    // The root "/" joined with the separator again would give "//name".
    if (!folder.empty() && (folder.back() == '/' || folder.back() == '\\'))
        return folder + name;
    return session_->PathJoin(folder, name);
}

std::vector<TRemoteEntry> TFTPChecker::ListForCycle() {
    if (!config_.Recursive)
        return session_->List();
    const std::string top = session_->CurrentFolder();
    std::vector<TRemoteEntry> files;
    std::vector<TPendingFolder> folders{{"", top, 0}};
    bool left = false;
    // Breadth first: files of the upper folders come first, as a person would expect.
    for (size_t next = 0; next < folders.size(); ++next) {
        const TPendingFolder folder = folders[next];
        std::vector<TRemoteEntry> entries;
        if (folder.relative.empty()) {
            entries = session_->List();
        } else {
            try {
                left = true;
                session_->ChangeFolder(folder.onServer);
                entries = session_->List();
            } catch (const tavrin::remote::ERemoteRefused& refused) {
                // One folder the server will not show must not keep the others from coming;
                // it is named again only after it could be listed in between.
                if (unusableNames_.FirstTime(folder.relative + "/"))
                    LogMessage("Folder " + Quoted(Printable(folder.relative)) +
                                   " is not listed: " + OneLine(refused.what()),
                               clRed);
                continue;
            }
        }
        for (TRemoteEntry& entry : entries) {
            if (entry.name.empty() || entry.name[0] == '.')
                continue; // hidden files and folders stay hidden at every level
            std::string relative =
                folder.relative.empty() ? entry.name : folder.relative + "/" + entry.name;
            if (entry.kind == TRemoteKind::Directory) {
                if (folder.depth < config_.MaxDepth && WhyNotUsable(relative).empty())
                    folders.push_back(
                        {relative, JoinOnServer(folder.onServer, entry.name), folder.depth + 1});
                continue;
            }
            entry.name = std::move(relative);
            files.push_back(std::move(entry));
        }
    }
    // Downloads name their files relative to the import's folder.
    if (left)
        session_->ChangeFolder(top);
    return files;
}

std::string TFTPChecker::WhyNotUsable(const std::string& name) const {
    if (!config_.Recursive)
        return WhyNotUsableHere(name);
    // Every part must be a plain name: no "..", no empty part, nothing hidden, so the path
    // stays below the folder on both sides.
    for (const std::string& part : tavrin::fs::PathSteps(name)) {
        if (part.empty() || part[0] == '.')
            return "a path with an empty, hidden or parent folder part";
        if (std::string why = WhyNotUsableHere(part); !why.empty())
            return why;
    }
    return {};
}

std::string TFTPChecker::RemotePathOf(const std::string& name) {
    if (!config_.Recursive)
        return name;
    return tavrin::remote::PathBelow(*session_, {}, name);
}

void TFTPChecker::MakeFoldersFor(const std::string& root, const std::string& name) {
    if (const std::string failed = tavrin::fs::MakeFoldersBelow(root, name); !failed.empty())
        throw EIdException("Cannot create folder " + Quoted(failed) + ". " +
                           tavrin::fs::SystemErrorText(errno));
}
