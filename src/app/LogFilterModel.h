#pragma once
// The log as the filter bar narrows it: one job's lines (those that begin with its name and
// " > "), and or only the failures (red lines). The filter is a view onto the log's own
// lines; nothing is removed from the log, and copy and save keep working on what is shown.
#include <QSortFilterProxyModel>

#include <string>

class TActivityLogModel;

class TLogFilterModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit TLogFilterModel(QObject* parent = nullptr);

    void SetLog(TActivityLogModel* log) { log_ = log; }
    // Empty: every job's lines (and lines of no job).
    void SetJob(const std::string& job);
    void SetErrorsOnly(bool errorsOnly);
    const std::string& Job() const { return job_; }
    bool ErrorsOnly() const { return errorsOnly_; }
    bool Filtering() const { return !job_.empty() || errorsOnly_; }

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    TActivityLogModel* log_ = nullptr;
    std::string job_;
    std::string jobPrefix_;
    bool errorsOnly_ = false;
};
