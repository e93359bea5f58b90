#include "app/LogFilterBar.h"

#include "app/ActivityLogView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

TLogFilterBar::TLogFilterBar(TActivityLogView* log, QWidget* parent) : QWidget(parent), log_(log) {
    setObjectName(QStringLiteral("LogFilterBar"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(2, 2, 2, 2);
    auto* label = new QLabel(QStringLiteral("Show"), this);
    cbJob = new QComboBox(this);
    cbJob->setObjectName(QStringLiteral("cbLogJob"));
    cbJob->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    cbJob->addItem(QStringLiteral("All jobs"), QString());
    label->setBuddy(cbJob);
    chkErrorsOnly = new QCheckBox(QStringLiteral("Errors only"), this);
    chkErrorsOnly->setObjectName(QStringLiteral("chkErrorsOnly"));
    layout->addWidget(label);
    layout->addWidget(cbJob);
    layout->addWidget(chkErrorsOnly);
    layout->addStretch(1);
    connect(cbJob, &QComboBox::currentIndexChanged, this, [this] { Apply(); });
    connect(chkErrorsOnly, &QCheckBox::toggled, this, [this] { Apply(); });
}

void TLogFilterBar::SetJobs(const std::vector<std::string>& jobs) {
    const QString chosen = cbJob->currentData().toString();
    {
        const QSignalBlocker quiet(cbJob);
        cbJob->clear();
        cbJob->addItem(QStringLiteral("All jobs"), QString());
        for (const std::string& job : jobs) {
            const QString name = QString::fromStdString(job);
            cbJob->addItem(name, name);
        }
        cbJob->setCurrentIndex(std::max(0, cbJob->findData(chosen)));
    }
    Apply();
}

void TLogFilterBar::Choose(const std::string& job, bool errorsOnly) {
    const QSignalBlocker quietJob(cbJob);
    const QSignalBlocker quietErrors(chkErrorsOnly);
    cbJob->setCurrentIndex(std::max(0, cbJob->findData(QString::fromStdString(job))));
    chkErrorsOnly->setChecked(errorsOnly);
    Apply();
}

void TLogFilterBar::Apply() {
    log_->SetFilter(cbJob->currentData().toString().toStdString(), chkErrorsOnly->isChecked());
}
