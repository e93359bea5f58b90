#pragma once
// Relative paths below a server folder: a file below a subfolder of a job's folder keeps its
// relative folder on the server. Relative paths are '/'-separated; a bare name has no folders.
#include "remote/RemoteSession.h"

#include <string>

namespace tavrin::remote {

// `relative` below `base` in the server's own path form, one step at a time; an empty base
// starts from the current folder, and a bare name gives what PathJoin gives.
std::string PathBelow(TRemoteSession& session, const std::string& base,
                      const std::string& relative);

// Makes the folders of `relative` below `base` one level at a time, each one only once per
// session. A refused folder counts as there: FTP servers refuse an existing folder and a real
// failure alike, and the transfer that follows names the real failure. A broken connection
// raises.
void MakeFoldersBelow(TRemoteSession& session, const std::string& base,
                      const std::string& relative);

} // namespace tavrin::remote
