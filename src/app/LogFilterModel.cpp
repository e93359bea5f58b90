#include "app/LogFilterModel.h"

#include "app/ActivityLogModel.h"

TLogFilterModel::TLogFilterModel(QObject* parent) : QSortFilterProxyModel(parent) {}

void TLogFilterModel::SetJob(const std::string& job) {
    if (job == job_)
        return;
    job_ = job;
    jobPrefix_ = job.empty() ? std::string() : job + " > ";
    invalidateFilter();
}

void TLogFilterModel::SetErrorsOnly(bool errorsOnly) {
    if (errorsOnly == errorsOnly_)
        return;
    errorsOnly_ = errorsOnly;
    invalidateFilter();
}

bool TLogFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
    if (log_ == nullptr)
        return true;
    const TLogLine& line = log_->Line(sourceRow);
    if (errorsOnly_ && line.Colour != clRed)
        return false;
    return jobPrefix_.empty() || line.Text.starts_with(jobPrefix_);
}
