#pragma once
// The settings dialog opened as the window opens it, with its job pages at hand.
#include "DialogTestSupport.h"

#include "config/dialog/JobPage.h"
#include "config/dialog/SettingsForm.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>

#include <memory>

class JobDialogTest : public DialogTest {
public: // the tables' rows reach the pages through these
    void Open() {
        dialog_ = std::make_unique<TfrmSettings>();
        dialog_->show();
        ASSERT_TRUE(dialog_->isVisible());
    }
    tavrin::TJobPage* Job(const std::string& name) const { return dialog_->Job(name); }
    TfrImport* ImportForm(const std::string& name = "Import") const {
        return Job(name) ? qobject_cast<TfrImport*>(Job(name)->Form()) : nullptr;
    }
    TfrExport* ExportForm(const std::string& name = "Export") const {
        return Job(name) ? qobject_cast<TfrExport*>(Job(name)->Form()) : nullptr;
    }
    void Save() { QTest::mouseClick(dialog_->btnSave, Qt::LeftButton); }
    std::vector<std::string> NodeTexts() const {
        std::vector<std::string> texts;
        for (int i = 0; i < dialog_->treeOptions->topLevelItemCount(); ++i)
            texts.push_back(dialog_->treeOptions->topLevelItem(i)->text(0).toStdString());
        return texts;
    }
    // A settings file whose "Import" and "Export" pass every check.
    std::string GoodFile() const {
        return "[Import]\nLocalFolder=" + dir_ + "\nHost=import.example\nCheckInterval=0x1E\n" +
               "[Export]\nLocalFolder=" + dir_ + "\nHost=export.example\n";
    }
    bool HasLine(const std::string& line) const {
        const auto lines = SettingsLines();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    std::unique_ptr<TfrmSettings> dialog_;
};
