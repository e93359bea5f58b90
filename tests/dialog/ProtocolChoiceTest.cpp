// Both server pages offer FTP or SFTP: the choice greys the other protocol's controls, a
// user's switch proposes the new protocol's usual port, and the SFTP login is saved with the
// page in the page's own section.
#include "DialogTestSupport.h"

#include "config/SettingsFile.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

namespace {

using ProtocolChoiceTest = DialogTest;

// What a page shows of the protocol rule: the choice, the port, and which of the two
// protocols' controls can be used.
struct TShown {
    QString protocol;
    QString port;
    bool ftpControls; // passive, binary and the whole Security group
    bool sshControls;

    bool operator==(const TShown&) const = default;
};

template <typename Page> TShown ShownOn(const Page& page) {
    const bool ftp = page.chkPassive->isEnabled() && page.chkBinary->isEnabled() &&
                     page.chkUseSSL->isEnabled() && page.cmbTlsMode->isEnabled() &&
                     page.edtSSLCertificate->isEnabled() && page.btnSSLKey->isEnabled() &&
                     page.edtSSLPass->isEnabled();
    const bool anyFtp = page.chkPassive->isEnabled() || page.chkBinary->isEnabled() ||
                        page.chkUseSSL->isEnabled() || page.edtSSLPass->isEnabled();
    const bool ssh = page.edtSSHKey->isEnabled() && page.btnSSHKey->isEnabled() &&
                     page.edtSSHKeyPass->isEnabled() && page.chkSSHAgent->isEnabled();
    const bool anySsh = page.edtSSHKey->isEnabled() || page.chkSSHAgent->isEnabled();
    EXPECT_EQ(ftp, anyFtp) << "FTP controls partly greyed";
    EXPECT_EQ(ssh, anySsh) << "SSH controls partly greyed";
    return {page.cmbProtocol->currentText(), page.edtPort->text(), ftp, ssh};
}

template <typename Page> void CheckRule(const char* pageName) {
    SCOPED_TRACE(pageName);
    Page page;
    ASSERT_EQ(page.cmbProtocol->count(), 2);
    EXPECT_EQ(page.cmbProtocol->itemText(0), "FTP");
    EXPECT_EQ(page.cmbProtocol->itemText(1), "SFTP");
    EXPECT_EQ(page.edtSSHKeyPass->echoMode(), QLineEdit::Password);

    const struct {
        const char* portBefore;
        int choose;
        TShown expected;
    } rows[] = {
        {"21", 1, {"SFTP", "22", false, true}},     // FTP's usual port gives way
        {"", 1, {"SFTP", "22", false, true}},       // an empty box gets one
        {" 21 ", 1, {"SFTP", "22", false, true}},   // blanks are no part of it
        {"2222", 1, {"SFTP", "2222", false, true}}, // a chosen port stays
        {"22", 0, {"FTP", "21", true, false}},      // and back
        {"990", 0, {"FTP", "990", true, false}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.portBefore);
        page.cmbProtocol->setCurrentIndex(1 - row.choose);
        page.edtPort->setText(row.portBefore);
        page.cmbProtocol->setCurrentIndex(row.choose);
        EXPECT_EQ(ShownOn(page), row.expected);
    }
}

TEST_F(ProtocolChoiceTest, ChoiceGreysTheOtherProtocolAndProposesItsPort) {
    CheckRule<TfrImport>("import");
    CheckRule<TfrExport>("export");
}

// Loading shows what the file holds, port included, and greys by it; each page reads its own
// section.
TEST_F(ProtocolChoiceTest, LoadedPagesShowTheFilesProtocolWithoutProposing) {
    WriteFile(configPath_, "[Import]\nProtocol=sftp\nPort=21\n[Export]\nPort=\n");
    TfrImport import;
    TfrExport exporter;
    RConfiguration loaded;
    import.LoadConfiguration(loaded);
    exporter.LoadConfiguration(loaded);
    EXPECT_EQ(ShownOn(import), (TShown{"SFTP", "21", false, true}));
    EXPECT_EQ(ShownOn(exporter), (TShown{"FTP", "", true, false}));
    // A page loaded over a page that had switched shows the file's choice again.
    exporter.cmbProtocol->setCurrentIndex(1);
    exporter.LoadConfiguration(loaded);
    EXPECT_EQ(ShownOn(exporter), (TShown{"FTP", "", true, false}));
}

TEST_F(ProtocolChoiceTest, SftpLoginIsSavedWithThePageInItsOwnSection) {
    TfrImport import;
    TfrExport exporter;
    RConfiguration loaded;
    import.LoadConfiguration(loaded);
    exporter.LoadConfiguration(loaded);
    import.cmbProtocol->setCurrentIndex(1);
    recorder_.QueueChosenPath(std::nullopt);
    QTest::mouseClick(import.btnSSHKey, Qt::LeftButton);
    EXPECT_TRUE(import.edtSSHKey->text().isEmpty());
    recorder_.QueueChosenPath("/home/u/.ssh/id_ed25519");
    QTest::mouseClick(import.btnSSHKey, Qt::LeftButton);
    import.edtSSHKeyPass->setText("secret words");
    exporter.cmbProtocol->setCurrentIndex(1);
    exporter.chkSSHAgent->setChecked(true);
    import.SaveConfiguration();
    exporter.SaveConfiguration();

    const RConfiguration in = tavrin::LoadImportConfiguration();
    const RConfiguration out = tavrin::LoadExportConfiguration();
    EXPECT_EQ(std::tie(in.Protocol, in.Port, in.SSHKey, in.SSHKeyPass, in.SSHAgent),
              std::make_tuple("SFTP", "22", "/home/u/.ssh/id_ed25519", "secret words", false));
    EXPECT_EQ(std::tie(out.Protocol, out.Port, out.SSHKey, out.SSHKeyPass, out.SSHAgent),
              std::make_tuple("SFTP", "22", "", "", true));
    // The export page wrote no key it left at its default.
    for (const std::string& line : SettingsLines())
        EXPECT_FALSE(line.starts_with("Export.SSHKey")) << line;

    // Back to FTP: the keys now in the file follow the page.
    import.cmbProtocol->setCurrentIndex(0);
    import.SaveConfiguration();
    EXPECT_EQ(tavrin::LoadImportConfiguration().Protocol, "FTP");
    EXPECT_EQ(tavrin::LoadImportConfiguration().Port, "21");
}

} // namespace
