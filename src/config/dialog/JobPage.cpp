#include "config/dialog/JobPage.h"

#include "config/ConfigPaths.h"
#include "config/SettingsFile.h"
#include "config/dialog/ConnectionTest.h"
#include "config/dialog/FilterPreview.h"
#include "config/dialog/JobStore.h"
#include "config/dialog/SettingsBinding.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"
#include "config/dialog/SettingsPageParts.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace tavrin {
namespace {

// Each wait for the server; the outcome is on the page well within 20 s.
constexpr int kReplyLimitMs = 15000;

const QString kFieldMark = QStringLiteral("border: 1px solid #c00000;");

QWidget* NewForm(TDirection direction, QWidget* parent, TKeyring* keyring) {
    if (direction == TDirection::Import)
        return new TfrImport(parent, keyring);
    return new TfrExport(parent, keyring);
}

TPageSecrets& SecretsOf(QWidget* form) {
    if (auto* import = qobject_cast<TfrImport*>(form))
        return import->Secrets();
    return static_cast<TfrExport*>(form)->Secrets();
}

TFilterGroup* FilterGroupOf(QWidget* form) {
    if (auto* import = qobject_cast<TfrImport*>(form))
        return import->grpWhichFiles;
    return static_cast<TfrExport*>(form)->grpWhichFiles;
}

void ShowInForm(QWidget* form, const RConfiguration& record) {
    if (auto* import = qobject_cast<TfrImport*>(form))
        import->ShowConfiguration(record);
    else if (auto* exported = qobject_cast<TfrExport*>(form))
        exported->ShowConfiguration(record);
}

} // namespace

TJobPage::TJobPage(const std::string& name, TDirection direction, const std::string& section,
                   const RConfiguration& record, bool enabled, QWidget* parent, TKeyring* keyring)
    : QFrame(parent), name_(name), direction_(direction), section_(section), standard_(false),
      loaded_(record), savedEnabled_(enabled) {
    Build(keyring);
    // A job from the file shows the secrets its own name keeps in the keyring.
    SecretsOf(form_).Load(name_, loaded_, !section_.empty());
    chkJobEnabled = NewCheck("chkJobEnabled", QStringLiteral("Run this job"), this);
    chkJobEnabled->setChecked(enabled);
    static_cast<QVBoxLayout*>(layout())->insertWidget(0, chkJobEnabled);
    ShowInForm(form_, loaded_);
    if (!section_.empty())
        savedTexts_ = ControlTexts();
}

TJobPage::TJobPage(TDirection direction, QWidget* parent, TKeyring* keyring)
    : QFrame(parent), name_(SectionName(direction)), direction_(direction),
      section_(SectionName(direction)), standard_(true) {
    Build(keyring);
    if (auto* import = qobject_cast<TfrImport*>(form_))
        import->LoadConfiguration(loaded_);
    else if (auto* exported = qobject_cast<TfrExport*>(form_))
        exported->LoadConfiguration(loaded_);
    savedTexts_ = ControlTexts();
}

TJobPage::~TJobPage() {
    // The test's waits are bounded, so this wait is too.
    if (tester_.joinable())
        tester_.join();
}

void TJobPage::Build(TKeyring* keyring) {
    setObjectName(QStringLiteral("jobPage"));
    form_ = NewForm(direction_, this, keyring);
    btnTestConnection = new QPushButton(QStringLiteral("Test connection"), this);
    btnTestConnection->setObjectName(QStringLiteral("btnTestConnection"));
    btnTestConnection->setAutoDefault(false);
    lbTestResult = NewLabel("lbTestResult", QString(), this);
    lbTestResult->setWordWrap(true);
    lbTestResult->setTextFormat(Qt::PlainText);
    lbProblems = NewLabel("lbProblems", QString(), this);
    lbProblems->setWordWrap(true);
    lbProblems->setTextFormat(Qt::PlainText);
    lbProblems->setStyleSheet(QStringLiteral("color: #c00000;"));
    lbProblems->hide();

    auto* testRow = new QHBoxLayout;
    testRow->addWidget(btnTestConnection);
    testRow->addWidget(lbTestResult, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(form_);
    layout->addLayout(testRow);
    layout->addWidget(lbProblems);
    connect(btnTestConnection, &QPushButton::clicked, this, &TJobPage::btnTestConnectionClick);
    if (direction_ == TDirection::Import)
        BuildPreview();
}

void TJobPage::BuildPreview() {
    lstPreview = new QTreeWidget(this);
    lstPreview->setObjectName(QStringLiteral("lstPreview"));
    lstPreview->setColumnCount(2);
    lstPreview->setHeaderLabels({QStringLiteral("File"), QStringLiteral("This job")});
    lstPreview->setRootIsDecorated(false);
    lstPreview->setSelectionMode(QAbstractItemView::NoSelection);
    lstPreview->setFixedHeight(100);
    lstPreview->header()->setStretchLastSection(true);
    lstPreview->hide();
    // Under the test's row, above the problems.
    auto* column = static_cast<QVBoxLayout*>(layout());
    column->insertWidget(column->indexOf(lbProblems), lstPreview);
    // A changed filter field shows its effect on the listing at once.
    for (QWidget* field : FilterGroupOf(form_)->Fields()) {
        if (auto* edit = qobject_cast<QLineEdit*>(field))
            connect(edit, &QLineEdit::textChanged, this, &TJobPage::RefreshPreview);
        else if (auto* check = qobject_cast<QCheckBox*>(field))
            connect(check, &QCheckBox::toggled, this, &TJobPage::RefreshPreview);
    }
}

void TJobPage::RefreshPreview() {
    if (lstPreview == nullptr)
        return;
    lstPreview->clear();
    lstPreview->setVisible(!listed_.empty());
    if (listed_.empty())
        return;
    QList<QTreeWidgetItem*> items;
    for (const TPreviewRow& row : PreviewRows(listed_, Record(), NowAsListed()))
        items.append(new QTreeWidgetItem({ToQString(row.Name), ToQString(row.Verdict)}));
    lstPreview->addTopLevelItems(items);
    lstPreview->resizeColumnToContents(0);
}

std::string TJobPage::Section() const {
    if (standard_)
        return section_;
    return SectionName(direction_) + ":" + name_;
}

std::vector<std::string> TJobPage::ControlTexts() const {
    const TSettingsSource source = ControlSource(form_);
    std::vector<std::string> texts;
    for (const TSettingKey& key : SettingKeys())
        if (key.Control && IsUsedBy(key, direction_))
            texts.push_back(source(key).value_or(std::string()));
    // The keyring box has no key of its own (a save sets PasswordStore from it), yet turning
    // it is a change to save.
    if (const auto* box = form_->findChild<QCheckBox*>(QStringLiteral("chkKeepInKeyring")))
        texts.push_back(box->isChecked() ? "1" : "0");
    return texts;
}

RConfiguration TJobPage::Record() const {
    RConfiguration record = loaded_;
    const TSettingsSource source = ControlSource(form_);
    for (const TSettingKey& key : SettingKeys())
        if (key.Control && IsUsedBy(key, direction_))
            if (auto text = source(key))
                SetFromStored(record, key, *text);
    return record;
}

bool TJobPage::IsEnabled() const {
    return chkJobEnabled == nullptr || chkJobEnabled->isChecked();
}

bool TJobPage::IsChanged() const {
    return section_.empty() || section_ != Section() || savedTexts_ != ControlTexts() ||
           IsEnabled() != savedEnabled_;
}

bool TJobPage::IsChanged(const char* control) const {
    const std::vector<std::string> now = ControlTexts();
    size_t at = 0;
    for (const TSettingKey& key : SettingKeys()) {
        if (!key.Control || !IsUsedBy(key, direction_))
            continue;
        if (std::string_view(key.Control) == control)
            return at >= savedTexts_.size() || savedTexts_[at] != now[at];
        ++at;
    }
    return false;
}

void TJobPage::Save(const std::string& path) {
    if (auto* import = qobject_cast<TfrImport*>(form_); import && standard_) {
        import->SaveConfiguration();
        saveNote_ = import->SaveNote();
    } else if (auto* exported = qobject_cast<TfrExport*>(form_); exported && standard_) {
        exported->SaveConfiguration();
        saveNote_ = exported->SaveNote();
    } else {
        // The whole record, so keys without a control (a copied job's) reach the new section;
        // the secrets go where the page's keyring box says, under this job's own name.
        const RConfiguration record = Record();
        saveNote_ = SecretsOf(form_).Save(
            direction_, Section(), name_,
            [&record](const TSettingKey& key) { return StoredText(record, key); }, path);
    }
    // A job's Enabled is written when it is new or was changed, so other files keep theirs.
    if (!standard_ && (section_.empty() || IsEnabled() != savedEnabled_))
        SaveJobEnabledFlag(Section(), IsEnabled(), path);
}

void TJobPage::MarkSaved() {
    loaded_ = Record();
    section_ = Section();
    savedTexts_ = ControlTexts();
    savedEnabled_ = IsEnabled();
}

std::vector<TFieldProblem> TJobPage::Check(QWidget* owner) const {
    return CheckJobFields(owner, form_, direction_);
}

void TJobPage::ShowProblems(const std::vector<TFieldProblem>& problems) {
    for (QWidget* field : markedFields_)
        field->setStyleSheet(QString());
    markedFields_.clear();
    QStringList lines;
    for (const TFieldProblem& problem : problems) {
        lines << ToQString(problem.Text);
        if (problem.Field) {
            problem.Field->setStyleSheet(kFieldMark);
            problem.Field->setToolTip(ToQString(problem.Text));
            markedFields_.push_back(problem.Field);
        }
    }
    lbProblems->setText(lines.join(QLatin1Char('\n')));
    lbProblems->setVisible(!problems.empty());
    if (!problems.empty() && problems.front().Field)
        problems.front().Field->setFocus();
}

void TJobPage::btnTestConnectionClick() {
    if (testing_)
        return;
    if (tester_.joinable())
        tester_.join(); // the last test, already finished
    const RConfiguration record = Record();
    testing_ = true;
    btnTestConnection->setEnabled(false);
    listed_.clear();
    RefreshPreview();
    lbTestResult->setStyleSheet(QString());
    lbTestResult->setText(
        ToQString("Connecting to " + ServerAddress(record.Host, record.Port) + " ..."));
    tester_ = std::thread([this, record] {
        TConnectionOutcome outcome = TestConnection(record, kReplyLimitMs);
        // Sorted here, off the window's thread: a folder may hold many thousands of entries.
        SortByName(outcome.Entries);
        QMetaObject::invokeMethod(
            this,
            [this, succeeded = outcome.Succeeded, text = ToQString(outcome.Text),
             entries = std::move(outcome.Entries)]() mutable {
                ShowTestOutcome(succeeded, text, std::move(entries));
            },
            Qt::QueuedConnection);
    });
}

void TJobPage::ShowTestOutcome(bool succeeded, const QString& text,
                               std::vector<remote::TRemoteEntry> entries) {
    testing_ = false;
    btnTestConnection->setEnabled(true);
    lbTestResult->setStyleSheet(succeeded ? QStringLiteral("color: #007000;")
                                          : QStringLiteral("color: #c00000;"));
    lbTestResult->setText(text);
    listed_ = std::move(entries);
    RefreshPreview();
}

} // namespace tavrin
