// A save with "Keep passwords in the keyring": where the secrets and PasswordStore end up for
// each state of the keyring, and that a page which could not read the keyring never wipes it.
#include "secrets/KeyringSave.h"

#include "SecretsTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

using namespace tavrin;

namespace {

std::optional<std::string> Stored(const std::string& path, const std::string& key) {
    const std::string file = testsrv::ReadWholeFile(path);
    const size_t at = file.find("\n" + key + "=");
    if (at == std::string::npos)
        return std::nullopt;
    const size_t begin = at + key.size() + 2;
    return file.substr(begin, file.find('\n', begin) - begin);
}

TEST(KeyringSaveTest, SecretsGoToTheKeyringOrStayInTheFile) {
    enum class Ring { Absent, Answers, Refuses };
    const std::string kBefore = "[Import]\nHost=old\nPassword=old-pw\nSSLPass=old-key\n";
    const std::string kKeyringFile = "[Import]\nHost=old\nPassword=\nPasswordStore=keyring\n";
    struct Row {
        const char* what;
        std::string before;
        Ring ring;
        bool keep, shown;
        // After the save: the file's Password and PasswordStore (nullopt: no such key), the
        // keyring's Import/password, and whether a note was given.
        std::optional<std::string> password, store;
        const char* inKeyring;
        bool note;
    } rows[] = {
        {"kept: the file gets an empty password", kBefore, Ring::Answers, true, true, "", "keyring",
         "new-pw", false},
        {"no keyring: the file keeps it, nothing new in it", kBefore, Ring::Absent, true, true,
         "new-pw", std::nullopt, "kept-pw", true},
        {"keyring refuses: the file keeps it", kBefore, Ring::Refuses, true, true, "new-pw", "file",
         "kept-pw", true},
        {"not kept while a keyring answers: the choice is written", kBefore, Ring::Answers, false,
         true, "new-pw", "file", "kept-pw", false},
        {"back from the keyring without one", kKeyringFile, Ring::Absent, false, true, "new-pw", "",
         "kept-pw", false},
        {"page could not read the keyring: left alone", kKeyringFile, Ring::Answers, true, false,
         "", "keyring", "kept-pw", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TTestFolder folder;
        const std::string path = folder.Path("MonitorConfig.ini");
        testsrv::WriteWholeFile(path, row.before);
        TMemoryKeyring ring;
        ring.available = row.ring != Ring::Absent;
        ring.refusesWrites = row.ring == Ring::Refuses;
        ring.entries["Import/password"] = "kept-pw";
        RConfiguration shown;
        shown.Host = "new";
        shown.Password = row.shown ? "new-pw" : "";
        const TKeyringSave saved = SaveWithKeyring(
            TDirection::Import, [&](const TSettingKey& key) { return StoredText(shown, key); },
            path, &ring, row.keep, row.shown);
        EXPECT_EQ(Stored(path, "Host"), "new");
        EXPECT_EQ(Stored(path, "Password"), row.password);
        EXPECT_EQ(Stored(path, "PasswordStore"), row.store);
        EXPECT_EQ(saved.InKeyring, row.store == "keyring" && row.shown);
        EXPECT_EQ(ring.entries["Import/password"], row.inKeyring);
        EXPECT_EQ(!saved.Note.empty(), row.note) << saved.Note;
        EXPECT_EQ(saved.Note.find("new-pw"), std::string::npos);
    }
}

} // namespace
