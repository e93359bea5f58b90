#include "config/dialog/SettingsForm.h"

#include "config/dialog/MessageBoxes.h"
#include "config/dialog/SettingsFrameExportUnit.h"
#include "config/dialog/SettingsFrameGeneralUnit.h"
#include "config/dialog/SettingsFrameImportUnit.h"
#include "config/dialog/SettingsPageParts.h"
#include "secrets/keyring/DesktopKeyring.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

constexpr int kPageRole = Qt::UserRole;
constexpr int kImageRole = Qt::UserRole + 1;

QWidget* PageOf(const QTreeWidgetItem* node) {
    return node ? node->data(0, kPageRole).value<QWidget*>() : nullptr;
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
    treeOptions->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    treeOptions->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    treeOptions->setFixedWidth(170);
    treeOptions->setSortingEnabled(true);
    treeOptions->sortByColumn(0, Qt::AscendingOrder);

    pnlSettings = new QWidget(this);
    pnlSettings->setObjectName(QStringLiteral("pnlSettings"));
    pnlSettings->setMinimumSize(tavrin::kPageWidth, tavrin::kPageHeight);
    auto* pageArea = new QVBoxLayout(pnlSettings);
    pageArea->setContentsMargins(0, 0, 0, 0);

    btnSave = new QPushButton(QStringLiteral("Save"), this);
    btnSave->setObjectName(QStringLiteral("btnSave"));
    btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
    btnCancel->setObjectName(QStringLiteral("btnCancel"));
    // Return in an edit box must not save by accident; Escape still cancels (QDialog).
    btnSave->setAutoDefault(false);
    btnCancel->setAutoDefault(false);

    auto* body = new QHBoxLayout;
    body->addWidget(treeOptions);
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
    auto* node = new QTreeWidgetItem(treeOptions);
    node->setData(0, kPageRole, QVariant::fromValue(page));
    node->setData(0, kImageRole, image);
    node->setText(0, text);
    node->setIcon(0, style()->standardIcon(kImages[image]));
    page->hide();
    return node;
}

void TfrmSettings::FormShow() {
    tavrin::RunGuarded(this, [this] {
        frGeneral_ = new TfrGeneral(pnlSettings);
        frGeneral_->LoadLogSwitches();
        QTreeWidgetItem* general = AddNode(QStringLiteral("3. General"), 2, frGeneral_);

        frImport_ = new TfrImport(pnlSettings, keyring_);
        RConfiguration loaded;
        frImport_->LoadConfiguration(loaded);
        AddNode(QStringLiteral("1. Import"), 0, frImport_);

        frExport_ = new TfrExport(pnlSettings, keyring_);
        frExport_->LoadConfiguration(loaded);
        AddNode(QStringLiteral("2. Export"), 1, frExport_);

        // The dialog keeps one size whichever page is on display; a page may need more
        // room than it was laid out for where the fonts are larger.
        QSize area = pnlSettings->minimumSize();
        for (QWidget* page : {static_cast<QWidget*>(frGeneral_), static_cast<QWidget*>(frImport_),
                              static_cast<QWidget*>(frExport_)})
            area = area.expandedTo(page->sizeHint());
        pnlSettings->setMinimumSize(area);

        treeOptions->setCurrentItem(general);
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

void TfrmSettings::btnSaveClick() {
    // The result is OK whatever the save does.
    setResult(QDialog::Accepted);
    saveNote_.clear();
    tavrin::RunGuarded(this, [this] {
        if (auto* import = qobject_cast<TfrImport*>(displayedPage_)) {
            import->SaveConfiguration();
            saveNote_ = import->SaveNote();
        } else if (auto* exported = qobject_cast<TfrExport*>(displayedPage_)) {
            exported->SaveConfiguration();
            saveNote_ = exported->SaveNote();
        } else if (auto* general = qobject_cast<TfrGeneral*>(displayedPage_)) {
            general->SaveLogSwitches();
        }
        tavrin::ShowInformation(this, "Settings saved.");
    });
    done(QDialog::Accepted);
}
