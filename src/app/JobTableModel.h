#pragma once
// The job table's rows: one per job the settings file defines, in the file's order, each
// following its job's state and activity as they change.
#include "app/JobRowText.h"
#include "jobs/JobSet.h"

#include <QAbstractTableModel>
#include <QColor>

#include <chrono>
#include <string>
#include <vector>

namespace tavrin::app {

enum TJobColumn {
    jcName,
    jcDirection,
    jcServer,
    jcState,
    jcTransfer,
    jcBytes,
    jcRate,
    jcTimeLeft,
    jcLastTransfer,
    jcToday,
    jcLastError,
    jcColumnCount
};

// Everything one row shows, taken from its job at one moment.
struct TJobRowFacts {
    std::string name;
    tavrin::jobs::TJobKind kind = tavrin::jobs::TJobKind::Import;
    std::string server;
    tavrin::jobs::TJobState state = tavrin::jobs::TJobState::Stopped;
    tavrin::jobs::TJobActivity activity;
    std::string startError; // why the last start was refused
};

// The text of one cell.
std::string CellText(const TJobRowFacts& row, TJobColumn column,
                     std::chrono::system_clock::time_point now);
QColor LookColour(TJobLook look);

class TJobTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Percent done of the current transfer (int), or an invalid QVariant: the delegate draws
    // the bar from it.
    static constexpr int ProgressRole = Qt::UserRole + 1;

    struct TListedJob {
        tavrin::jobs::TJob* job;
        std::string server;
    };

    TJobTableModel(tavrin::jobs::TJobSet& jobs, QObject* parent = nullptr);

    // The rows from now on. Call it before a listed job leaves the set.
    void SetJobs(std::vector<TListedJob> jobs);
    tavrin::jobs::TJob* JobAt(int row) const;
    int RowOf(const tavrin::jobs::TJob* job) const;
    TJobRowFacts Facts(int row) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void JobChanged(tavrin::jobs::TJob* job);

    std::vector<TListedJob> rows_;
};

} // namespace tavrin::app
