#include "JobDialogSupport.h"

#include "config/dialog/FilterPreview.h"
#include "servers/ChildProcess.h"
#include "servers/RealServers.h"

#include <QCheckBox>
#include <QTreeWidget>

#include <chrono>
#include <fstream>
#include <functional>

namespace {

using tavrin::TPreviewRow;
using tavrin::remote::TRemoteEntry;
using tavrin::remote::TRemoteKind;
using TRows = std::vector<std::pair<std::string, std::string>>;

TRows Pairs(const std::vector<TPreviewRow>& rows) {
    TRows pairs;
    for (const TPreviewRow& row : rows)
        pairs.emplace_back(row.Name, row.Verdict);
    return pairs;
}

// Days since 30 December 1899, as listings give times.
constexpr double kNow = 46000.5;
constexpr double kHour = 1.0 / 24;

TRemoteEntry File(const char* name, int64_t size, double ageHours) {
    return {name, TRemoteKind::File, size, true, kNow - ageHours * kHour, true};
}

TEST(FilterPreviewRows, EachEntryGetsWhatTheImportWouldDoWithIt) {
    struct Row {
        const char* what;
        std::function<void(RConfiguration&)> settings;
        std::vector<TRemoteEntry> entries;
        size_t limit;
        TRows expected;
    };
    const auto minSizeAndAge = [](RConfiguration& c) {
        c.MinSize = "1k";
        c.MinAge = "3600";
    };
    const std::vector<Row> rows = {
        {"a listing without sizes or times holds nothing back for them",
         minSizeAndAge,
         {{"bare", TRemoteKind::File, 0, false, 0, false}, File("small", 10, 5)},
         10,
         {{"bare", "taken"}, {"small", "left out: smaller than MinSize 1k"}}},
        {"a time ahead of ours counts as just modified",
         minSizeAndAge,
         {File("ahead", 4096, -3), File("old", 4096, 2)},
         10,
         {{"ahead", "left out: younger than MinAge 3600"}, {"old", "taken"}}},
        {"links and folders are no files; with subfolders a visible folder is walked",
         [](RConfiguration& c) {
             c.Recursive = true;
             c.MaxDepth = 1;
         },
         {{"dir", TRemoteKind::Directory},
          {".git", TRemoteKind::Directory},
          {"link", TRemoteKind::Link}},
         10,
         {{"dir", "subfolder: its files are filtered too"},
          {".git", "left out: not a file"},
          {"link", "left out: not a file"}}},
        {"subfolders with depth 0 walk nothing",
         [](RConfiguration& c) {
             c.Recursive = true;
             c.MaxDepth = 0;
         },
         {{"dir", TRemoteKind::Directory}},
         10,
         {{"dir", "left out: not a file"}}},
        {"case matters unless told otherwise",
         [](RConfiguration& c) { c.Include = "*.pdf"; },
         {File("A.PDF", 1, 1), File("b.pdf", 1, 1)},
         10,
         {{"A.PDF", "left out: not matched by Include *.pdf"}, {"b.pdf", "taken"}}},
        {"ignoring case",
         [](RConfiguration& c) {
             c.Include = "*.pdf";
             c.IgnoreCase = true;
         },
         {File("A.PDF", 1, 1)},
         10,
         {{"A.PDF", "taken"}}},
        {"beyond the limit only a count",
         [](RConfiguration&) {},
         {File("a", 1, 1), File(".b", 1, 1), File("c", 1, 1), File("d", 1, 1)},
         2,
         {{"a", "taken"}, {".b", "left out: hidden"}, {"\xE2\x80\xA6 and 2 more", ""}}},
        {"a filter the job could not start with shows its problems, not verdicts",
         [](RConfiguration& c) {
             c.Include = "[x";
             c.MinAge = "soon";
         },
         {File("a", 1, 1)},
         10,
         {{"Include pattern \"[x\" has an unbalanced \"[\"", "the job cannot start with this"},
          {"MinAge \"soon\" is not a whole number of seconds", "the job cannot start with this"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        RConfiguration config;
        row.settings(config);
        EXPECT_EQ(Pairs(tavrin::PreviewRows(row.entries, config, kNow, row.limit)), row.expected);
    }
}

using FilterPreviewTest = JobDialogTest;

// Test connection on an import page lists the real folder once; the preview follows the
// filter fields as they are edited afterwards, and a failed test takes it away.
TEST_F(FilterPreviewTest, TestConnectionPreviewsWhichFilesTheImportTakes) {
    const std::string root = testsrv::MakeTempDir("dlg-preview-");
    std::filesystem::create_directory(root + "/in");
    std::filesystem::create_directory(root + "/in/sub");
    const auto now = std::filesystem::file_time_type::clock::now();
    struct FileMade {
        const char* name;
        size_t size;
        bool young;
    };
    for (const FileMade& file : {FileMade{"taken.pdf", 2000, false},
                                 {"skip.tmp", 2000, false},
                                 {"tiny.pdf", 10, false},
                                 {"young.pdf", 2000, true},
                                 {".hidden.pdf", 2000, false}}) {
        const std::string path = root + "/in/" + file.name;
        std::ofstream(path) << std::string(file.size, 'x');
        std::filesystem::last_write_time(path, file.young ? now : now - std::chrono::hours(24));
    }
    testsrv::PyFtpdServer server({.root = root});

    Open();
    tavrin::TJobPage* job = Job("Import");
    TfrImport* page = ImportForm();
    EXPECT_EQ(Job("Export")->lstPreview, nullptr);
    ASSERT_NE(job->lstPreview, nullptr);
    EXPECT_TRUE(job->lstPreview->isHidden());
    page->edtHost->setText("127.0.0.1");
    page->edtPort->setText(QString::number(server.Port()));
    page->edtUsername->setText("tavrin");
    page->edtPassword->setText("secret");
    page->edtRemoteFolder->setText("/in");
    page->edtExclude->setText("*.tmp");
    page->edtMinSize->setText("1k");
    page->edtMinAge->setText("3600");

    const auto shown = [job] {
        TRows rows;
        for (int i = 0; i < job->lstPreview->topLevelItemCount(); ++i)
            rows.emplace_back(job->lstPreview->topLevelItem(i)->text(0).toStdString(),
                              job->lstPreview->topLevelItem(i)->text(1).toStdString());
        return rows;
    };
    const auto test = [&] {
        QTest::mouseClick(job->btnTestConnection, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return !job->IsTesting(); }, 20000));
    };
    struct Step {
        const char* what;
        std::function<void()> act;
        TRows expected; // empty: the preview is hidden
    };
    const std::vector<Step> steps = {
        {"the test's listing, each entry marked",
         test,
         {{".hidden.pdf", "left out: hidden"},
          {"skip.tmp", "left out: excluded by *.tmp"},
          {"sub", "left out: not a file"},
          {"taken.pdf", "taken"},
          {"tiny.pdf", "left out: smaller than MinSize 1k"},
          {"young.pdf", "left out: younger than MinAge 3600"}}},
        {"subfolders on and another Include, without a new listing",
         [page] {
             page->chkRecursive->setChecked(true);
             page->edtInclude->setText("*.tmp; y*");
             page->edtMinAge->clear();
         },
         {{".hidden.pdf", "left out: hidden"},
          {"skip.tmp", "left out: excluded by *.tmp"},
          {"sub", "subfolder: its files are filtered too"},
          {"taken.pdf", "left out: not matched by Include *.tmp; y*"},
          {"tiny.pdf", "left out: not matched by Include *.tmp; y*"},
          {"young.pdf", "taken"}}},
        {"a size that is no size",
         [page] { page->edtMaxSize->setText("big"); },
         {{"MaxSize \"big\" is not a size: a whole number of bytes, or of k, M or G "
           "(1024-based)",
           "the job cannot start with this"}}},
        {"a failed test takes the preview away",
         [&] {
             page->edtPassword->setText("wrong");
             test();
         },
         {}},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(shown(), step.expected);
        EXPECT_EQ(job->lstPreview->isHidden(), step.expected.empty());
    }
    std::filesystem::remove_all(root);
}

} // namespace
