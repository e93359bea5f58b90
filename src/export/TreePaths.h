#pragma once
// A file below a subfolder of an export's folder goes to the same relative folder on the
// server (and under the temp folder there), and once sent under the same relative folder of
// the folder it is moved to. Relative paths are '/'-separated; a bare name has no folders.
#include "remote/RemoteSession.h"

#include <string>

// `relative` below `base` in the server's own path form; a bare name gives what PathJoin
// gives.
std::string RemotePathBelow(tavrin::remote::TRemoteSession& session, const std::string& base,
                            const std::string& relative);

// Makes the folders of `relative` below `base` one level at a time, each one only once per
// session. A refused folder counts as there: FTP servers refuse an existing folder and a real
// failure alike, and the transfer that follows names the real failure. A broken connection
// raises.
void MakeRemoteFolders(tavrin::remote::TRemoteSession& session, const std::string& base,
                       const std::string& relative);

// Makes the missing folders of `relative` below the local folder `base` (and `base` itself);
// false when one of them cannot be made.
bool MakeLocalFolders(const std::string& base, const std::string& relative);
