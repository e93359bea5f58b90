#pragma once
// The lines of the activity log: text and colour, in memory, the newest LineLimit kept.
//
// Append may be called from any thread. The model itself is touched only on its own (the
// window's) thread: a line from another thread waits in a queue that a queued call empties,
// and a line from the window's thread first takes along whatever waits there. So lines
// appear in the order their Append calls were made, which keeps each writer's order; a busy
// writer's lines arrive in batches, one row insertion per batch.
//
// A program meant to run for weeks must not grow without end: past the limit the oldest
// lines go, from the front of a deque and in batches of a 64th of the limit (so between
// LineLimit and LineLimit + LineLimit / 64 lines are kept), and each line costs O(1)
// however long the log is.
#include "config/LogEvent.h"

#include <QAbstractListModel>

#include <chrono>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct TLogLine {
    std::string Text; // bytes as written (UTF-8 in practice)
    TColor Colour;
    // When its Append was made; shown, copied and saved as a local "HH:MM:SS " in front.
    std::chrono::system_clock::time_point Written{};
};

// "14:03:07": the local time of day a line is shown with.
std::string LogLineTime(std::chrono::system_clock::time_point when);
// The line as the list shows it, and as it is copied and saved: time stamp, space, text.
std::string ShownLogLine(const TLogLine& line);

class TActivityLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The line's colour value (a TColor as an unsigned int); the view maps it to a QColor.
    static constexpr int ColourRole = Qt::UserRole + 1;
    // The line's text alone, without its time stamp (Qt::DisplayRole has both).
    static constexpr int TextRole = Qt::UserRole + 2;
    static constexpr size_t kDefaultLineLimit = 100000;

    using TLineWritten =
        std::function<void(const TLogLine&, std::chrono::system_clock::time_point)>;

    explicit TActivityLogModel(QObject* parent = nullptr);

    void Append(std::string text, TColor colour);

    // 0 keeps every line. A lower limit drops the oldest lines at once (in the batch rule).
    void SetLineLimit(size_t limit);
    size_t LineLimit() const { return lineLimit_; }
    // Called on the window's thread for every line as it enters the list, with the moment
    // its Append was made (the log file writes it).
    void SetLineWritten(TLineWritten onLine) { onLineWritten_ = std::move(onLine); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Lines already in the model (not those still queued), for the window's own use.
    const TLogLine& Line(int row) const { return lines_.at(static_cast<size_t>(row)); }

private:
    void InsertWaitingLines(std::vector<TLogLine> batch);
    void FlushWaitingLines();
    void DropOldest(size_t batch);

    std::deque<TLogLine> lines_;
    size_t lineLimit_ = kDefaultLineLimit;
    TLineWritten onLineWritten_;

    std::mutex waitingMutex_;
    std::vector<TLogLine> waiting_; // appended on other threads, not yet in lines_
    bool flushPosted_ = false;
};
