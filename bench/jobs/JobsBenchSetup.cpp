#include "JobsBenchSetup.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

namespace jobsbench {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr uint64_t kPayloadBytes = 64 * 1024;

std::string Numbered(const char* stem, int n) {
    char text[32];
    std::snprintf(text, sizeof text, "%s-%02d", stem, n);
    return text;
}

void WritePayload(const std::string& path) {
    // Written under a dot name and renamed, so nobody sees it half written.
    const fs::path final(path);
    std::string hiddenName = final.filename().string();
    hiddenName.insert(0, 1, '.');
    const fs::path hidden = final.parent_path() / hiddenName;
    {
        std::ofstream out(hidden, std::ios::binary | std::ios::trunc);
        out << std::string(kPayloadBytes, 'x');
    }
    ::chmod(hidden.c_str(), 0644);
    fs::rename(hidden, final);
}

bool Arrived(const std::string& path) {
    std::error_code error;
    return fs::file_size(path, error) == kPayloadBytes && !error;
}

} // namespace

TScene::TScene(std::string root_, int imports_, int exports_)
    : root(std::move(root_)), server(root + "/server"), local(root + "/local"),
      state(root + "/state"), config(root + "/MonitorConfig.ini"), imports(imports_),
      exports(exports_) {
    for (int i = 0; i < imports; ++i) {
        fs::create_directories(server + "/" + Numbered("in", i));
        fs::create_directories(local + "/" + Numbered("in", i));
    }
    for (int i = 0; i < exports; ++i) {
        fs::create_directories(server + "/" + Numbered("out", i));
        fs::create_directories(local + "/" + Numbered("out", i));
    }
    fs::create_directories(state);
}

void TScene::WriteSettings(uint16_t port, const std::string& user, const std::string& password,
                           bool stableFiles) const {
    std::ofstream out(config, std::ios::trunc);
    out << "[General]\nLogMonitor=1\nLogFileTransfer=1\nLogSSL=0\nLogVerbose=0\n";
    // vsftpd does not chroot here: folders are named relative to the login folder.
    auto server = [&] {
        out << "Host=127.0.0.1\nPort=" << port << "\nUsername=" << user << "\nPassword=" << password
            << "\nPassiveMode=1\nBinaryMode=1\n";
    };
    for (int i = 0; i < imports; ++i) {
        const std::string name = Numbered("in", i);
        out << "[Import:" << name << "]\n";
        server();
        out << "RemoteFolder=" << name << "\nLocalFolder=" << local << "/" << name
            << "\nKeepAlive=1\nCheckInterval=5\nWaitForStableFiles=" << (stableFiles ? 1 : 0)
            << "\n";
    }
    for (int i = 0; i < exports; ++i) {
        const std::string name = Numbered("out", i);
        out << "[Export:" << name << "]\n";
        server();
        out << "RemoteFolder=" << name << "\nLocalFolder=" << local << "/" << name << "\n";
    }
}

TArrivals DropAndWait(const TScene& scene, const std::string& tag,
                      const std::function<void(std::chrono::milliseconds)>& turn,
                      std::chrono::seconds limit) {
    const std::string file = "/" + tag + ".dat";
    std::vector<std::string> expected;
    for (int i = 0; i < scene.exports; ++i)
        expected.push_back(scene.server + "/" + Numbered("out", i) + file);
    for (int i = 0; i < scene.imports; ++i)
        expected.push_back(scene.local + "/" + Numbered("in", i) + file);

    const auto dropped = Clock::now();
    for (int i = 0; i < scene.exports; ++i)
        WritePayload(scene.local + "/" + Numbered("out", i) + file);
    for (int i = 0; i < scene.imports; ++i)
        WritePayload(scene.server + "/" + Numbered("in", i) + file);

    TArrivals result;
    result.seconds.assign(expected.size(), -1);
    while (result.arrived < static_cast<int>(expected.size()) && Clock::now() - dropped < limit) {
        for (size_t i = 0; i < expected.size(); ++i) {
            if (result.seconds[i] >= 0 || !Arrived(expected[i]))
                continue;
            result.seconds[i] = std::chrono::duration<double>(Clock::now() - dropped).count();
            ++result.arrived;
        }
        turn(std::chrono::milliseconds(20));
    }
    for (double& seconds : result.seconds)
        if (seconds < 0)
            seconds = static_cast<double>(limit.count());
    return result;
}

TProcessFigures ReadProcess(int pid) {
    TProcessFigures figures;
    const std::string base = "/proc/" + std::to_string(pid);
    std::ifstream statFile(base + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), {});
    // Fields after the command name (which may hold spaces), from field 3 on.
    const size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::vector<std::string> field;
        for (std::string f; fields >> f;)
            field.push_back(f);
        // utime and stime are fields 14 and 15 (11 and 12 here, counting from field 3).
        if (field.size() > 12) {
            const double ticks = std::stod(field[11]) + std::stod(field[12]);
            figures.cpuSeconds = ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
        }
    }
    std::ifstream status(base + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            figures.rssKiB = std::stol(line.substr(6));
        else if (line.rfind("VmHWM:", 0) == 0)
            figures.peakRssKiB = std::stol(line.substr(6));
    }
    return figures;
}

} // namespace jobsbench
