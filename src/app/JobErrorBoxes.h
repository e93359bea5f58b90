#pragma once
// The error boxes of the jobs: at most one per job, never modal, so a failing job never holds
// up the window or the other jobs. A job that fails again while its box is open changes the
// box's text to the newest failure instead of opening another. The box closes itself once
// the job succeeds again. While the settings dialog is open no box shows (the boxes would
// cover it and take its keystrokes); they appear when it closes, unless their job has
// succeeded meanwhile.
#include <QObject>
#include <QPointer>

#include <map>
#include <string>
#include <vector>

class QMessageBox;
class QWidget;

class TJobErrorBoxes : public QObject {
    Q_OBJECT
public:
    explicit TJobErrorBoxes(QWidget* owner);
    ~TJobErrorBoxes() override;

    void Show(const std::string& job, const std::string& text);
    // The job's last cycle or upload went well: its box goes away.
    void Succeeded(const std::string& job);
    void SetDialogOpen(bool open);
    bool DialogOpen() const { return dialogOpen_; }

    struct TBoxState {
        std::string job;
        std::string text;
        bool visible;
        bool operator==(const TBoxState&) const = default;
    };
    // The open boxes (shown or waiting for the dialog to close), by job name.
    std::vector<TBoxState> Boxes() const;
    QMessageBox* Box(const std::string& job) const;

private:
    QWidget* owner_;
    bool dialogOpen_ = false;
    std::map<std::string, QPointer<QMessageBox>> boxes_;
};
