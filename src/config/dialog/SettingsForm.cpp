#include "config/dialog/SettingsForm.h"

#include "config/ConfigPaths.h"
#include "config/dialog/JobPage.h"
#include "config/dialog/JobStore.h"
#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsFrameGeneralUnit.h"
#include "config/dialog/SettingsPageParts.h"
#include "secrets/keyring/DesktopKeyring.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

using tavrin::TDirection;
using tavrin::TJobPage;

namespace {

constexpr int kPageRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

QWidget* PageOf(const QTreeWidgetItem* node) {
    return node ? node->data(0, kPageRole).value<QWidget*>() : nullptr;
}

QPushButton* NewButton(const char* name, const QString& caption, QWidget* parent) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    // Return in an edit box must not press a button by accident.
    button->setAutoDefault(false);
    return button;
}

std::string JoinedNames(const std::vector<std::string>& names) {
    std::string joined;
    for (const std::string& name : names)
        joined += (joined.empty() ? "" : ", ") + name;
    return joined;
}

} // namespace

TfrmSettings::TfrmSettings(QWidget* parent, tavrin::TKeyring* keyring)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint),
      ownKeyring_(keyring ? nullptr : std::make_unique<tavrin::TDesktopKeyring>()),
      keyring_(keyring ? keyring : ownKeyring_.get()) {
    setObjectName(QStringLiteral("frmSettings"));
    setWindowTitle(QStringLiteral("Settings"));
    setModal(true);

    treeOptions = new QTreeWidget(this);
    treeOptions->setObjectName(QStringLiteral("treeOptions"));
    treeOptions->setColumnCount(1); // colOption
    treeOptions->setHeaderHidden(true);
    treeOptions->setRootIsDecorated(false);
    treeOptions->setItemsExpandable(false);
    treeOptions->setEditTriggers(QAbstractItemView::NoEditTriggers);
    treeOptions->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    treeOptions->setFixedWidth(170);
    // The list keeps its own order: "Import", "Export", the further jobs, General last.
    treeOptions->setSortingEnabled(false);

    btnAddImport = NewButton("btnAddImport", QStringLiteral("Add import job"), this);
    btnAddExport = NewButton("btnAddExport", QStringLiteral("Add export job"), this);
    btnDuplicate = NewButton("btnDuplicate", QStringLiteral("Duplicate"), this);
    btnRename = NewButton("btnRename", QStringLiteral("Rename"), this);
    btnRemove = NewButton("btnRemove", QStringLiteral("Remove"), this);
    auto* list = new QVBoxLayout;
    list->addWidget(treeOptions, 1);
    for (QPushButton* button : {btnAddImport, btnAddExport, btnDuplicate, btnRename, btnRemove}) {
        button->setFixedWidth(170);
        list->addWidget(button);
    }

    pnlSettings = new QWidget(this);
    pnlSettings->setObjectName(QStringLiteral("pnlSettings"));
    pnlSettings->setMinimumSize(tavrin::kPageWidth, tavrin::kPageHeight);
    auto* pageArea = new QVBoxLayout(pnlSettings);
    pageArea->setContentsMargins(0, 0, 0, 0);

    btnSave = NewButton("btnSave", QStringLiteral("Save"), this);
    btnCancel = NewButton("btnCancel", QStringLiteral("Cancel"), this);

    auto* body = new QHBoxLayout;
    body->addLayout(list);
    body->addWidget(pnlSettings, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(btnSave);
    buttons->addWidget(btnCancel);
    auto* form = new QVBoxLayout(this);
    form->addLayout(body);
    form->addLayout(buttons);
    form->setSizeConstraint(QLayout::SetFixedSize); // a fixed border

    connect(treeOptions, &QTreeWidget::currentItemChanged, this,
            &TfrmSettings::treeOptionsFocusedNodeChanged);
    connect(btnAddImport, &QPushButton::clicked, this, &TfrmSettings::btnAddImportClick);
    connect(btnAddExport, &QPushButton::clicked, this, &TfrmSettings::btnAddExportClick);
    connect(btnDuplicate, &QPushButton::clicked, this, &TfrmSettings::btnDuplicateClick);
    connect(btnRename, &QPushButton::clicked, this, &TfrmSettings::btnRenameClick);
    connect(btnRemove, &QPushButton::clicked, this, &TfrmSettings::btnRemoveClick);
    connect(btnSave, &QPushButton::clicked, this, &TfrmSettings::btnSaveClick);
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

TfrmSettings::~TfrmSettings() = default;

void TfrmSettings::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!frGeneral_)
        FormShow();
}

QTreeWidgetItem* TfrmSettings::AddNode(const QString& text, int image, QWidget* page) {
    static const QStyle::StandardPixmap kImages[] = {QStyle::SP_ArrowDown, QStyle::SP_ArrowUp,
                                                     QStyle::SP_FileDialogDetailedView};
    auto* node = new QTreeWidgetItem;
    node->setData(0, kPageRole, QVariant::fromValue(page));
    node->setData(0, kImageRole, image);
    node->setText(0, text);
    node->setIcon(0, style()->standardIcon(kImages[image]));
    // Jobs go above the General node, which stays last.
    const int at = generalNode_ ? treeOptions->indexOfTopLevelItem(generalNode_)
                                : treeOptions->topLevelItemCount();
    treeOptions->insertTopLevelItem(at, node);
    page->hide();
    return node;
}

QTreeWidgetItem* TfrmSettings::NodeOf(const QWidget* page) const {
    for (int i = 0; i < treeOptions->topLevelItemCount(); ++i)
        if (PageOf(treeOptions->topLevelItem(i)) == page)
            return treeOptions->topLevelItem(i);
    return nullptr;
}

// The dialog keeps one size whichever page is on display; a page may need more room than it
// was laid out for where the fonts are larger.
void TfrmSettings::FitPageArea(const QWidget* page) {
    pnlSettings->setMinimumSize(pnlSettings->minimumSize().expandedTo(page->sizeHint()));
}

TJobPage* TfrmSettings::AddJobPage(TJobPage* page) {
    const bool standard = page->IsStandard();
    const bool import = page->Direction() == TDirection::Import;
    const QString text = standard ? QString::fromLatin1(import ? "1. Import" : "2. Export")
                                  : tavrin::ToQString(page->Name());
    QTreeWidgetItem* node = AddNode(text, import ? 0 : 1, page);
    node->setToolTip(0, import ? QStringLiteral("Import job") : QStringLiteral("Export job"));
    jobs_.push_back(page);
    FitPageArea(page);
    return page;
}

void TfrmSettings::FormShow() {
    tavrin::RunGuarded(this, [this] {
        frGeneral_ = new TfrGeneral(pnlSettings);
        frGeneral_->LoadLogSwitches();
        generalTexts_ = GeneralTexts();
        generalNode_ = AddNode(QStringLiteral("3. General"), 2, frGeneral_);
        FitPageArea(frGeneral_);

        AddJobPage(new TJobPage(TDirection::Import, pnlSettings, keyring_));
        AddJobPage(new TJobPage(TDirection::Export, pnlSettings, keyring_));
        const std::string path = tavrin::ConfigFilePath();
        for (const tavrin::TStoredJob& job : tavrin::ReadNamedJobs(path))
            AddJobPage(new TJobPage(job.Name, job.Direction, job.Section, job.Record, job.Enabled,
                                    pnlSettings, keyring_));
        treeOptions->setCurrentItem(generalNode_);
    });
}

void TfrmSettings::treeOptionsFocusedNodeChanged(QTreeWidgetItem* focused,
                                                 QTreeWidgetItem* previous) {
    // Only the focused node is bold.
    for (QTreeWidgetItem* node : {previous, focused}) {
        if (!node)
            continue;
        QFont font = treeOptions->font();
        font.setBold(node == focused);
        node->setFont(0, font);
    }
    UpdateJobButtons();
    QWidget* page = PageOf(focused);
    if (!page)
        return;
    // The page that leaves keeps its controls and what was typed into them.
    if (displayedPage_ && displayedPage_ != page) {
        pnlSettings->layout()->removeWidget(displayedPage_);
        displayedPage_->hide();
    }
    if (displayedPage_ != page) {
        pnlSettings->layout()->addWidget(page);
        page->show();
        displayedPage_ = page;
    }
}

QWidget* TfrmSettings::DisplayedPage() const {
    if (TJobPage* job = DisplayedJob())
        return job->Form();
    return displayedPage_;
}

TJobPage* TfrmSettings::DisplayedJob() const {
    return qobject_cast<TJobPage*>(displayedPage_);
}

std::vector<std::string> TfrmSettings::GeneralTexts() const {
    std::vector<std::string> texts;
    for (const QCheckBox* check : {frGeneral_->chkLogMonitor, frGeneral_->chkLogSSL,
                                   frGeneral_->chkLogFile, frGeneral_->chkLogVerbose})
        texts.push_back(check->isChecked() ? "1" : "0");
    texts.push_back(std::to_string(frGeneral_->spnLogLines->value()));
    texts.push_back(tavrin::TextOf(frGeneral_->edtLogFile));
    return texts;
}

// "Passive mode" and "Binary transfer" of "Import" and "Export" are one setting shown on both
// pages. When both pages are saved, the one written last must not undo what the user set on
// the other, so a box changed on one page only is carried to the other.
void TfrmSettings::ReconcileSharedBoxes() {
    TJobPage* import = Job("Import");
    TJobPage* exported = Job("Export");
    if (!import || !exported || !import->IsStandard() || !exported->IsStandard() ||
        !import->IsChanged() || !exported->IsChanged())
        return;
    for (const char* name : {"chkPassive", "chkBinary"}) {
        auto* importBox = import->Form()->findChild<QCheckBox*>(name);
        auto* exportBox = exported->Form()->findChild<QCheckBox*>(name);
        if (importBox && exportBox && import->IsChanged(name) && !exported->IsChanged(name))
            exportBox->setChecked(importBox->isChecked());
    }
}

bool TfrmSettings::CheckChangedJobs() {
    TJobPage* firstFailing = nullptr;
    for (TJobPage* job : jobs_) {
        const std::vector<tavrin::TFieldProblem> problems =
            job->IsChanged() ? job->Check(this) : std::vector<tavrin::TFieldProblem>{};
        job->ShowProblems(problems);
        if (!problems.empty() && !firstFailing)
            firstFailing = job;
    }
    if (firstFailing)
        treeOptions->setCurrentItem(NodeOf(firstFailing));
    return firstFailing == nullptr;
}

void TfrmSettings::WriteChangedPages() {
    const std::string path = tavrin::ConfigFilePath();
    // Removals first: a new job may take the name a removed one had.
    while (!removed_.empty()) {
        tavrin::RemoveJobFromFile(removed_.front().first, path);
        removedJobs_.push_back(removed_.front().second);
        removedNow_.push_back(removed_.front().second);
        removed_.erase(removed_.begin());
    }
    for (TJobPage* job : jobs_) {
        if (!job->IsChanged())
            continue;
        const std::string& from = job->SavedSection();
        if (!from.empty() && from != job->Section()) {
            tavrin::RenameJobInFile(from, job->Section(), path);
            removedJobs_.push_back(from.substr(from.find(':') + 1));
        }
        job->Save(path);
        job->MarkSaved();
        if (!job->SaveNote().empty())
            saveNote_ += (saveNote_.empty() ? "" : "\n") + job->SaveNote();
        changedJobs_.push_back(job->Name());
    }
    if (GeneralTexts() != generalTexts_) {
        frGeneral_->SaveLogSwitches();
        generalTexts_ = GeneralTexts();
    }
}

void TfrmSettings::btnSaveClick() {
    ReconcileSharedBoxes();
    if (!CheckChangedJobs())
        return; // the fields say what is wrong; nothing was written
    // The result is OK whatever the writes do: jobs written before a failure have changed.
    setResult(QDialog::Accepted);
    saveNote_.clear();
    tavrin::RunGuarded(this, [&] {
        removedNow_.clear();
        WriteChangedPages();
        // With nothing changed the file already holds what the pages show.
        std::string text = "Settings saved.";
        if (!changedJobs_.empty())
            text += "\r\n\r\nSaved: " + JoinedNames(changedJobs_);
        if (!removedNow_.empty())
            text += "\r\n\r\nRemoved: " + JoinedNames(removedNow_);
        tavrin::ShowInformation(this, text);
    });
    done(QDialog::Accepted);
}
