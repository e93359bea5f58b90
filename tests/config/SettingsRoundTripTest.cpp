// Every key survives load → save → load, files written before the SFTP keys existed save byte
// for byte as they always did, and the keys only some files have appear only once chosen.
#include "config/SettingsFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <tuple>
#include <unistd.h>

using namespace tavrin;

namespace {

// Both pages saved, import first, into an empty file by the program as it was before the key
// table: this order and these bytes are what users' files look like.
const std::string kFileOfBothPages = "[Import]\n"
                                     "LocalFolder=/in\n"
                                     "TempFolder=/stage\n"
                                     "FirstToTemp=1\n"
                                     "Host=ftp.example\n"
                                     "Port=2121\n"
                                     "Username=u\n"
                                     "Password=p\n"
                                     "RemoteFolder=/r\n"
                                     "MoveDelete=1\n"
                                     "KeepAlive=0\n"
                                     "CheckInterval=30\n"
                                     "WaitForStableFiles=0\n"
                                     "SSL=1\n"
                                     "SSLCertificate=/c.pem\n"
                                     "SSLKey=/k.pem\n"
                                     "SSLPass=kp\n"
                                     "[Export]\n"
                                     "PassiveMode=0\n"
                                     "BinaryMode=1\n"
                                     "LocalFolder=/out\n"
                                     "MoveDelete=1\n"
                                     "MoveToFolder=/done\n"
                                     "Host=up.example\n"
                                     "Port=21\n"
                                     "Username=eu\n"
                                     "Password=ep\n"
                                     "RemoteFolder=/inbox\n"
                                     "TempFolder=/tmp\n"
                                     "FirstToTemp=1\n"
                                     "SSL=0\n"
                                     "SSLCertificate=\n"
                                     "SSLKey=\n"
                                     "SSLPass=\n"
                                     "SettleTime=250\n"
                                     "RetryFailed=1\n"
                                     "ExportExisting=0\n";

class SettingsRoundTripTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "rt-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::string File(const std::string& name) const { return dir_ + "/" + name; }
    static void Put(const std::string& path, const std::string& text) {
        std::ofstream(path, std::ios::binary) << text;
    }
    static std::string Contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    std::string dir_;
};

TEST_F(SettingsRoundTripTest, TodaysFilesSaveByteForByteFromRecords) {
    Put(File("old.ini"), kFileOfBothPages);
    const RConfiguration imported = LoadImportConfiguration(File("old.ini"));
    const RConfiguration exported = LoadExportConfiguration(File("old.ini"));
    for (const std::string& target : {File("fresh.ini"), File("old.ini")}) {
        SCOPED_TRACE(target);
        SaveRecord(TDirection::Import, imported, target);
        SaveRecord(TDirection::Export, exported, target);
        EXPECT_EQ(Contents(target), kFileOfBothPages);
    }
}

TEST_F(SettingsRoundTripTest, EveryKeyRoundTripsInItsOwnSection) {
    // Every key away from its default, each direction with values of its own.
    Put(File("all.ini"), "[Import]\nLocalFolder=/in\nTempFolder=/stage\nFirstToTemp=1\n"
                         "Host=i.example\nPort=990\nUsername=iu\nPassword=ip\nRemoteFolder=/ir\n"
                         "MoveDelete=1\nKeepAlive=0\nCheckInterval=0x1E\nWaitForStableFiles=0\n"
                         "SSL=1\nSSLCertificate=/ic\nSSLKey=/ik\nSSLPass=ikp\nImplicitTLS=1\n"
                         "ForcePASV=1\nUsePasvAddress=1\nUseMLSD=0\nResumeDownloads=0\n"
                         "Protocol=SFTP\nSSHKey=/home/u/.ssh/id_ed25519\nSSHKeyPass=k p\n"
                         "SSHAgent=1\nMoveToFolder=/never\nSettleTime=5\n"
                         "[Export]\nLocalFolder=/out\nMoveDelete=1\nMoveToFolder=/done\n"
                         "Host=e.example\nPort=2222\nUsername=eu\nPassword=ep\nPassiveMode=0\n"
                         "BinaryMode=0\nRemoteFolder=/er\nTempFolder=/et\nFirstToTemp=1\nSSL=1\n"
                         "SSLCertificate=/ec\nSSLKey=/ek\nSSLPass=ekp\nSettleTime=-3\n"
                         "RetryFailed=1\nExportExisting=1\nImplicitTLS=0\nForcePASV=1\n"
                         "UsePasvAddress=1\nUseMLSD=0\nProtocol=sftp\nSSHKey=/ek2\n"
                         "SSHKeyPass=ekp2\nSSHAgent=2\nKeepAlive=0\nCheckInterval=7\n");
    RConfiguration in;
    in.LocalFolder = "/in", in.TempFolder = "/stage", in.FirstToTemp = true;
    in.Host = "i.example", in.Port = "990", in.Username = "iu", in.Password = "ip";
    in.PassiveMode = false, in.BinaryMode = false; // from "Export"
    in.RemoteFolder = "/ir", in.MoveDelete = true, in.KeepAlive = false, in.CheckInterval = 30;
    in.WaitForStableFiles = false, in.SSL = true, in.SSLCertificate = "/ic", in.SSLKey = "/ik";
    in.SSLPass = "ikp", in.ImplicitTLS = true, in.ForcePASV = true, in.UsePasvAddress = true;
    in.UseMLSD = false, in.ResumeDownloads = false, in.Protocol = "SFTP";
    in.SSHKey = "/home/u/.ssh/id_ed25519", in.SSHKeyPass = "k p", in.SSHAgent = true;
    RConfiguration out;
    out.LocalFolder = "/out", out.MoveDelete = true, out.MoveToFolder = "/done";
    out.Host = "e.example", out.Port = "2222", out.Username = "eu", out.Password = "ep";
    out.RemoteFolder = "/er", out.TempFolder = "/et", out.FirstToTemp = true, out.SSL = true;
    out.SSLCertificate = "/ec", out.SSLKey = "/ek", out.SSLPass = "ekp", out.SettleTime = 0;
    out.RetryFailed = true, out.ExportExisting = true, out.ForcePASV = true;
    out.UsePasvAddress = true, out.UseMLSD = false, out.Protocol = "sftp", out.SSHKey = "/ek2";
    out.SSHKeyPass = "ekp2", out.SSHAgent = true;

    EXPECT_EQ(LoadImportConfiguration(File("all.ini")), in);
    EXPECT_EQ(LoadExportConfiguration(File("all.ini")), out);
    SaveRecord(TDirection::Import, in, File("saved.ini"));
    SaveRecord(TDirection::Export, out, File("saved.ini"));
    EXPECT_EQ(LoadImportConfiguration(File("saved.ini")), in);
    EXPECT_EQ(LoadExportConfiguration(File("saved.ini")), out);
    // Keys of the other direction stay out of each section.
    const std::string saved = Contents(File("saved.ini"));
    EXPECT_EQ(saved.find("never"), std::string::npos);
    EXPECT_EQ(saved.find("CheckInterval=7"), std::string::npos);
    EXPECT_EQ(saved.find("SettleTime=5"), std::string::npos);
}

// The keys older files lack are written only when chosen or already there, wherever the save
// comes from; once written they keep their place.
TEST_F(SettingsRoundTripTest, OptionalKeysAppearOnlyWhenChosenOrPresent) {
    const struct {
        const char* name;
        const char* before;                        // the file before the save
        std::function<void(RServerSettings&)> set; // what the page or record holds
        const char* expected;                      // the optional keys of "Import" after it
    } rows[] = {
        {"defaults add nothing", "", [](RServerSettings&) {}, ""},
        {"SFTP with agent", "", [](RServerSettings& s) { s.Protocol = "SFTP", s.SSHAgent = true; },
         "Protocol=SFTP\nSSHAgent=1\n"},
        {"key file and passphrase", "",
         [](RServerSettings& s) { s.SSHKey = "/id", s.SSHKeyPass = "pp"; },
         "SSHKey=/id\nSSHKeyPass=pp\n"},
        {"present keys follow the page back to their defaults",
         "[Import]\nProtocol=SFTP\nSSHAgent=1\nUseMLSD=0\n", [](RServerSettings&) {},
         "Protocol=FTP\nSSHAgent=0\nUseMLSD=0\n"},
        {"implicit TLS", "", [](RServerSettings& s) { s.ImplicitTLS = true; }, "ImplicitTLS=1\n"},
    };
    const std::set<std::string> optional = {"ImplicitTLS", "Protocol",       "SSHKey",
                                            "SSHKeyPass",  "SSHAgent",       "ForcePASV",
                                            "UseMLSD",     "UsePasvAddress", "ResumeDownloads"};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TImportPageValues page;
        page.CheckInterval = "10";
        row.set(page);
        Put(File("page.ini"), row.before);
        SaveImportConfiguration(page, File("page.ini"));
        std::istringstream lines(Contents(File("page.ini")));
        std::string line, found;
        while (std::getline(lines, line) && line != "[Export]")
            if (optional.contains(line.substr(0, line.find('='))))
                found += line + "\n";
        EXPECT_EQ(found, row.expected);
        const RConfiguration loaded = LoadImportConfiguration(File("page.ini"));
        auto shown = [](const RServerSettings& s) {
            return std::tie(s.Protocol, s.SSHKey, s.SSHKeyPass, s.SSHAgent, s.ImplicitTLS);
        };
        EXPECT_EQ(shown(loaded), shown(page));
    }
}

} // namespace
