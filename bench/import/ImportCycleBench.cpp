// What a poll cycle costs when there is nothing to fetch: a server folder of 100,000 files,
// every one of them registered. Measured in alternating rounds against vsftpd on 127.0.0.1:
// the whole cycle (login, CWD, PWD, LIST, 100,000 lookups, QUIT), the LIST transfer alone on
// our client, and curl fetching the same listing (its own login included).
#include "config/LogSwitches.h"
#include "ftp/IdFTP.h"
#include "ftp/listing/IdFTPList.h"
#include "import/MonitorFTPUnit.h"
#include "servers/RealServers.h"

#include <QCoreApplication>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int files = argc > 1 ? std::atoi(argv[1]) : 100000;
    const int rounds = 5;

    char pattern[] = "/tmp/tavrin-import-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string root = pattern;
    const std::string served = root + "/server", local = root + "/local";
    const std::string registerPath = root + "/LocalFileList.txt";
    ::mkdir(served.c_str(), 0755);
    ::mkdir(local.c_str(), 0755);
    std::ofstream registerFile(registerPath, std::ios::binary);
    for (int i = 0; i < files; ++i) {
        const std::string name = "incoming-" + std::to_string(i) + ".dat";
        int fd = ::open((served + "/" + name).c_str(), O_CREAT | O_WRONLY, 0644);
        if (fd >= 0)
            ::close(fd);
        registerFile << name << "\r\n";
    }
    registerFile.close();

    int status = 0;
    {
        testsrv::VsftpdServer server({served});
        RConfiguration config;
        config.Host = "127.0.0.1";
        config.Port = std::to_string(server.Port());
        config.Username = server.User();
        config.Password = server.Password();
        config.PassiveMode = true;
        config.BinaryMode = true;
        config.LocalFolder = local;
        config.CheckInterval = 3600;
        LogVerbose = false;

        const std::string curl = "curl -s -o /dev/null --max-time 120 ftp://" + server.User() +
                                 ":" + server.Password() +
                                 "@127.0.0.1:" + std::to_string(server.Port()) + "/";
        std::vector<double> cycle, list, parse, lookups, viaCurl;
        size_t lines = 0, fetched = 0;
        for (int round = 0; round < rounds; ++round) {
            {
                TMonitorFTP monitor(config, nullptr, registerPath);
                Clock::time_point start = Clock::now();
                monitor.Checker().PollCycle();
                cycle.push_back(Seconds(start));
                fetched += monitor.Checker().LocalFileList().Count() - files;
            }
            {
                TIdFTP client;
                client.SetHost("127.0.0.1");
                client.SetPort(server.Port());
                client.SetUsername(server.User());
                client.SetPassword(server.Password());
                client.SetPassive(true);
                client.Connect();
                std::vector<std::string> listing;
                Clock::time_point start = Clock::now();
                client.ListDirectory(&listing, "", true);
                list.push_back(Seconds(start));
                lines = listing.size();
                start = Clock::now();
                TIdFTPListItems& entries = client.DirectoryEntries();
                parse.push_back(Seconds(start));
                TDownloadedFilesRegister reg;
                reg.LoadIfPresent(registerPath);
                size_t known = 0;
                start = Clock::now();
                for (size_t i = 0; i < entries.Count(); ++i)
                    known += reg.Contains(entries[i].Name());
                lookups.push_back(Seconds(start));
                if (known != static_cast<size_t>(files))
                    std::printf("only %zu of the listed names are registered\n", known);
                client.Disconnect();
            }
            Clock::time_point start = Clock::now();
            status |= std::system(curl.c_str());
            viaCurl.push_back(Seconds(start));
        }
        const double c = Median(cycle), l = Median(list), u = Median(viaCurl);
        std::printf("files on the server: %d (listing lines: %zu), fetched: %zu, rounds: %d\n",
                    files, lines, fetched, rounds);
        std::printf("whole poll cycle:        %8.1f ms (median)\n", c * 1000);
        std::printf("LIST transfer alone:     %8.1f ms (median, our client)\n", l * 1000);
        std::printf("  parsing the listing:   %8.1f ms (median, detection)\n",
                    Median(parse) * 1000);
        std::printf("  register lookups:      %8.1f ms (median)\n", Median(lookups) * 1000);
        std::printf("curl listing (w/ login): %8.1f ms (median)\n", u * 1000);
        std::printf("cycle / curl:            %8.2f (goal <= 1.20)\n", c / u);
        std::printf("share of the cycle outside the LIST transfer: %.1f %%\n", 100.0 * (c - l) / c);
        if (status != 0)
            std::printf("curl failed (status %d)\n", status);
    }
    std::string command = "rm -rf '" + root + "'";
    status |= std::system(command.c_str());
    return status == 0 ? 0 : 1;
}
