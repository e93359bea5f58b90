#pragma once
// The lines of the activity log: text and colour, in memory only, never trimmed.
//
// Append may be called from any thread. The model itself is touched only on its own (the
// window's) thread: a line from another thread waits in a queue that a queued call empties,
// and a line from the window's thread first takes along whatever waits there. So lines
// appear in the order their Append calls were made, which keeps each writer's order; a busy
// writer's lines arrive in batches, one row insertion per batch.
#include "config/LogEvent.h"

#include <QAbstractListModel>

#include <mutex>
#include <string>
#include <vector>

struct TLogLine {
    std::string Text; // bytes as written (UTF-8 in practice)
    TColor Colour;
};

class TActivityLogModel : public QAbstractListModel {
    Q_OBJECT
public:
    // The line's colour value (a TColor as an unsigned int); the view maps it to a QColor.
    static constexpr int ColourRole = Qt::UserRole + 1;

    explicit TActivityLogModel(QObject* parent = nullptr);

    void Append(std::string text, TColor colour);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // Lines already in the model (not those still queued), for the window's own use.
    const TLogLine& Line(int row) const { return lines_.at(static_cast<size_t>(row)); }

private:
    void InsertWaitingLines(std::vector<TLogLine> batch);
    void FlushWaitingLines();

    std::vector<TLogLine> lines_;

    std::mutex waitingMutex_;
    std::vector<TLogLine> waiting_; // appended on other threads, not yet in lines_
    bool flushPosted_ = false;
};
