// bench_sftp_transfer get|put HOST PORT USER KEYFILE KNOWN_HOSTS REMOTE LOCAL
// One file through TSftpSession and nothing else, so the benchmark that starts it can read
// the time and peak memory of our SFTP layer alone from its exit. The host key is trusted on
// first use into KNOWN_HOSTS (the user's own file is not read). Exit status 0 when the
// transfer went through, 1 with the reason on stderr when not.
#include "remote/sftp/SftpSession.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv) {
    if (argc != 9) {
        std::fprintf(stderr, "usage: %s get|put HOST PORT USER KEYFILE KNOWN_HOSTS REMOTE LOCAL\n",
                     argv[0]);
        return 2;
    }
    const std::string direction = argv[1];
    tavrin::sftp::TSftpSettings settings;
    settings.Host = argv[2];
    settings.Port = std::atoi(argv[3]);
    settings.Username = argv[4];
    settings.KeyFile = argv[5];
    settings.OwnKnownHosts = argv[6];
    const std::string remote = argv[7], local = argv[8];
    try {
        tavrin::sftp::TSftpSession session;
        session.Connect(settings);
        if (direction == "get")
            session.Download(remote, local);
        else
            session.Upload(local, remote);
        session.Close();
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "bench_sftp_transfer: %s\n", failure.what());
        return 1;
    }
    return 0;
}
