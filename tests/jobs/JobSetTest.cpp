// Jobs started, stopped and restarted as the window and the service do it: a start that
// cannot work is refused with every reason, each job has its own prefix and register, a stop
// ends the job's transfers within 5 s whatever it is doing, and a restart during a busy cycle
// loses no name and fetches nothing twice.
#include "JobTestSupport.h"

#include "base/IdException.h"
#include "servers/ChildProcess.h"
#include "servers/FaultyFtpdServer.h"
#include "servers/ScriptedFtpServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace std::chrono_literals;
using namespace jobtest;
using tavrin::jobs::TJob;
using tavrin::jobs::TJobKind;
using tavrin::jobs::TJobSet;
using tavrin::jobs::TJobState;

namespace {

std::string Bytes(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7) % 251);
    return bytes;
}

void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

size_t CountOf(const std::vector<std::string>& all, const std::string& item) {
    return static_cast<size_t>(std::count(all.begin(), all.end(), item));
}

TEST(JobSet, StartsWhatCanWorkAndRefusesWhatCannotWithEveryReason) {
    Scratch scratch;
    const std::string ownRegister = scratch.state + "/inbox-register.txt";
    std::filesystem::create_directories(scratch.state + "/a-folder");
    struct Row {
        const char* what;
        TJobKind kind;
        std::string settings;
        std::string registerPath;
        TJobState after;                  // after Start
        std::vector<std::string> reasons; // in LastError
        bool refused;                     // EJobRefused rather than the monitor's own failure
    } rows[] = {
        {"first start, no settings",
         TJobKind::Import,
         "",
         "",
         TJobState::FailedToStart,
         {"Host is empty", "Import folder is not set"},
         true},
        {"port no number",
         TJobKind::Import,
         "[Import]\nHost=127.0.0.1\nPort=21x\nLocalFolder=" + scratch.local + "\n",
         "",
         TJobState::FailedToStart,
         {"'21x' is not a valid integer value"},
         true},
        {"register is a folder",
         TJobKind::Import,
         ImportSection(21, scratch.local),
         scratch.state + "/a-folder",
         TJobState::FailedToStart,
         {"Cannot open file"},
         false},
        {"export folder gone",
         TJobKind::Export,
         ExportSection(21, scratch.root + "/gone"),
         "",
         TJobState::FailedToStart,
         {"does not exist"},
         true},
        {"import that can work",
         TJobKind::Import,
         ImportSection(21, scratch.local, "KeepAlive=0\nCheckInterval=0\n"),
         ownRegister,
         TJobState::Running,
         {},
         false},
        {"export that can work",
         TJobKind::Export,
         ExportSection(21, scratch.exported),
         "",
         TJobState::Running,
         {},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        scratch.WriteSettings(row.settings);
        SharedLog log;
        const std::string name = row.kind == TJobKind::Import ? "Inbox" : "Outbox";
        TJobSet jobs({{name, row.kind, row.registerPath}}, scratch.settings, log.Sink());
        TJob& job = *jobs.Find(name);
        bool refused = false, failed = false;
        try {
            jobs.Start(job);
        } catch (const tavrin::jobs::EJobRefused&) {
            refused = true;
        } catch (const std::exception&) {
            failed = true;
        }
        EXPECT_EQ(job.State(), row.after);
        EXPECT_EQ(refused, row.refused);
        EXPECT_EQ(failed, row.after == TJobState::FailedToStart && !row.refused);
        for (const std::string& reason : row.reasons)
            EXPECT_NE(job.LastError().find(reason), std::string::npos) << job.LastError();
        if (row.after != TJobState::Running) {
            EXPECT_TRUE(log.Lines().empty());
            continue;
        }
        EXPECT_TRUE(job.LastError().empty());
        jobs.Start(job); // a second start of a running job does nothing
        bool stopped = false;
        jobs.Stop(job, [&] { stopped = true; });
        EXPECT_EQ(job.State(), TJobState::Stopping);
        ASSERT_TRUE(WaitFor([&] { return stopped; }));
        EXPECT_EQ(job.State(), TJobState::Stopped);
        EXPECT_EQ(log.Lines(), (std::vector<std::string>{name + " > Monitor started",
                                                         name + " > Monitor closed"}));
        if (row.kind == TJobKind::Import) {
            EXPECT_TRUE(std::filesystem::exists(ownRegister)) << "saved at the stop";
        }
    }
}

// Whatever the job waits on, its stop (the user's, or the program's end) is over within 5 s,
// the register is saved and the last line is the job's "Monitor closed".
TEST(JobStop, EndsTheJobsTransfersWithinFiveSecondsInEveryState) {
    enum class Doing { IdleConnected, ListingStalled, DownloadStalled, UploadStalled };
    struct Row {
        const char* what;
        Doing doing;
        bool programEnds; // StopNow rather than Stop
    } rows[] = {
        {"idle, connected", Doing::IdleConnected, false},
        {"idle, connected, program ends", Doing::IdleConnected, true},
        {"listing stalled", Doing::ListingStalled, false},
        {"listing stalled, program ends", Doing::ListingStalled, true},
        {"download stalled", Doing::DownloadStalled, false},
        {"download stalled, program ends", Doing::DownloadStalled, true},
        {"upload stalled", Doing::UploadStalled, false},
        {"upload stalled, program ends", Doing::UploadStalled, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Scratch scratch;
        const std::string server = scratch.root + "/server";
        std::filesystem::create_directories(server);
        std::unique_ptr<testsrv::FaultyFtpdServer> faulty;
        std::unique_ptr<testsrv::ScriptedFtpServer> scripted;
        std::function<bool()> busy;
        const bool upload = row.doing == Doing::UploadStalled;
        if (row.doing == Doing::ListingStalled) {
            scripted = std::make_unique<testsrv::ScriptedFtpServer>("220 Ready\r\n");
            auto stall = [](testsrv::ScriptedSession& session, const std::string&) {
                session.Send("150 Here it comes\r\n");
                session.DataSend(""); // connected, and then nothing
            };
            scripted->Handle("LIST", stall);
            scripted->Handle("MLSD", stall);
            busy = [&] {
                const auto all = scripted->Commands();
                return std::any_of(all.begin(), all.end(), [](const std::string& c) {
                    return c.rfind("LIST", 0) == 0 || c.rfind("MLSD", 0) == 0;
                });
            };
        } else {
            faulty =
                std::make_unique<testsrv::FaultyFtpdServer>(testsrv::FaultyFtpdOptions{server});
            if (row.doing == Doing::DownloadStalled) {
                Put(server + "/big.bin", Bytes(2000000, 1));
                faulty->SetFaults(testsrv::FaultPlan().StallDownload("big.bin", 500000));
                busy = [&] { return faulty->WaitForEvent("stall", 0ms); };
            } else if (upload) {
                faulty->SetFaults(testsrv::FaultPlan().StopReadingUpload("up.bin", 100000));
                busy = [&] { return faulty->WaitForEvent("stop-reading", 0ms); };
            } else {
                busy = [&] {
                    const auto all = faulty->Commands();
                    return std::count(all.begin(), all.end(), "MLSD") +
                               std::count(all.begin(), all.end(), "LIST") >
                           0;
                };
            }
        }
        const uint16_t port = scripted ? scripted->Port() : faulty->Port();
        const std::string registerPath = scratch.state + "/register.txt";
        scratch.WriteSettings(
            upload ? ExportSection(port, scratch.exported)
                   : ImportSection(port, scratch.local,
                                   row.doing == Doing::IdleConnected
                                       ? "KeepAlive=1\n"
                                       : "KeepAlive=0\nCheckInterval=1\nResumeDownloads=0\n"));
        SharedLog log;
        std::vector<std::string> boxes;
        const std::string name = upload ? "Export" : "Import";
        TJobSet jobs({{name, upload ? TJobKind::Export : TJobKind::Import, registerPath}},
                     scratch.settings, log.Sink());
        TJob& job = *jobs.Find(name);
        job.OnErrorBox = [&](const TJob&, const std::string& text) { boxes.push_back(text); };
        jobs.Start(job);
        if (upload)
            Put(scratch.exported + "/up.bin", Bytes(16000000, 2));
        ASSERT_TRUE(WaitFor(busy, 30s)) << "the job never got that far";
        if (row.doing == Doing::IdleConnected) {
            ASSERT_TRUE(WaitFor([&] { return !job.CycleRunning(); }));
        }

        const auto stopAt = std::chrono::steady_clock::now();
        if (row.programEnds) {
            jobs.StopAllNow();
        } else {
            jobs.Stop(job);
            ASSERT_TRUE(WaitFor([&] { return job.State() == TJobState::Stopped; }, 10s));
        }
        EXPECT_LE(std::chrono::steady_clock::now() - stopAt, 5s);
        EXPECT_EQ(job.State(), TJobState::Stopped);
        ASSERT_FALSE(log.Lines().empty());
        EXPECT_EQ(log.Lines().back(), name + " > Monitor closed");
        if (!upload) {
            EXPECT_TRUE(std::filesystem::exists(registerPath)) << "saved at the stop";
        }
        if (row.doing == Doing::IdleConnected) {
            EXPECT_EQ(CountOf(faulty->Commands(), "QUIT"), 1u) << "an idle connection says goodbye";
        }
        WaitFor([] { return false; }, 100ms); // a box would be on its way by now
        EXPECT_TRUE(boxes.empty()) << boxes.front();
    }
}

// Saving the settings while a download is stalled: the import job is stopped (its cycle cut
// after the grace) and started again before the export job is; the file cut short is fetched
// again, every other file once, and the register holds each name once.
TEST(JobSet, RestartRunsOneJobAfterTheOtherAndLosesNoName) {
    Scratch scratch;
    const std::string server = scratch.root + "/server";
    std::filesystem::create_directories(server);
    for (int i = 0; i < 3; ++i)
        Put(server + "/f" + std::to_string(i), Bytes(400000, 10 + i));
    testsrv::FaultyFtpdServer faulty({server});
    faulty.SetFaults(testsrv::FaultPlan().StallDownload("f1", 100000, 1));
    const std::string registerPath = scratch.state + "/register.txt";
    scratch.WriteSettings(ImportSection(faulty.Port(), scratch.local,
                                        "KeepAlive=0\nCheckInterval=1\nResumeDownloads=0\n") +
                          ExportSection(faulty.Port(), scratch.exported));
    SharedLog log;
    TJobSet jobs({{"Import", TJobKind::Import, registerPath}, {"Export", TJobKind::Export, {}}},
                 scratch.settings, log.Sink());
    for (const auto& job : jobs.Jobs())
        jobs.Start(*job);
    ASSERT_TRUE(WaitFor([&] { return faulty.WaitForEvent("stall", 0ms); }, 30s));

    std::vector<std::string> failures;
    bool done = false;
    jobs.RestartRunning([&](TJob& job, std::exception_ptr) { failures.push_back(job.Name()); },
                        [&] { done = true; });
    EXPECT_TRUE(jobs.Restarting());
    ASSERT_TRUE(WaitFor([&] { return done; }, 15s));
    EXPECT_TRUE(failures.empty());
    const int closed = log.IndexOf("Import > Monitor closed");
    const int started = log.IndexOf("Import > Monitor started", closed);
    const int exportClosed = log.IndexOf("Export > Monitor closed", started);
    const int exportStarted = log.IndexOf("Export > Monitor started", exportClosed);
    EXPECT_TRUE(closed >= 0 && started > closed && exportClosed > started &&
                exportStarted > exportClosed);

    ASSERT_TRUE(WaitFor(
        [&] {
            for (int i = 0; i < 3; ++i)
                if (testsrv::ReadWholeFile(scratch.local + "/f" + std::to_string(i)) !=
                    Bytes(400000, 10 + i))
                    return false;
            return true;
        },
        30s));
    jobs.StopAllNow();
    const std::vector<std::string> commands = faulty.Commands();
    EXPECT_EQ(CountOf(commands, "RETR f0"), 1u);
    EXPECT_EQ(CountOf(commands, "RETR f1"), 2u); // cut by the restart, then whole
    EXPECT_EQ(CountOf(commands, "RETR f2"), 1u);
    const std::string saved = testsrv::ReadWholeFile(registerPath);
    for (const std::string name : {"f0", "f1", "f2"}) {
        size_t count = 0;
        for (size_t at = saved.find(name + "\r\n"); at != std::string::npos;
             at = saved.find(name + "\r\n", at + 1))
            ++count;
        EXPECT_EQ(count, 1u) << name << " in " << saved;
    }
}

} // namespace

namespace {

TEST(JobSetMembers, AddedJobsAreFoundIgnoringCaseAndRemovedStopped) {
    Scratch scratch;
    SharedLog log;
    TJobSet set({}, scratch.settings, log.Sink());
    TJob& added = set.Add({"Scans", TJobKind::Import, {}, "Import:Scans", true});
    EXPECT_EQ(set.Find("scans"), &added);
    EXPECT_FALSE(added.Activity().current.has_value());
    set.Remove(added);
    EXPECT_EQ(set.Find("Scans"), nullptr);
}

} // namespace
