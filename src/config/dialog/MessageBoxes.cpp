#include "config/dialog/MessageBoxes.h"

#include <QApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <atomic>

namespace tavrin {
namespace {

std::atomic<TMessageRecorder*> gRecorder{nullptr};

const QString kBoxTitle = QStringLiteral("Tavrin");

QWidget* OwnerOrActive(QWidget* parent) {
    return parent ? parent : QApplication::activeWindow();
}

// Texts are shown as they stand: a "<" in a server's reply must not turn into markup.
int RunBox(QWidget* parent, QMessageBox::Icon icon, const std::string& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton) {
    QMessageBox box(icon, kBoxTitle, QString::fromUtf8(text), buttons, OwnerOrActive(parent));
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(defaultButton);
    return box.exec();
}

std::optional<std::string> ChosenPath(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    return QFile::encodeName(path).toStdString();
}

} // namespace

void ShowInformation(QWidget* parent, const std::string& text) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkInformation, text);
        return;
    }
    RunBox(parent, QMessageBox::Information, text, QMessageBox::Ok, QMessageBox::Ok);
}

bool AskWarning(QWidget* parent, const std::string& text) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkWarning, text);
        return recorder->NextWarningAnswer();
    }
    return RunBox(parent, QMessageBox::Warning, text, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::Yes) == QMessageBox::Yes;
}

void ShowErrorBox(QWidget* parent, const std::string& text) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkError, text);
        return;
    }
    RunBox(parent, QMessageBox::Critical, text, QMessageBox::Ok, QMessageBox::Ok);
}

std::optional<std::string> BrowseForFolder(QWidget* parent, const std::string& title) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkFolderBrowser, title);
        return recorder->NextChosenPath();
    }
    return ChosenPath(QFileDialog::getExistingDirectory(
        OwnerOrActive(parent), QString::fromUtf8(title), QString(), QFileDialog::ShowDirsOnly));
}

std::optional<std::string> BrowseForFile(QWidget* parent, const std::string& title) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkFileOpen, title);
        return recorder->NextChosenPath();
    }
    return ChosenPath(
        QFileDialog::getOpenFileName(OwnerOrActive(parent), QString::fromUtf8(title)));
}

std::optional<std::string> BrowseForSaveFile(QWidget* parent, const std::string& title) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkFileSave, title);
        return recorder->NextChosenPath();
    }
    return ChosenPath(
        QFileDialog::getSaveFileName(OwnerOrActive(parent), QString::fromUtf8(title)));
}

std::optional<std::string> AskText(QWidget* parent, const std::string& label,
                                   const std::string& initial) {
    if (TMessageRecorder* recorder = gRecorder.load()) {
        recorder->Record(TMessageKind::mkTextInput, label);
        return recorder->NextChosenPath();
    }
    bool confirmed = false;
    const QString text =
        QInputDialog::getText(OwnerOrActive(parent), kBoxTitle, QString::fromUtf8(label),
                              QLineEdit::Normal, QString::fromUtf8(initial), &confirmed);
    if (!confirmed)
        return std::nullopt;
    return text.toStdString();
}

std::string FailureMessage(const std::exception_ptr& failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const std::exception& e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

TMessageRecorder::TMessageRecorder() {
    TMessageRecorder* expected = nullptr;
    if (!gRecorder.compare_exchange_strong(expected, this))
        throw std::logic_error("A message recorder is already in place");
}

TMessageRecorder::~TMessageRecorder() {
    TMessageRecorder* self = this;
    gRecorder.compare_exchange_strong(self, nullptr);
}

void TMessageRecorder::QueueWarningAnswer(bool yes) {
    std::lock_guard lock(mutex_);
    warningAnswers_.push_back(yes);
}

void TMessageRecorder::QueueChosenPath(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    chosenPaths_.push_back(std::move(path));
}

std::vector<TShownMessage> TMessageRecorder::Messages() const {
    std::lock_guard lock(mutex_);
    return messages_;
}

std::vector<std::string> TMessageRecorder::Texts(TMessageKind kind) const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> texts;
    for (const TShownMessage& message : messages_)
        if (message.Kind == kind)
            texts.push_back(message.Text);
    return texts;
}

void TMessageRecorder::Clear() {
    std::lock_guard lock(mutex_);
    messages_.clear();
}

bool TMessageRecorder::WaitForMessages(size_t count, std::chrono::milliseconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (messages_.size() >= count)
                return true;
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        QEventLoop pause;
        QTimer::singleShot(10, &pause, &QEventLoop::quit);
        pause.exec();
    }
}

void TMessageRecorder::Record(TMessageKind kind, const std::string& text) {
    std::lock_guard lock(mutex_);
    messages_.push_back({kind, text});
}

bool TMessageRecorder::NextWarningAnswer() {
    std::lock_guard lock(mutex_);
    if (warningAnswers_.empty())
        return false;
    bool yes = warningAnswers_.front();
    warningAnswers_.pop_front();
    return yes;
}

std::optional<std::string> TMessageRecorder::NextChosenPath() {
    std::lock_guard lock(mutex_);
    if (chosenPaths_.empty())
        return std::nullopt;
    std::optional<std::string> path = std::move(chosenPaths_.front());
    chosenPaths_.pop_front();
    return path;
}

} // namespace tavrin
