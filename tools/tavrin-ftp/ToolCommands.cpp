#include "ToolCommands.h"

#include "ProgressLine.h"
#include "ftp/IdFTP.h"
#include "ftp/IdStream.h"
#include "ftp/listing/IdFTPList.h"
#include "platform/FileSystem.h"

#include <cstdio>
#include <iostream>
#include <map>

namespace tavrin::tool {

namespace {

const std::map<std::string, size_t>& Arity() {
    static const std::map<std::string, size_t> arity = {{"pwd", 0}, {"cd", 1},  {"noop", 0},
                                                        {"ls", 0},  {"get", 2}, {"put", 2},
                                                        {"rm", 1},  {"mv", 2}};
    return arity;
}

const char* KindText(EntryKind kind) {
    switch (kind) {
    case ekDirectory:
        return "dir";
    case ekFile:
        return "file";
    case ekSymbolicLink:
    case ekSymbolicLinkDir:
        return "link";
    default:
        return "other";
    }
}

void List(TIdFTP& ftp) {
    ftp.ListDirectory(nullptr, "", true);
    TIdFTPListItems& entries = ftp.DirectoryEntries();
    for (size_t e = 0; e < entries.Count(); ++e) {
        const TIdFTPListItem& item = entries[e];
        std::printf("%-5s %12lld %s\n", KindText(item.Kind()),
                    static_cast<long long>(item.ByteSize()), item.Name().c_str());
    }
}

// The size SIZE reports, or -1: only for the progress line, so any refusal is fine.
int64_t RemoteSize(TIdFTP& ftp, const std::string& remote) {
    if (ftp.SendCommand("SIZE " + remote) != 213 || ftp.LastReply().Text().empty())
        return -1;
    const std::string& text = ftp.LastReply().Text()[0];
    try {
        return std::stoll(text.substr(text.find_last_of(' ') + 1));
    } catch (const std::exception&) {
        return -1;
    }
}

void GetWithProgress(TIdFTP& ftp, const std::string& remote, const std::string& local) {
    TProgressLine line(remote, RemoteSize(ftp, remote));
    // As a plain get does: the local file is made anew.
    if (fs::FileExists(local))
        fs::DeleteFile(local);
    TIdFileStream file(local, TIdFileStream::Mode::Create);
    TCountingStream counted(file, line);
    ftp.DownloadToStream(remote, counted, false);
    file.Close();
    line.Finish();
}

void PutWithProgress(TIdFTP& ftp, const std::string& local, const std::string& remote) {
    TIdFileStream file(local, TIdFileStream::Mode::OpenRead);
    TProgressLine line(local, file.Size());
    TCountingStream counted(file, line);
    ftp.UploadFromStream(counted, remote, false);
    line.Finish();
}

} // namespace

size_t CommandArity(const std::string& command) {
    return Arity().at(command);
}

bool CheckCommands(const std::vector<std::string>& words, size_t first, std::string& error) {
    for (size_t i = first; i < words.size();) {
        const auto arity = Arity().find(words[i]);
        if (arity == Arity().end()) {
            error = "unknown command " + words[i];
            return false;
        }
        if (i + arity->second >= words.size()) {
            error = "missing argument for " + words[i];
            return false;
        }
        i += 1 + arity->second;
    }
    return true;
}

void RunCommands(TIdFTP& ftp, const std::vector<std::string>& words, size_t first, bool progress) {
    for (size_t i = first; i < words.size(); i += 1 + Arity().at(words[i])) {
        const std::string& command = words[i];
        const auto arg = [&](size_t n) { return words[i + n]; };
        if (command == "pwd") {
            std::cout << ftp.QueryCurrentDirectory() << "\n";
        } else if (command == "cd") {
            ftp.ChangeDirectory(arg(1));
        } else if (command == "noop") {
            ftp.SendNoop();
            std::cout << ftp.LastReply().JoinedText();
        } else if (command == "ls") {
            List(ftp);
        } else if (command == "get") {
            if (progress)
                GetWithProgress(ftp, arg(1), arg(2));
            else
                ftp.DownloadFile(arg(1), arg(2), true, false);
        } else if (command == "put") {
            if (progress)
                PutWithProgress(ftp, arg(1), arg(2));
            else
                ftp.UploadFile(arg(1), arg(2), false);
        } else if (command == "rm") {
            ftp.DeleteRemoteFile(arg(1));
        } else if (command == "mv") {
            ftp.RenameRemoteFile(arg(1), arg(2));
        }
    }
}

} // namespace tavrin::tool
