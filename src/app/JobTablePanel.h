#pragma once
// The job table above the activity log, its buttons (Start, Stop, Start all, Stop all, Add
// job, Edit job) and, while no job is defined, the invitation to add one. The panel only
// asks; the window decides what a command does.
#include "app/JobTableModel.h"

#include <QStyledItemDelegate>
#include <QWidget>

#include <vector>

class QLabel;
class QPushButton;
class QStackedWidget;
class QTableView;

namespace tavrin::app {

// Draws the current transfer as a progress bar with the file's name on it.
class TTransferDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

class TJobTablePanel : public QWidget {
    Q_OBJECT
public:
    TJobTablePanel(TJobTableModel* model, QWidget* parent = nullptr);

    // The jobs of the selected rows, in table order.
    std::vector<tavrin::jobs::TJob*> SelectedJobs() const;
    void Select(const std::vector<int>& rows);
    bool ShowingEmptyState() const;

    QTableView* tblJobs = nullptr;
    QPushButton* btnStart = nullptr;
    QPushButton* btnStop = nullptr;
    QPushButton* btnStartAll = nullptr;
    QPushButton* btnStopAll = nullptr;
    QPushButton* btnAddJob = nullptr;
    QPushButton* btnEditJob = nullptr;
    QLabel* lblNoJobs = nullptr;
    QPushButton* btnAddFirstJob = nullptr;

signals:
    void StartRequested();
    void StopRequested();
    void StartAllRequested();
    void StopAllRequested();
    void AddRequested();
    void EditRequested(tavrin::jobs::TJob* job);

private:
    void UpdateButtons();

    TJobTableModel* model_;
    QStackedWidget* pages_ = nullptr;
};

} // namespace tavrin::app
