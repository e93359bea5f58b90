#pragma once
// The commands tavrin-ftp runs on its one connection, and the progress line of get and put.
#include <string>
#include <vector>

class TIdFTP;
namespace tavrin::remote {
class TSftpRemoteSession;
}

namespace tavrin::tool {

// False (the reason in `error`) for a word that is no command or a command whose arguments
// are missing, so a typing error fails before anything is sent.
bool CheckCommands(const std::vector<std::string>& words, size_t first, std::string& error);

// Runs the commands from `first` on, in order; a failure raises and ends the run.
// `progress`: get and put draw a progress line on standard error.
void RunCommands(TIdFTP& ftp, const std::vector<std::string>& words, size_t first, bool progress);
// The same commands over SFTP; "noop" sends an SSH keep-alive.
void RunSftpCommands(tavrin::remote::TSftpRemoteSession& session,
                     const std::vector<std::string>& words, size_t first, bool progress);

// How many arguments a command takes (the words were checked by CheckCommands).
size_t CommandArity(const std::string& command);

} // namespace tavrin::tool
