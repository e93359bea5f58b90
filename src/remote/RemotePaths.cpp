#include "remote/RemotePaths.h"

#include "platform/FileSystem.h"

#include <vector>

namespace tavrin::remote {

std::string PathBelow(TRemoteSession& session, const std::string& base,
                      const std::string& relative) {
    std::string path = base;
    for (const std::string& step : fs::PathSteps(relative))
        path = session.PathJoin(path, step);
    return path;
}

void MakeFoldersBelow(TRemoteSession& session, const std::string& base,
                      const std::string& relative) {
    const std::vector<std::string> steps = fs::PathSteps(relative);
    std::string path = base;
    for (size_t i = 0; i + 1 < steps.size(); ++i) {
        path = session.PathJoin(path, steps[i]);
        if (session.KnownFolders().count(path) != 0)
            continue;
        try {
            session.MakeFolder(path);
        } catch (const ERemoteRefused&) {
            // There already, most likely; if not, the upload into it says why.
        }
        session.KnownFolders().insert(path);
    }
}

} // namespace tavrin::remote
