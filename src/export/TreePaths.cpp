#include "export/TreePaths.h"

#include "platform/FileSystem.h"

#include <vector>

namespace {

// The steps of a relative path: "sub/deeper/a.txt" gives "sub", "deeper", "a.txt".
std::vector<std::string> StepsOf(const std::string& relative) {
    std::vector<std::string> steps;
    size_t start = 0;
    for (;;) {
        const size_t end = relative.find('/', start);
        steps.push_back(relative.substr(start, end - start));
        if (end == std::string::npos)
            return steps;
        start = end + 1;
    }
}

} // namespace

std::string RemotePathBelow(tavrin::remote::TRemoteSession& session, const std::string& base,
                            const std::string& relative) {
    std::string path = base;
    for (const std::string& step : StepsOf(relative))
        path = session.PathJoin(path, step);
    return path;
}

void MakeRemoteFolders(tavrin::remote::TRemoteSession& session, const std::string& base,
                       const std::string& relative) {
    const std::vector<std::string> steps = StepsOf(relative);
    std::string path = base;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        path = session.PathJoin(path, steps[i]);
        if (session.KnownFolders().count(path) != 0)
            continue;
        try {
            session.MakeFolder(path);
        } catch (const tavrin::remote::ERemoteRefused&) {
            // There already, most likely; if not, the upload into it says why.
        }
        session.KnownFolders().insert(path);
    }
}

bool MakeLocalFolders(const std::string& base, const std::string& relative) {
    const std::vector<std::string> steps = StepsOf(relative);
    std::string path = base;
    bool made = tavrin::fs::DirectoryExists(path) || tavrin::fs::CreateDir(path);
    for (size_t i = 0; made && i + 1 < steps.size(); ++i) {
        path += "/" + steps[i];
        made = tavrin::fs::DirectoryExists(path) || tavrin::fs::CreateDir(path);
    }
    return made;
}
