#pragma once
// The row above the activity log that narrows it: one job or all of them, and failures only.
#include <QWidget>

#include <string>
#include <vector>

class QCheckBox;
class QComboBox;
class TActivityLogView;

class TLogFilterBar : public QWidget {
    Q_OBJECT
public:
    TLogFilterBar(TActivityLogView* log, QWidget* parent = nullptr);

    // The jobs to choose from; a chosen job that is gone falls back to all jobs.
    void SetJobs(const std::vector<std::string>& jobs);
    // Chooses a job ("" for all) and whether only failures show, as the user would.
    void Choose(const std::string& job, bool errorsOnly);

    QComboBox* cbJob = nullptr;
    QCheckBox* chkErrorsOnly = nullptr;

private:
    void Apply();

    TActivityLogView* log_;
};
