// tavrin-ftp's commands over SFTP, through the same remote session the monitors use.
#include "ProgressLine.h"
#include "ToolCommands.h"
#include "remote/sftp/SftpRemoteSession.h"

#include <cstdio>
#include <iostream>
#include <optional>

namespace tavrin::tool {

namespace {

using tavrin::remote::TRemoteEntry;
using tavrin::remote::TRemoteKind;
using tavrin::remote::TSftpRemoteSession;

const char* KindText(TRemoteKind kind) {
    switch (kind) {
    case TRemoteKind::Directory:
        return "dir";
    case TRemoteKind::File:
        return "file";
    case TRemoteKind::Link:
        return "link";
    default:
        return "other";
    }
}

void List(TSftpRemoteSession& session) {
    for (const TRemoteEntry& entry : session.List())
        std::printf("%-5s %12lld %s\n", KindText(entry.kind), static_cast<long long>(entry.size),
                    entry.name.c_str());
}

// Draws the progress line of one transfer while it runs, and leaves it finished.
class TTransferProgress {
public:
    TTransferProgress(TSftpRemoteSession& session, const std::string& label, int64_t total)
        : session_(session), line_(label, total) {
        session_.SetProgress([this](uint64_t done, uint64_t) {
            line_.Advance(static_cast<int64_t>(done - shown_));
            shown_ = done;
            return true;
        });
    }
    ~TTransferProgress() { session_.SetProgress({}); }
    void Finish() { line_.Finish(); }

private:
    TSftpRemoteSession& session_;
    TProgressLine line_;
    uint64_t shown_ = 0;
};

int64_t LocalSize(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return -1;
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    return size;
}

} // namespace

void RunSftpCommands(TSftpRemoteSession& session, const std::vector<std::string>& words,
                     size_t first, bool progress) {
    for (size_t i = first; i < words.size(); i += 1 + CommandArity(words[i])) {
        const std::string& command = words[i];
        const auto arg = [&](size_t n) { return words[i + n]; };
        if (command == "pwd") {
            std::cout << session.CurrentFolder() << "\n";
        } else if (command == "cd") {
            session.ChangeFolder(arg(1));
        } else if (command == "noop") {
            std::cout << session.KeepAlive().text << "\n";
        } else if (command == "ls") {
            List(session);
        } else if (command == "get") {
            std::optional<TTransferProgress> line;
            if (progress)
                line.emplace(session, arg(1), session.Size(arg(1)).value_or(-1));
            session.Download(arg(1), arg(2), false);
            if (line)
                line->Finish();
        } else if (command == "put") {
            std::optional<TTransferProgress> line;
            if (progress)
                line.emplace(session, arg(1), LocalSize(arg(1)));
            session.Upload(arg(1), arg(2));
            if (line)
                line->Finish();
        } else if (command == "rm") {
            session.Delete(arg(1));
        } else if (command == "mv") {
            session.Rename(arg(1), arg(2));
        }
    }
}

} // namespace tavrin::tool
