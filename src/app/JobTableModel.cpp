#include "app/JobTableModel.h"

namespace tavrin::app {
namespace {

const char* const kHeaders[jcColumnCount] = {"Name",          "Direction", "Server",    "State",
                                             "Transfer",      "Bytes",     "Rate",      "Time left",
                                             "Last transfer", "Today",     "Last error"};

std::string BytesText(const TTransferProgress& progress) {
    if (!progress.total)
        return SizeText(progress.done);
    return SizeText(progress.done) + " of " + SizeText(*progress.total);
}

} // namespace

std::string CellText(const TJobRowFacts& row, TJobColumn column,
                     std::chrono::system_clock::time_point now) {
    const tavrin::jobs::TJobActivity& activity = row.activity;
    // The transfer columns speak only of a transfer still moving.
    const bool moving = activity.current && activity.current->phase == TTransferPhase::Moving;
    switch (column) {
    case jcName:
        return row.name;
    case jcDirection:
        return row.kind == tavrin::jobs::TJobKind::Import ? "Import" : "Export";
    case jcServer:
        return row.server;
    case jcState:
        return LookText(LookOf(row.state, activity));
    case jcTransfer:
        return moving ? activity.current->file : std::string();
    case jcBytes:
        return moving ? BytesText(*activity.current) : std::string();
    case jcRate:
        return moving ? RateText(activity.bytesPerSecond) : std::string();
    case jcTimeLeft:
        return moving && activity.timeLeft ? DurationText(*activity.timeLeft) : std::string();
    case jcLastTransfer:
        return activity.lastTransferAt ? MomentText(*activity.lastTransferAt, now) + ", " +
                                             SizeText(activity.lastTransferSize)
                                       : std::string();
    case jcToday:
        return std::to_string(activity.filesToday);
    case jcLastError:
        // A refused start is the newest failure of a stopped job.
        if (row.state == tavrin::jobs::TJobState::FailedToStart && !row.startError.empty())
            return row.startError;
        return activity.lastError;
    case jcColumnCount:
        break;
    }
    return {};
}

QColor LookColour(TJobLook look) {
    switch (look) {
    case TJobLook::Stopped:
        return QColor(110, 110, 110);
    case TJobLook::Running:
        return QColor(0, 128, 0);
    case TJobLook::Transferring:
        return QColor(0, 90, 200);
    case TJobLook::Failing:
        return QColor(255, 0, 0);
    }
    return {};
}

TJobTableModel::TJobTableModel(tavrin::jobs::TJobSet& jobs, QObject* parent)
    : QAbstractTableModel(parent) {
    connect(&jobs, &tavrin::jobs::TJobSet::JobStateChanged, this,
            [this](tavrin::jobs::TJob* job, tavrin::jobs::TJobState) { JobChanged(job); });
    connect(&jobs, &tavrin::jobs::TJobSet::JobActivityChanged, this,
            [this](tavrin::jobs::TJob* job) { JobChanged(job); });
}

void TJobTableModel::SetJobs(std::vector<TListedJob> jobs) {
    beginResetModel();
    rows_ = std::move(jobs);
    endResetModel();
}

tavrin::jobs::TJob* TJobTableModel::JobAt(int row) const {
    return row >= 0 && row < rowCount() ? rows_[static_cast<size_t>(row)].job : nullptr;
}

int TJobTableModel::RowOf(const tavrin::jobs::TJob* job) const {
    for (size_t row = 0; row < rows_.size(); ++row)
        if (rows_[row].job == job)
            return static_cast<int>(row);
    return -1;
}

TJobRowFacts TJobTableModel::Facts(int row) const {
    const TListedJob& listed = rows_.at(static_cast<size_t>(row));
    const tavrin::jobs::TJob& job = *listed.job;
    return {job.Name(), job.Kind(), listed.server, job.State(), job.Activity(), job.LastError()};
}

void TJobTableModel::JobChanged(tavrin::jobs::TJob* job) {
    const int row = RowOf(job);
    if (row >= 0)
        emit dataChanged(index(row, 0), index(row, jcColumnCount - 1));
}

int TJobTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int TJobTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : jcColumnCount;
}

QVariant TJobTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= jcColumnCount)
        return {};
    const TJobRowFacts facts = Facts(index.row());
    const auto column = static_cast<TJobColumn>(index.column());
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromStdString(CellText(facts, column, std::chrono::system_clock::now()));
    case Qt::ToolTipRole:
        if (column == jcLastError || column == jcServer || column == jcTransfer)
            return QString::fromStdString(
                CellText(facts, column, std::chrono::system_clock::now()));
        return {};
    case Qt::ForegroundRole:
        if (column == jcState)
            return LookColour(LookOf(facts.state, facts.activity));
        if (column == jcLastError)
            return LookColour(TJobLook::Failing);
        return {};
    case ProgressRole:
        if (column == jcTransfer && facts.activity.current &&
            facts.activity.current->phase == TTransferPhase::Moving)
            if (const std::optional<int> percent = PercentDone(*facts.activity.current))
                return *percent;
        return {};
    default:
        return {};
    }
}

QVariant TJobTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= jcColumnCount)
        return {};
    return QString::fromLatin1(kHeaders[section]);
}

} // namespace tavrin::app
