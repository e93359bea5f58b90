#include "app/JobTablePanel.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableView>
#include <QVBoxLayout>

#include <algorithm>

namespace tavrin::app {

void TTransferDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    const QVariant percent = index.data(TJobTableModel::ProgressRole);
    if (!percent.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionProgressBar bar;
    bar.rect = option.rect.adjusted(1, 1, -1, -1);
    bar.minimum = 0;
    bar.maximum = 100;
    bar.progress = percent.toInt();
    bar.text = index.data(Qt::DisplayRole).toString() + QStringLiteral(" %1%").arg(bar.progress);
    bar.textVisible = true;
    bar.state = option.state | QStyle::State_Horizontal;
    bar.palette = option.palette;
    bar.fontMetrics = option.fontMetrics;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ProgressBar, &bar, painter, widget);
}

TJobTablePanel::TJobTablePanel(TJobTableModel* model, QWidget* parent)
    : QWidget(parent), model_(model) {
    setObjectName(QStringLiteral("JobTablePanel"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* buttons = new QHBoxLayout;
    auto makeButton = [&](const char* name, const char* caption) {
        auto* button = new QPushButton(QString::fromLatin1(caption), this);
        button->setObjectName(QString::fromLatin1(name));
        buttons->addWidget(button);
        return button;
    };
    btnStart = makeButton("btnStart", "Start");
    btnStop = makeButton("btnStop", "Stop");
    btnStartAll = makeButton("btnStartAll", "Start all");
    btnStopAll = makeButton("btnStopAll", "Stop all");
    btnAddJob = makeButton("btnAddJob", "Add job");
    btnEditJob = makeButton("btnEditJob", "Edit job");
    buttons->addStretch(1);
    layout->addLayout(buttons);

    pages_ = new QStackedWidget(this);
    auto* empty = new QWidget(pages_);
    auto* emptyLayout = new QVBoxLayout(empty);
    lblNoJobs = new QLabel(QStringLiteral("No transfer jobs yet"), empty);
    lblNoJobs->setObjectName(QStringLiteral("lblNoJobs"));
    lblNoJobs->setAlignment(Qt::AlignCenter);
    btnAddFirstJob = new QPushButton(QStringLiteral("Add job"), empty);
    btnAddFirstJob->setObjectName(QStringLiteral("btnAddFirstJob"));
    emptyLayout->addStretch(1);
    emptyLayout->addWidget(lblNoJobs);
    emptyLayout->addWidget(btnAddFirstJob, 0, Qt::AlignHCenter);
    emptyLayout->addStretch(1);

    tblJobs = new QTableView(pages_);
    tblJobs->setObjectName(QStringLiteral("tblJobs"));
    tblJobs->setModel(model);
    tblJobs->setItemDelegateForColumn(jcTransfer, new TTransferDelegate(tblJobs));
    tblJobs->setSelectionBehavior(QAbstractItemView::SelectRows);
    tblJobs->setSelectionMode(QAbstractItemView::ExtendedSelection);
    tblJobs->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tblJobs->setWordWrap(false);
    tblJobs->verticalHeader()->hide();
    tblJobs->horizontalHeader()->setStretchLastSection(true);
    tblJobs->setColumnWidth(jcTransfer, 180);
    pages_->addWidget(empty);
    pages_->addWidget(tblJobs);
    layout->addWidget(pages_, 1);

    connect(btnStart, &QPushButton::clicked, this, &TJobTablePanel::StartRequested);
    connect(btnStop, &QPushButton::clicked, this, &TJobTablePanel::StopRequested);
    connect(btnStartAll, &QPushButton::clicked, this, &TJobTablePanel::StartAllRequested);
    connect(btnStopAll, &QPushButton::clicked, this, &TJobTablePanel::StopAllRequested);
    connect(btnAddJob, &QPushButton::clicked, this, &TJobTablePanel::AddRequested);
    connect(btnAddFirstJob, &QPushButton::clicked, this, &TJobTablePanel::AddRequested);
    connect(btnEditJob, &QPushButton::clicked, this, [this] {
        const std::vector<tavrin::jobs::TJob*> selected = SelectedJobs();
        emit EditRequested(selected.empty() ? nullptr : selected.front());
    });
    connect(tblJobs, &QTableView::doubleClicked, this, [this](const QModelIndex& index) {
        if (tavrin::jobs::TJob* job = model_->JobAt(index.row()))
            emit EditRequested(job);
    });
    connect(model, &QAbstractItemModel::modelReset, this, [this] { UpdateButtons(); });
    connect(model, &QAbstractItemModel::dataChanged, this, [this] { UpdateButtons(); });
    connect(tblJobs->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { UpdateButtons(); });
    UpdateButtons();
}

std::vector<tavrin::jobs::TJob*> TJobTablePanel::SelectedJobs() const {
    QModelIndexList rows = tblJobs->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    std::vector<tavrin::jobs::TJob*> jobs;
    for (const QModelIndex& row : rows)
        if (tavrin::jobs::TJob* job = model_->JobAt(row.row()))
            jobs.push_back(job);
    return jobs;
}

void TJobTablePanel::Select(const std::vector<int>& rows) {
    QItemSelectionModel* selection = tblJobs->selectionModel();
    selection->clearSelection();
    for (int row : rows)
        selection->select(model_->index(row, 0),
                          QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool TJobTablePanel::ShowingEmptyState() const {
    return pages_->currentIndex() == 0;
}

// The commands offered are the ones that would do something.
void TJobTablePanel::UpdateButtons() {
    using tavrin::jobs::TJobState;
    const bool any = model_->rowCount() > 0;
    pages_->setCurrentIndex(any ? 1 : 0);
    bool canStart = false, canStop = false, anyStopped = false, anyRunning = false;
    for (int row = 0; row < model_->rowCount(); ++row) {
        const TJobState state = model_->JobAt(row)->State();
        const bool stopped = state == TJobState::Stopped || state == TJobState::FailedToStart;
        anyStopped = anyStopped || stopped;
        anyRunning = anyRunning || state == TJobState::Running;
    }
    const std::vector<tavrin::jobs::TJob*> selected = SelectedJobs();
    for (const tavrin::jobs::TJob* job : selected) {
        canStart = canStart || job->State() == TJobState::Stopped ||
                   job->State() == TJobState::FailedToStart;
        canStop = canStop || job->State() == TJobState::Running;
    }
    btnStart->setEnabled(canStart);
    btnStop->setEnabled(canStop);
    btnStartAll->setEnabled(anyStopped);
    btnStopAll->setEnabled(anyRunning);
    btnEditJob->setEnabled(selected.size() == 1);
    btnStartAll->setVisible(any);
    btnStopAll->setVisible(any);
    btnStart->setVisible(any);
    btnStop->setVisible(any);
    btnEditJob->setVisible(any);
    btnAddJob->setVisible(any); // the empty state has its own
}

} // namespace tavrin::app
