#include "app/ActivityLogModel.h"

#include <QMetaObject>
#include <QThread>

#include <algorithm>
#include <ctime>

std::string LogLineTime(std::chrono::system_clock::time_point when) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string ShownLogLine(const TLogLine& line) {
    return LogLineTime(line.Written) + ' ' + line.Text;
}

TActivityLogModel::TActivityLogModel(QObject* parent) : QAbstractListModel(parent) {}

void TActivityLogModel::Append(std::string text, TColor colour) {
    const auto now = std::chrono::system_clock::now();
    std::vector<TLogLine> batch;
    {
        std::lock_guard lock(waitingMutex_);
        if (QThread::currentThread() != thread()) {
            waiting_.push_back({std::move(text), colour, now});
            if (!flushPosted_) {
                flushPosted_ = true;
                QMetaObject::invokeMethod(
                    this, [this] { FlushWaitingLines(); }, Qt::QueuedConnection);
            }
            return;
        }
        // Lines that other threads wrote before this call come first.
        batch.swap(waiting_);
    }
    batch.push_back({std::move(text), colour, now});
    InsertWaitingLines(std::move(batch));
}

void TActivityLogModel::FlushWaitingLines() {
    std::vector<TLogLine> batch;
    {
        std::lock_guard lock(waitingMutex_);
        batch.swap(waiting_);
        flushPosted_ = false;
    }
    InsertWaitingLines(std::move(batch));
}

void TActivityLogModel::InsertWaitingLines(std::vector<TLogLine> batch) {
    if (batch.empty())
        return;
    if (onLineWritten_)
        for (const TLogLine& waiting : batch)
            onLineWritten_(waiting, waiting.Written);
    // A batch longer than the limit would only be inserted to be dropped again.
    size_t skip = 0;
    if (lineLimit_ != 0 && batch.size() > lineLimit_)
        skip = batch.size() - lineLimit_;
    const int first = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(batch.size() - skip) - 1);
    for (size_t i = skip; i < batch.size(); ++i)
        lines_.push_back(std::move(batch[i]));
    endInsertRows();
    DropOldest(std::max<size_t>(1, lineLimit_ / 64));
}

void TActivityLogModel::SetLineLimit(size_t limit) {
    lineLimit_ = limit;
    DropOldest(1);
}

void TActivityLogModel::DropOldest(size_t batch) {
    if (lineLimit_ == 0 || lines_.size() <= lineLimit_)
        return;
    // Every removal makes the view renumber all its rows, so the oldest lines go in batches
    // of a 64th of the limit: O(1) per line, and never more than that many lines too many.
    const size_t excess = lines_.size() - lineLimit_;
    if (excess < batch)
        return;
    beginRemoveRows(QModelIndex(), 0, static_cast<int>(excess) - 1);
    lines_.erase(lines_.begin(), lines_.begin() + static_cast<std::ptrdiff_t>(excess));
    endRemoveRows();
}

int TActivityLogModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(lines_.size());
}

QVariant TActivityLogModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() < 0 || index.row() >= rowCount())
        return {};
    const TLogLine& line = lines_[static_cast<size_t>(index.row())];
    switch (role) {
    case Qt::DisplayRole:
        return QString::fromUtf8(ShownLogLine(line));
    case TextRole:
        return QString::fromUtf8(line.Text.data(), static_cast<qsizetype>(line.Text.size()));
    case ColourRole:
        return QVariant::fromValue(static_cast<uint>(line.Colour));
    default:
        return {};
    }
}
