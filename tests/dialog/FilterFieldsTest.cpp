#include "JobDialogSupport.h"

#include <QCheckBox>

#include <functional>
#include <map>

using tavrin::TMessageKind;

namespace {

using FilterFieldsTest = JobDialogTest;
using TTexts = std::map<std::string, std::string>;

const char* const kFilterKeys[] = {"Include", "Exclude", "IgnoreCase", "MinSize",
                                   "MaxSize", "MinAge",  "Recursive",  "MaxDepth"};

// The filter controls of a page by object name: edit boxes' texts, "1"/"0" for boxes.
TTexts FilterTexts(const QWidget* form) {
    TTexts texts;
    for (const char* name :
         {"edtInclude", "edtExclude", "edtMinSize", "edtMaxSize", "edtMinAge", "edtMaxDepth"})
        if (auto* edit = form->findChild<QLineEdit*>(name))
            texts[name] = edit->text().toStdString();
    for (const char* name : {"chkIgnoreCase", "chkRecursive"})
        if (auto* check = form->findChild<QCheckBox*>(name))
            texts[name] = check->isChecked() ? "1" : "0";
    return texts;
}

void Type(QWidget* form, const TTexts& texts) {
    for (const auto& [name, text] : texts) {
        if (auto* edit = form->findChild<QLineEdit*>(QString::fromStdString(name)))
            edit->setText(QString::fromStdString(text));
        else
            form->findChild<QCheckBox*>(QString::fromStdString(name))->setChecked(text == "1");
    }
}

// Each page shows the filter its section holds and writes what was typed; keys a file never
// had stay out of it unless a value other than the default is chosen.
TEST_F(FilterFieldsTest, FieldsLoadFromAndSaveToTheirSection) {
    struct Row {
        const char* what;
        std::string importKeys;    // added to GoodFile()'s "Import"
        std::string extraSections; // after GoodFile()
        const char* job;
        TTexts shown;
        TTexts typed;
        std::vector<std::string> present;        // "Section.Key=value" after Save
        std::vector<std::string> absentSections; // sections that must hold no filter key
    };
    const TTexts defaults = {{"edtInclude", ""},    {"edtExclude", ""},   {"chkIgnoreCase", "0"},
                             {"edtMinSize", ""},    {"edtMaxSize", ""},   {"edtMinAge", ""},
                             {"chkRecursive", "0"}, {"edtMaxDepth", "10"}};
    const std::vector<Row> rows = {
        {"a file without the keys: defaults shown, another field saved, no filter key written",
         "",
         "",
         "Import",
         defaults,
         {},
         {"Import.Host=typed.example"},
         {"Import", "Export"}},
        {"every key set: shown as written, edits and a cleared value saved, the rest kept",
         "Include=*.pdf; *.tif\nExclude=~*\nIgnoreCase=1\nMinSize=1k\nMaxSize=2G\nMinAge=30\n"
         "Recursive=1\nMaxDepth=3\n",
         "",
         "Import",
         {{"edtInclude", "*.pdf; *.tif"},
          {"edtExclude", "~*"},
          {"chkIgnoreCase", "1"},
          {"edtMinSize", "1k"},
          {"edtMaxSize", "2G"},
          {"edtMinAge", "30"},
          {"chkRecursive", "1"},
          {"edtMaxDepth", "3"}},
         {{"edtInclude", "*.csv"}, {"edtMinAge", ""}, {"chkRecursive", "0"}},
         {"Import.Include=*.csv", "Import.Exclude=~*", "Import.IgnoreCase=1", "Import.MinSize=1k",
          "Import.MaxSize=2G", "Import.MinAge=", "Import.Recursive=0", "Import.MaxDepth=3"},
         {"Export"}},
        {"the export page's values, subfolders too, go to its own section",
         "",
         "",
         "Export",
         defaults,
         {{"edtInclude", "*.pdf"},
          {"chkIgnoreCase", "1"},
          {"edtMaxSize", "10M"},
          {"chkRecursive", "1"},
          {"edtMaxDepth", "2"}},
         {"Export.Include=*.pdf", "Export.IgnoreCase=1", "Export.MaxSize=10M", "Export.Recursive=1",
          "Export.MaxDepth=2"},
         {"Import"}},
        {"a named import job keeps its filter in its own section",
         "",
         "[Import:Scans]\nLocalFolder=@\nHost=scans.example\nExclude=*.tmp\nMaxDepth=0\n",
         "Scans",
         {{"edtInclude", ""},
          {"edtExclude", "*.tmp"},
          {"chkIgnoreCase", "0"},
          {"edtMinSize", ""},
          {"edtMaxSize", ""},
          {"edtMinAge", ""},
          {"chkRecursive", "0"},
          {"edtMaxDepth", "0"}},
         {{"edtMinSize", "1"}, {"chkRecursive", "1"}},
         {"Import:Scans.Exclude=*.tmp", "Import:Scans.MinSize=1", "Import:Scans.Recursive=1",
          "Import:Scans.MaxDepth=0"},
         {"Import", "Export"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        std::string extra = row.extraSections;
        if (const size_t at = extra.find('@'); at != std::string::npos)
            extra.replace(at, 1, dir_);
        std::string file = GoodFile() + extra;
        file.insert(file.find("[Export]"), row.importKeys);
        WriteFile(configPath_, file);
        recorder_.Clear();
        Open();
        QWidget* form = Job(row.job)->Form();
        EXPECT_EQ(FilterTexts(form), row.shown);
        Type(form, row.typed);
        if (row.typed.empty())
            form->findChild<QLineEdit*>("edtHost")->setText("typed.example");
        Save();
        ASSERT_FALSE(dialog_->isVisible()) << Job(row.job)->lbProblems->text().toStdString();
        for (const std::string& line : row.present)
            EXPECT_TRUE(HasLine(line)) << line << "\n" << ReadFile(configPath_);
        for (const std::string& line : SettingsLines())
            for (const std::string& section : row.absentSections)
                for (const char* key : kFilterKeys)
                    EXPECT_FALSE(line.starts_with(section + "." + key + "=")) << line;
        // What was saved is what the next dialog shows.
        Open();
        TTexts expected = row.shown;
        for (const auto& [name, text] : row.typed)
            expected[name] = text;
        EXPECT_EQ(FilterTexts(Job(row.job)->Form()), expected);
        dialog_->reject();
    }
}

// A value the job could not start with is shown at its field with the filter's own words, and
// nothing is written until it is fixed.
TEST_F(FilterFieldsTest, UnreadableValuesBlockSaveAtTheirField) {
    struct Row {
        const char* what;
        const char* job;
        TTexts typed;
        std::vector<std::pair<const char*, std::string>> problems; // field, text, in order
    };
    const std::string notASize =
        " is not a size: a whole number of bytes, or of k, M or G (1024-based)";
    const std::vector<Row> rows = {
        {"an unbalanced [ in Include",
         "Import",
         {{"edtInclude", "*.pdf; [ab"}},
         {{"edtInclude", "Include pattern \"[ab\" has an unbalanced \"[\""}}},
        {"an unbalanced { in Exclude, with IgnoreCase on",
         "Export",
         {{"edtExclude", "{a,b"}, {"chkIgnoreCase", "1"}},
         {{"edtExclude", "Exclude pattern \"{a,b\" has an unbalanced \"{\""}}},
        {"a size with an unknown unit",
         "Import",
         {{"edtMinSize", "10x"}},
         {{"edtMinSize", "MinSize \"10x\"" + notASize}}},
        {"MaxSize below MinSize: the MaxSize field's",
         "Export",
         {{"edtMinSize", "2k"}, {"edtMaxSize", "1k"}},
         {{"edtMaxSize", "MaxSize 1k is smaller than MinSize 2k: no file could be taken"}}},
        {"an age with a fraction",
         "Import",
         {{"edtMinAge", "1.5"}},
         {{"edtMinAge", "MinAge \"1.5\" is not a whole number of seconds"}}},
        {"two bad fields at once, each at its own",
         "Import",
         {{"edtMaxSize", "lots"}, {"edtMinAge", "-5"}},
         {{"edtMaxSize", "MaxSize \"lots\"" + notASize},
          {"edtMinAge", "MinAge \"-5\" is not a whole number of seconds"}}},
        {"a depth that is no number",
         "Import",
         {{"edtMaxDepth", "deep"}},
         {{"edtMaxDepth", "MaxDepth \"deep\" is not a whole number of folder levels from 0 up"}}},
        {"a negative depth on the export page",
         "Export",
         {{"edtMaxDepth", "-1"}},
         {{"edtMaxDepth", "MaxDepth \"-1\" is not a whole number of folder levels from 0 up"}}},
        {"more connections than a job may have",
         "Export",
         {{"edtConnections", "9"}},
         {{"edtConnections", "Connections \"9\" is not a whole number from 1 to 8"}}},
        {"no connection at all",
         "Import",
         {{"edtConnections", "0"}},
         {{"edtConnections", "Connections \"0\" is not a whole number from 1 to 8"}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        WriteFile(configPath_, GoodFile());
        recorder_.Clear();
        Open();
        tavrin::TJobPage* job = Job(row.job);
        Type(job->Form(), row.typed);
        Save();
        EXPECT_TRUE(dialog_->isVisible());
        EXPECT_EQ(ReadFile(configPath_), GoodFile());
        EXPECT_TRUE(recorder_.Texts(TMessageKind::mkInformation).empty());
        EXPECT_EQ(dialog_->DisplayedJob(), job);
        std::string shown;
        for (const auto& [field, text] : row.problems) {
            shown += (shown.empty() ? "" : "\n") + text;
            auto* control = job->Form()->findChild<QWidget*>(field);
            EXPECT_FALSE(control->styleSheet().isEmpty()) << field;
            EXPECT_EQ(control->toolTip().toStdString(), text);
        }
        EXPECT_EQ(job->lbProblems->text().toStdString(), shown);
        for (const char* field :
             {"edtInclude", "edtExclude", "edtMinSize", "edtMaxSize", "edtMinAge"}) {
            const bool marked = std::any_of(row.problems.begin(), row.problems.end(),
                                            [field](const auto& p) { return p.first == field; });
            EXPECT_EQ(job->Form()->findChild<QWidget*>(field)->styleSheet().isEmpty(), !marked)
                << field;
        }
        // Fixed, it saves.
        for (const auto& [field, text] : row.problems)
            job->Form()->findChild<QLineEdit*>(field)->setText(
                std::string_view(field) == "edtMaxDepth"      ? "10"
                : std::string_view(field) == "edtConnections" ? "1"
                                                              : "");
        Save();
        EXPECT_FALSE(dialog_->isVisible()) << job->lbProblems->text().toStdString();
    }
}

} // namespace
