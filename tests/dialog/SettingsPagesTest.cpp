#include "DialogTestSupport.h"

#include "config/SettingsFile.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameGeneralUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDesktopServices>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QUrl>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>

using tavrin::TMessageKind;

namespace {

const std::string kClearQuestion = "Clearing the list will allow Import Monitor to download "
                                   "again the same files.\r\nContinue clearing the list?";
const std::string kCleared = "List clear.\r\n\r\nSave settings before exit.";

using PagesTest = DialogTest;

TEST_F(PagesTest, KeepAliveGreysOutTheCheckInterval) {
    TfrImport page;
    RConfiguration loaded;
    page.LoadConfiguration(loaded); // no file: keep-alive is on
    EXPECT_TRUE(loaded.KeepAlive);
    EXPECT_FALSE(page.edtCheckInterval->isEnabled());
    EXPECT_FALSE(page.lbCheckInterval->isEnabled());
    page.chkKeepAlive->setChecked(false);
    EXPECT_TRUE(page.edtCheckInterval->isEnabled());
    EXPECT_TRUE(page.lbCheckInterval->isEnabled());
    page.chkKeepAlive->setChecked(true);
    EXPECT_FALSE(page.edtCheckInterval->isEnabled());
    // Nothing else depends on a box.
    page.chkUseSSL->setChecked(false);
    page.chkDownloadToFolder->setChecked(false);
    EXPECT_TRUE(page.edtSSLCertificate->isEnabled());
    EXPECT_TRUE(page.edtDownloadToFolder->isEnabled());

    EXPECT_TRUE(page.chkWaitForStableFiles->isChecked()); // on unless switched off

    WriteFile(configPath_, "[Import]\nKeepAlive=0\nWaitForStableFiles=0\n");
    TfrImport polled;
    polled.LoadConfiguration(loaded);
    EXPECT_TRUE(polled.edtCheckInterval->isEnabled());
    EXPECT_EQ(polled.edtCheckInterval->text(), "10");
    EXPECT_FALSE(polled.chkWaitForStableFiles->isChecked());
    polled.chkWaitForStableFiles->setChecked(true);
    polled.SaveConfiguration();
    EXPECT_TRUE(tavrin::LoadImportConfiguration().WaitForStableFiles);
}

// Both pages offer the two ways TLS starts; the choice shows what the file holds and is
// saved with the page, each page in its own section.
TEST_F(PagesTest, TlsChoiceOffersExplicitAndImplicitAndRoundTrips) {
    WriteFile(configPath_, "[Import]\nSSL=1\nImplicitTLS=1\n[Export]\nSSL=1\n");
    TfrImport import;
    TfrExport exporter;
    RConfiguration loaded;
    import.LoadConfiguration(loaded);
    exporter.LoadConfiguration(loaded);
    for (QComboBox* choice : {import.cmbTlsMode, exporter.cmbTlsMode}) {
        ASSERT_EQ(choice->count(), 2);
        EXPECT_EQ(choice->itemText(0), "FTP with explicit TLS");
        EXPECT_EQ(choice->itemText(1), "FTP with implicit TLS");
    }
    EXPECT_EQ(import.cmbTlsMode->currentIndex(), 1);
    EXPECT_EQ(exporter.cmbTlsMode->currentIndex(), 0);
    EXPECT_TRUE(import.chkUseSSL->isChecked()); // the certificate stays a separate choice

    import.cmbTlsMode->setCurrentIndex(0);
    exporter.cmbTlsMode->setCurrentIndex(1);
    import.SaveConfiguration();
    exporter.SaveConfiguration();
    EXPECT_FALSE(tavrin::LoadImportConfiguration().ImplicitTLS);
    EXPECT_TRUE(tavrin::LoadExportConfiguration().ImplicitTLS);
}

TEST_F(PagesTest, BrowseButtonsReplaceTheTextOnlyWhenConfirmed) {
    TfrExport page;
    page.edtMoveToLocalFolder->setText("/old");
    recorder_.QueueChosenPath(std::nullopt);
    QTest::mouseClick(page.btnMoveToLocalFolder, Qt::LeftButton);
    EXPECT_EQ(page.edtMoveToLocalFolder->text(), "/old");
    recorder_.QueueChosenPath("/chosen/folder");
    QTest::mouseClick(page.btnMoveToLocalFolder, Qt::LeftButton);
    EXPECT_EQ(page.edtMoveToLocalFolder->text(), "/chosen/folder");
    recorder_.QueueChosenPath("/certs/client.key");
    QTest::mouseClick(page.btnSSLKey, Qt::LeftButton);
    EXPECT_EQ(page.edtSSLKey->text(), "/certs/client.key");
    EXPECT_TRUE(page.edtSSLCertificate->text().isEmpty());

    std::vector<TMessageKind> kinds;
    for (const auto& shown : recorder_.Messages())
        kinds.push_back(shown.Kind);
    EXPECT_EQ(kinds,
              (std::vector<TMessageKind>{TMessageKind::mkFolderBrowser,
                                         TMessageKind::mkFolderBrowser, TMessageKind::mkFileOpen}));
}

TEST_F(PagesTest, ClearListAsksFirstAndConfirmsWhateverWasThere) {
    WriteFile(registerPath_, "a.txt\r\nb.txt\r\n");
    TfrGeneral page;
    recorder_.QueueWarningAnswer(false);
    QTest::mouseClick(page.btnClearList, Qt::LeftButton);
    EXPECT_TRUE(std::filesystem::exists(registerPath_));
    ASSERT_EQ(recorder_.Messages().size(), 1u);
    EXPECT_EQ(recorder_.Messages()[0].Kind, TMessageKind::mkWarning);
    EXPECT_EQ(recorder_.Messages()[0].Text, kClearQuestion);

    recorder_.Clear();
    recorder_.QueueWarningAnswer(true);
    QTest::mouseClick(page.btnClearList, Qt::LeftButton);
    EXPECT_FALSE(std::filesystem::exists(registerPath_));
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkInformation), std::vector<std::string>{kCleared});

    // Nothing to delete still confirms.
    recorder_.Clear();
    recorder_.QueueWarningAnswer(true);
    QTest::mouseClick(page.btnClearList, Qt::LeftButton);
    EXPECT_EQ(recorder_.Texts(TMessageKind::mkInformation), std::vector<std::string>{kCleared});
}

TEST_F(PagesTest, ClearListReportsARegisterThatCannotBeDeleted) {
    WriteFile(registerPath_, "a.txt\r\n");
    // An immutable file resists deletion even by root; not every file system offers it.
    int fd = ::open(registerPath_.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    int flags = 0;
    bool immutable = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                     (flags |= FS_IMMUTABLE_FL, ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0);
    if (!immutable) {
        ::close(fd);
        GTEST_SKIP() << "cannot make a file immutable here";
    }
    TfrGeneral page;
    recorder_.QueueWarningAnswer(true);
    QTest::mouseClick(page.btnClearList, Qt::LeftButton);
    flags &= ~FS_IMMUTABLE_FL;
    ::ioctl(fd, FS_IOC_SETFLAGS, &flags);
    ::close(fd);
    EXPECT_TRUE(std::filesystem::exists(registerPath_));
    EXPECT_TRUE(recorder_.Texts(TMessageKind::mkInformation).empty());
    auto errors = recorder_.Texts(TMessageKind::mkError);
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].starts_with("Unable to delete " + registerPath_)) << errors[0];
}

// Stands in for the desktop's handler of local files.
class OpenedUrls : public QObject {
    Q_OBJECT
public:
    std::vector<QUrl> urls;
public slots:
    void open(const QUrl& url) { urls.push_back(url); }
};

TEST_F(PagesTest, EditListOpensTheRegisterOnlyWhenItExists) {
    OpenedUrls opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    TfrGeneral page;
    QTest::mouseClick(page.btnEditList, Qt::LeftButton);
    EXPECT_TRUE(opened.urls.empty());

    WriteFile(registerPath_, "a.txt\r\n");
    QTest::mouseClick(page.btnEditList, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("file");
    ASSERT_EQ(opened.urls.size(), 1u);
    EXPECT_EQ(opened.urls[0].toLocalFile().toStdString(), registerPath_);
    EXPECT_TRUE(recorder_.Messages().empty());
}

} // namespace

#include "SettingsPagesTest.moc"
