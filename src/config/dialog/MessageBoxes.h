#pragma once
// Every message box, error box, folder browser and file-open dialog of the program goes
// through these functions. A test puts a TMessageRecorder in place: it sees exactly what a
// user would have been shown, and it answers in the user's place, so no test ever blocks on
// a modal box.
//
// Qt must never see an exception: a slot that can fail runs its body through RunGuarded,
// which turns whatever escapes into the modal error box and lets the event loop go on.
#include <chrono>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class QWidget;

namespace tavrin {

enum class TMessageKind {
    mkInformation,
    mkWarning,
    mkError,
    mkFolderBrowser,
    mkFileOpen,
    mkFileSave,
    mkTextInput
};

struct TShownMessage {
    TMessageKind Kind;
    std::string Text; // the box's text; for the two dialogs their title (often empty)
};

// Information box with an OK button.
void ShowInformation(QWidget* parent, const std::string& text);
// Warning box with Yes and No; true only when the user chose Yes.
bool AskWarning(QWidget* parent, const std::string& text);
// The modal error box for a failure; returns when the user has closed it.
void ShowErrorBox(QWidget* parent, const std::string& text);
// Folder browser (folders only). The chosen folder's path, or nothing when cancelled.
std::optional<std::string> BrowseForFolder(QWidget* parent, const std::string& title = {});
// File-open dialog (no file-type filter). The chosen file's full path, or nothing.
std::optional<std::string> BrowseForFile(QWidget* parent, const std::string& title = {});
// File-save dialog: the file need not exist yet. The chosen path, or nothing.
std::optional<std::string> BrowseForSaveFile(QWidget* parent, const std::string& title = {});

// A line of text the user types (a job's name), starting as `initial`; nothing when cancelled.
std::optional<std::string> AskText(QWidget* parent, const std::string& label,
                                   const std::string& initial = {});

// The message of a failure caught as std::current_exception(), as the error box shows it.
std::string FailureMessage(const std::exception_ptr& failure);

// Runs body; a failure that escapes it is shown in the error box (parent as its owner).
// Never lets an exception out, so it is safe as the whole body of a slot.
template <typename Body> void RunGuarded(QWidget* parent, Body&& body) noexcept {
    try {
        body();
    } catch (...) {
        std::string text = FailureMessage(std::current_exception());
        try {
            ShowErrorBox(parent, text);
        } catch (...) {
            // Nothing sensible is left to do if even the box fails; Qt must not see it.
        }
    }
}

// Takes the place of the real boxes and dialogs while it exists (one at a time). Records
// every box and dialog in the order shown and answers from its scripted answers: warnings
// get No and dialogs are cancelled once the scripts run out.
class TMessageRecorder {
public:
    TMessageRecorder();
    ~TMessageRecorder();
    TMessageRecorder(const TMessageRecorder&) = delete;
    TMessageRecorder& operator=(const TMessageRecorder&) = delete;

    void QueueWarningAnswer(bool yes);
    // Answer for the next folder browser, file-open dialog or text prompt; nothing = the
    // user cancels.
    void QueueChosenPath(std::optional<std::string> path);

    std::vector<TShownMessage> Messages() const;
    std::vector<std::string> Texts(TMessageKind kind) const;
    void Clear();
    // Processes the window's events until at least count boxes were shown or limit passed.
    bool WaitForMessages(size_t count, std::chrono::milliseconds limit) const;

    // Used by the functions above.
    void Record(TMessageKind kind, const std::string& text);
    bool NextWarningAnswer();
    std::optional<std::string> NextChosenPath();

private:
    mutable std::mutex mutex_;
    std::vector<TShownMessage> messages_;
    std::deque<bool> warningAnswers_;
    std::deque<std::optional<std::string>> chosenPaths_;
};

} // namespace tavrin
