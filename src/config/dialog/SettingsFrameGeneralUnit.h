#pragma once
// The "3. General" settings page: which activity-log lines are shown, and the register of
// downloaded files (clear it, or open it in the desktop's editor).
#include "config/SettingsFile.h"

#include <QFrame>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TfrGeneral : public QFrame {
    Q_OBJECT
public:
    explicit TfrGeneral(QWidget* parent = nullptr);

    // Reads the four switches from the file (which also sets the process-wide switches) and
    // shows them, with how much of the log is kept.
    void LoadLogSwitches();
    // Writes the four boxes to the file, then sets the process-wide switches from them; then
    // how much of the log is kept.
    void SaveLogSwitches();

    // Deletes the register after a warning, so the import monitor fetches every file again.
    void btnClearListClick();
    // Opens the register with the desktop's handler for text files, when there is one.
    void btnEditListClick();

    QCheckBox* chkLogMonitor;
    QCheckBox* chkLogSSL;
    QCheckBox* chkLogFile;
    QCheckBox* chkLogVerbose;
    QPushButton* btnClearList;
    QPushButton* btnEditList;

    // How much of the log is kept: lines in the window, and the optional log file.
    QSpinBox* spnLogLines;
    QLineEdit* edtLogFile;
    QPushButton* btnLogFile;
    void btnLogFileClick();

private:
    tavrin::TLogSwitchValues Shown() const;
    QWidget* BuildLogKeepingGroup();
};
