#include "config/SettingsFile.h"
#include "config/ConfigPaths.h"
#include "config/LogSwitches.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace tavrin;

namespace {

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "cfg-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = dir_ + "/MonitorConfig.ini";
        ::setenv("TAVRIN_CONFIG", path_.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("TAVRIN_CONFIG");
        LogMonitor = LogFileTransfer = LogSSL = LogVerbose = true;
        std::filesystem::remove_all(dir_);
    }

    void Put(const std::string& text) { std::ofstream(path_, std::ios::binary) << text; }
    std::string Contents() const {
        std::ifstream in(path_, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // "Section.Key" for every key line, in file order.
    std::vector<std::string> KeysInFile() const {
        std::vector<std::string> keys;
        std::istringstream in(Contents());
        std::string line, section;
        while (std::getline(in, line)) {
            if (line.starts_with('['))
                section = line.substr(1, line.find(']') - 1);
            else if (line.find('=') != std::string::npos)
                keys.push_back(section + "." + line.substr(0, line.find('=')));
        }
        return keys;
    }

    static TImportPageValues SampleImportPage() {
        TImportPageValues v;
        v.LocalFolder = "/data/in";
        v.TempFolder = "/data/staging";
        v.FirstToTemp = true;
        v.Host = "ftp.example";
        v.Port = "2121";
        v.Username = "user";
        v.Password = "p=w;rd ";
        v.PassiveMode = false;
        v.BinaryMode = true;
        v.RemoteFolder = "/out";
        v.MoveDelete = true;
        v.KeepAlive = false;
        v.CheckInterval = "30";
        v.SSL = true;
        v.SSLCertificate = "/c.pem";
        v.SSLKey = "/k.pem";
        v.SSLPass = "kp";
        return v;
    }

    std::string dir_;
    std::string path_;
};

TEST_F(SettingsFileTest, MissingFileGivesTheDefaults) {
    RConfiguration import = LoadImportConfiguration();
    RConfiguration expectedImport;
    expectedImport.Port = "21";
    expectedImport.PassiveMode = expectedImport.BinaryMode = true;
    expectedImport.KeepAlive = true;
    expectedImport.CheckInterval = 10;
    EXPECT_EQ(import, expectedImport);

    RConfiguration expectedExport;
    expectedExport.Port = "21";
    expectedExport.PassiveMode = expectedExport.BinaryMode = true;
    EXPECT_EQ(LoadExportConfiguration(), expectedExport);

    LogSSL = false;
    EXPECT_EQ(LoadLogSwitches(), TLogSwitchValues{});
    EXPECT_TRUE(LogSSL);
    EXPECT_FALSE(std::filesystem::exists(path_)); // reading never creates the file
}

TEST_F(SettingsFileTest, BooleansAndIntegersAreReadAsIntegers) {
    Put("[Import]\nKeepAlive=yes\nSSL=true\nMoveDelete=2\nFirstToTemp=0x1\nCheckInterval=0x1E\n"
        "[Export]\nPassiveMode=0\nBinaryMode=\nSSL=$10\nMoveDelete=0x\n"
        "[General]\nLogMonitor=0\nLogSSL=abc\nLogVerbose=-1\n");
    RConfiguration import = LoadImportConfiguration();
    EXPECT_TRUE(import.KeepAlive);   // "yes" is no integer: default true
    EXPECT_FALSE(import.SSL);        // "true" is no integer: default false
    EXPECT_TRUE(import.MoveDelete);  // 2
    EXPECT_TRUE(import.FirstToTemp); // 0x1
    EXPECT_EQ(import.CheckInterval, 30);
    EXPECT_FALSE(import.PassiveMode);       // from "Export"
    EXPECT_TRUE(import.BinaryMode);         // empty: default true
    EXPECT_TRUE(import.WaitForStableFiles); // absent: default true

    RConfiguration exported = LoadExportConfiguration();
    EXPECT_FALSE(exported.PassiveMode);
    EXPECT_TRUE(exported.SSL);         // $10
    EXPECT_FALSE(exported.MoveDelete); // "0x" alone is no number: default false

    TLogSwitchValues switches = LoadLogSwitches();
    EXPECT_FALSE(switches.LogMonitor);
    EXPECT_TRUE(switches.LogSSL);
    EXPECT_TRUE(switches.LogVerbose);
    EXPECT_FALSE(LogMonitor);

    for (auto [stored, expected] : std::vector<std::pair<std::string, int>>{
             {"abc", 10}, {"", 10}, {"$1E", 30}, {"-5", -5}, {"99999999999", 10}}) {
        Put("[Import]\nCheckInterval=" + stored + "\n");
        EXPECT_EQ(LoadImportConfiguration().CheckInterval, expected) << stored;
    }
}

TEST_F(SettingsFileTest, ImportPageWritesItsKeysInOrderAndReadsBack) {
    Put("[Import]\nMoveToFolder=keep\nColour=blue\n[Export]\nKeepAlive=1\n[Mine]\nx=y\n");
    TImportPageValues page = SampleImportPage();
    page.CheckInterval = "$1E";
    page.WaitForStableFiles = false;
    SaveImportConfiguration(page);
    EXPECT_NE(Contents().find("WaitForStableFiles=0\n"), std::string::npos);
    EXPECT_FALSE(LoadImportConfiguration().WaitForStableFiles);

    EXPECT_EQ(KeysInFile(),
              (std::vector<std::string>{"Import.MoveToFolder",  "Import.Colour",
                                        "Import.LocalFolder",   "Import.TempFolder",
                                        "Import.FirstToTemp",   "Import.Host",
                                        "Import.Port",          "Import.Username",
                                        "Import.Password",      "Import.RemoteFolder",
                                        "Import.MoveDelete",    "Import.KeepAlive",
                                        "Import.CheckInterval", "Import.WaitForStableFiles",
                                        "Import.SSL",           "Import.SSLCertificate",
                                        "Import.SSLKey",        "Import.SSLPass",
                                        "Export.KeepAlive",     "Export.PassiveMode",
                                        "Export.BinaryMode",    "Mine.x"}));
    EXPECT_NE(Contents().find("CheckInterval=30\n"), std::string::npos);
    EXPECT_NE(Contents().find("MoveToFolder=keep\nColour=blue\n"), std::string::npos);

    RConfiguration import = LoadImportConfiguration();
    EXPECT_EQ(import.CheckInterval, 30);
    EXPECT_EQ(import.Password, "p=w;rd"); // blanks around a value are no part of it
    EXPECT_EQ(import.MoveToFolder, "");   // the import record never takes it
    EXPECT_FALSE(import.PassiveMode);
    EXPECT_TRUE(import.FirstToTemp && import.MoveDelete && import.SSL && !import.KeepAlive);
    // The shared passive setting now holds for the export direction too.
    EXPECT_FALSE(LoadExportConfiguration().PassiveMode);
}

TEST_F(SettingsFileTest, BadCheckIntervalStopsTheImportSaveAtThatKey) {
    TImportPageValues page = SampleImportPage();
    page.CheckInterval = "abc";
    try {
        SaveImportConfiguration(page);
        FAIL() << "no error";
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
    EXPECT_EQ(KeysInFile(), (std::vector<std::string>{
                                "Import.LocalFolder", "Import.TempFolder", "Import.FirstToTemp",
                                "Import.Host", "Import.Port", "Import.Username", "Import.Password",
                                "Import.RemoteFolder", "Import.MoveDelete", "Import.KeepAlive",
                                "Export.PassiveMode", "Export.BinaryMode"}));
}

TEST_F(SettingsFileTest, ExportPageWritesOnlyExportKeysInOrder) {
    TExportPageValues page;
    page.LocalFolder = "/watch";
    page.MoveDelete = true;
    page.MoveToFolder = "/done";
    page.Port = "not a number"; // stored as it stands
    page.PassiveMode = true;
    SaveExportConfiguration(page);
    EXPECT_EQ(
        KeysInFile(),
        (std::vector<std::string>{
            "Export.LocalFolder", "Export.MoveDelete", "Export.MoveToFolder", "Export.Host",
            "Export.Port", "Export.Username", "Export.Password", "Export.PassiveMode",
            "Export.BinaryMode", "Export.RemoteFolder", "Export.TempFolder", "Export.FirstToTemp",
            "Export.SSL", "Export.SSLCertificate", "Export.SSLKey", "Export.SSLPass",
            "Export.SettleTime", "Export.RetryFailed", "Export.ExportExisting"}));
    RConfiguration exported = LoadExportConfiguration();
    EXPECT_EQ(exported.Port, "not a number");
    EXPECT_EQ(exported.SettleTime, 1000);
    EXPECT_FALSE(exported.RetryFailed || exported.ExportExisting);
    EXPECT_EQ(exported.MoveToFolder, "/done");
    EXPECT_FALSE(exported.KeepAlive);
    EXPECT_EQ(exported.CheckInterval, 0);
}

TEST_F(SettingsFileTest, ExportSettleRetryAndExistingKeysRoundTripAndBadValuesFallBack) {
    const struct {
        const char* stored;
        int32_t settle;
    } rows[] = {{"250", 250}, {"0", 0}, {"-5", 0}, {"soon", 1000}, {"", 1000}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.stored);
        Put(std::string("[Export]\nSettleTime=") + row.stored + "\nRetryFailed=1\n");
        RConfiguration c = LoadExportConfiguration();
        EXPECT_EQ(c.SettleTime, row.settle);
        EXPECT_TRUE(c.RetryFailed);
        EXPECT_FALSE(c.ExportExisting);
    }
    TExportPageValues page;
    page.SettleTime = "$10"; // written as decimal, like the check interval
    page.ExportExisting = true;
    SaveExportConfiguration(page);
    EXPECT_EQ(LoadExportConfiguration().SettleTime, 16);
    EXPECT_TRUE(LoadExportConfiguration().ExportExisting);
    page.SettleTime = "soon";
    EXPECT_THROW(SaveExportConfiguration(page), EConvertError);
}

TEST_F(SettingsFileTest, SaveLogSwitchesWritesThenSetsTheSwitches) {
    SaveLogSwitches({true, false, false, true});
    EXPECT_EQ(Contents(), "[General]\nLogMonitor=1\nLogFileTransfer=0\nLogSSL=0\nLogVerbose=1\n");
    EXPECT_TRUE(LogMonitor);
    EXPECT_FALSE(LogFileTransfer);
    EXPECT_FALSE(LogSSL);
    EXPECT_TRUE(LogVerbose);
}

TEST_F(SettingsFileTest, FirstSaveCreatesThePrivateFileAndItsFolder) {
    const std::string nested = dir_ + "/a/b/MonitorConfig.ini";
    SaveLogSwitches({}, nested);
    struct stat st {};
    ASSERT_EQ(::stat(nested.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(::stat((dir_ + "/a/b").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(SettingsFileTest, FailedWriteStopsWithTheFilePath) {
    // A plain file where the folder should be: no write can succeed, not even as root.
    Put("");
    const std::string blocked = path_ + "/MonitorConfig.ini";
    LogVerbose = true;
    try {
        SaveLogSwitches({true, true, true, false}, blocked);
        FAIL() << "no error";
    } catch (const ESettingsWriteError& e) {
        EXPECT_EQ(std::string(e.what()), "Unable to write to " + blocked);
    }
    EXPECT_TRUE(LogVerbose); // switches change only after a complete save
    EXPECT_THROW(SaveExportConfiguration({}, blocked), ESettingsWriteError);
}

class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name))
            old_ = old;
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { old_ ? ::setenv(name_, old_->c_str(), 1) : ::unsetenv(name_); }

private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST_F(SettingsFileTest, FileLocations) {
    EXPECT_EQ(ConfigFilePath(), path_);
    {
        ScopedEnv config("TAVRIN_CONFIG", nullptr);
        ScopedEnv xdg("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(ConfigFilePath(), "/xdg/tavrin/MonitorConfig.ini");
        ScopedEnv relative("XDG_CONFIG_HOME", "relative");
        ScopedEnv home("HOME", "/home/u");
        EXPECT_EQ(ConfigFilePath(), "/home/u/.config/tavrin/MonitorConfig.ini");
    }
    {
        ScopedEnv temp("TEMP", "/var/tmp/");
        EXPECT_EQ(RegisterFilePath(), "/var/tmp/LocalFileList.txt");
        ScopedEnv plain("TEMP", "/var/tmp");
        EXPECT_EQ(RegisterFilePath(), "/var/tmp/LocalFileList.txt");
        ScopedEnv root("TEMP", "/");
        EXPECT_EQ(RegisterFilePath(), "/LocalFileList.txt");
    }
    {
        ScopedEnv temp("TEMP", nullptr);
        ScopedEnv state("XDG_STATE_HOME", (dir_ + "/state").c_str());
        EXPECT_EQ(RegisterFilePath(), dir_ + "/state/tavrin/LocalFileList.txt");
        EXPECT_TRUE(std::filesystem::is_directory(dir_ + "/state/tavrin"));
    }
}

} // namespace

namespace {

// The keys that say how a direction reaches its server: each section has its own, absent
// keys keep today's behaviour, and ImplicitTLS (the one the pages show) is saved only once
// it was chosen, so an older file saves exactly as before.
TEST_F(SettingsFileTest, ReachKeysArePerSectionAndImplicitTlsIsSavedOnlyOnceChosen) {
    const struct {
        const char* file;
        bool implicitIn, forcePasvIn, pasvAddressIn, mlsdIn, resume;
        bool implicitOut, forcePasvOut, pasvAddressOut, mlsdOut;
    } rows[] = {
        {"", false, false, false, true, true, false, false, false, true},
        {"[Import]\nImplicitTLS=1\nForcePASV=1\nUsePasvAddress=1\nUseMLSD=0\nResumeDownloads=0\n",
         true, true, true, false, false, false, false, false, true},
        {"[Export]\nImplicitTLS=1\nForcePASV=1\nUsePasvAddress=1\nUseMLSD=0\nResumeDownloads=0\n",
         false, false, false, true, true, true, true, true, false},
        {"[Import]\nUseMLSD=no\nResumeDownloads=\n[Export]\nForcePASV=yes\n", false, false, false,
         true, true, false, false, false, true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.file);
        Put(row.file);
        const RConfiguration in = LoadImportConfiguration();
        EXPECT_EQ(in.ImplicitTLS, row.implicitIn);
        EXPECT_EQ(in.ForcePASV, row.forcePasvIn);
        EXPECT_EQ(in.UsePasvAddress, row.pasvAddressIn);
        EXPECT_EQ(in.UseMLSD, row.mlsdIn);
        EXPECT_EQ(in.ResumeDownloads, row.resume);
        const RConfiguration out = LoadExportConfiguration();
        EXPECT_EQ(out.ImplicitTLS, row.implicitOut);
        EXPECT_EQ(out.ForcePASV, row.forcePasvOut);
        EXPECT_EQ(out.UsePasvAddress, row.pasvAddressOut);
        EXPECT_EQ(out.UseMLSD, row.mlsdOut);
    }

    Put("");
    TImportPageValues importPage = SampleImportPage();
    SaveImportConfiguration(importPage);
    TExportPageValues exportPage;
    SaveExportConfiguration(exportPage);
    EXPECT_EQ(Contents().find("ImplicitTLS"), std::string::npos);
    importPage.ImplicitTLS = true;
    SaveImportConfiguration(importPage);
    EXPECT_TRUE(LoadImportConfiguration().ImplicitTLS);
    EXPECT_FALSE(LoadExportConfiguration().ImplicitTLS);
    importPage.ImplicitTLS = false; // once there, the key follows the page
    SaveImportConfiguration(importPage);
    EXPECT_NE(Contents().find("ImplicitTLS=0"), std::string::npos);
    EXPECT_FALSE(LoadImportConfiguration().ImplicitTLS);
    exportPage.ImplicitTLS = true;
    SaveExportConfiguration(exportPage);
    EXPECT_EQ(KeysInFile().back(), "Export.ImplicitTLS");
    EXPECT_TRUE(LoadExportConfiguration().ImplicitTLS);
}

// The page records carry no filter: saving one leaves the filter and subfolder keys exactly as
// the file has them, in both sections, rather than blanking them or giving MaxDepth the
// check interval.
TEST_F(SettingsFileTest, PageSavesLeaveTheFilterKeysAlone) {
    // The burst keys too: a page's one integer text must not land in Connections.
    const std::string filter =
        "Include=*.pdf\nMinSize=1k\nRecursive=1\nMaxDepth=3\nConnections=4\n";
    const std::string exportKeys = "Exclude=*.tmp\nIgnoreCase=1\nKeepConnection=1\n";
    Put("[Import]\n" + filter + "[Export]\n" + exportKeys);
    SaveImportConfiguration(SampleImportPage());
    SaveExportConfiguration(TExportPageValues{});
    const std::string saved = Contents();
    EXPECT_NE(saved.find("[Import]\n" + filter), std::string::npos) << saved;
    EXPECT_NE(saved.find("[Export]\n" + exportKeys), std::string::npos) << saved;
    EXPECT_EQ(saved.find("[Export]\nConnections"), std::string::npos) << saved;
    const RConfiguration import = LoadImportConfiguration();
    EXPECT_EQ(import.MaxDepth, 3);
    EXPECT_EQ(import.Include, "*.pdf");
    EXPECT_EQ(import.Connections, 4);
    EXPECT_TRUE(LoadExportConfiguration().KeepConnection);
}

} // namespace
