// The General page lists the SSH host keys trusted on first use with OpenSSH's fingerprints,
// and forgets the chosen one only after Yes, leaving every other line of the file as it was.
#include "DialogTestSupport.h"

#include "config/dialog/SettingsFrameGeneralUnit.h"

#include <QListWidget>
#include <QPushButton>

#include <sys/stat.h>

namespace {

using HostKeysPageTest = DialogTest;

// Keys made with ssh-keygen; the fingerprints are what `ssh-keygen -lf` printed for them.
const std::string kEd25519 = "AAAAC3NzaC1lZDI1NTE5AAAAIFBB5fGr01U4de0Ww7pnUFMt4xqu44xudib4drekqd69";
const std::string kEd25519Print = "SHA256:se7qvPYyZRg+1bZyEKfshZtVrii7b0RTrKTsCz7YzbI";
const std::string kEcdsa =
    "AAAAE2VjZHNhLXNoYTItbmlzdHAyNTYAAAAIbmlzdHAyNTYAAABBBPy8mQOJdr4Gl7uaAPkR"
    "2SWafpMR1tIHMnCEYhNGW5qRgwNFepKjNjOHleD2BRYh0Nz26QARVyDq6MimVgkceu0=";
const std::string kEcdsaPrint = "SHA256:z3dGcCLjRqnJESMEpgaFCrgImxbkJc7f/w6dRh7saX8";

TEST_F(HostKeysPageTest, ListsTrustedKeysAndForgetsOnlyTheChosenOneAfterYes) {
    ::setenv("XDG_STATE_HOME", dir_.c_str(), 1);
    std::filesystem::create_directories(dir_ + "/tavrin");
    const std::string file = dir_ + "/tavrin/known_hosts";
    const std::string head = "# kept as written\n"
                             "@cert-authority *.example " +
                             kEcdsa + "\n\n";
    const std::string plain = "sftp.example ssh-ed25519 " + kEd25519 + "\n";
    const std::string ported = "[sftp.example]:2222 ecdsa-sha2-nistp256 " + kEcdsa + " note\r\n";
    const std::string broken = "half-a-line ssh-ed25519\n";
    WriteFile(file, head + plain + ported + broken);

    TfrGeneral page;
    auto* list = page.findChild<QListWidget*>("lstHostKeys");
    auto* forget = page.findChild<QPushButton*>("btnForgetHostKey");
    ASSERT_NE(list, nullptr);
    ASSERT_NE(forget, nullptr);
    std::vector<std::string> shown;
    for (int i = 0; i < list->count(); ++i)
        shown.push_back(list->item(i)->text().toStdString());
    EXPECT_EQ(shown, (std::vector<std::string>{"sftp.example  ssh-ed25519  " + kEd25519Print,
                                               "[sftp.example]:2222  ecdsa-sha2-nistp256  " +
                                                   kEcdsaPrint}));

    forget->click(); // nothing chosen: nothing asked
    EXPECT_TRUE(recorder_.Messages().empty());
    list->setCurrentRow(1);
    recorder_.QueueWarningAnswer(false);
    forget->click();
    EXPECT_EQ(ReadFile(file), head + plain + ported + broken);
    recorder_.QueueWarningAnswer(true);
    forget->click();
    ::unsetenv("XDG_STATE_HOME");

    const auto asked = recorder_.Texts(tavrin::TMessageKind::mkWarning);
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_TRUE(asked[0].starts_with("Forget the host key of [sftp.example]:2222?")) << asked[0];
    EXPECT_EQ(ReadFile(file), head + plain + broken);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text().toStdString(), shown[0]);
    EXPECT_TRUE(recorder_.Texts(tavrin::TMessageKind::mkError).empty());
}

} // namespace
