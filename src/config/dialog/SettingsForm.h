#pragma once
// The modal settings dialog: the list of pages at the left, the page in use at the right,
// Save and Cancel below. Save writes only the page on display.
#include "secrets/Keyring.h"

#include <QDialog>

#include <memory>
#include <string>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrExport;
class TfrGeneral;
class TfrImport;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    // The pages keep passwords in `keyring`; nullptr: the desktop's keyring.
    explicit TfrmSettings(QWidget* parent = nullptr, tavrin::TKeyring* keyring = nullptr);
    ~TfrmSettings() override;

    // Builds the page list and lets each page load; the General page is shown first.
    void FormShow();
    void treeOptionsFocusedNodeChanged(QTreeWidgetItem* focused, QTreeWidgetItem* previous);
    // Saves the page on display, confirms, and closes with OK, also when the save failed (the
    // failure has been shown by then, and the caller still restarts its monitors).
    void btnSaveClick();

    // A line for the log from the last save: the passwords did not go where the page's
    // keyring box said. Empty otherwise.
    const std::string& SaveNote() const { return saveNote_; }

    // The page now in pnlSettings, or nullptr.
    QWidget* DisplayedPage() const { return displayedPage_; }

    QTreeWidget* treeOptions;
    QWidget* pnlSettings;
    QPushButton* btnSave;
    QPushButton* btnCancel;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QTreeWidgetItem* AddNode(const QString& text, int image, QWidget* page);

    TfrGeneral* frGeneral_ = nullptr;
    TfrImport* frImport_ = nullptr;
    TfrExport* frExport_ = nullptr;
    QWidget* displayedPage_ = nullptr;
    std::unique_ptr<tavrin::TKeyring> ownKeyring_;
    tavrin::TKeyring* keyring_;
    std::string saveNote_;
};
