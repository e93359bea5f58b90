#pragma once
// The modal settings dialog: the list of pages at the left, the page in use at the right,
// Save and Cancel below. Save writes only the page on display.
#include <QDialog>

class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;
class TfrExport;
class TfrGeneral;
class TfrImport;

class TfrmSettings : public QDialog {
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);

    // Builds the page list and lets each page load; the General page is shown first.
    void FormShow();
    void treeOptionsFocusedNodeChanged(QTreeWidgetItem* focused, QTreeWidgetItem* previous);
    // Saves the page on display, confirms, and closes with OK, also when the save failed (the
    // failure has been shown by then, and the caller still restarts its monitors).
    void btnSaveClick();

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
};
