#include "app/ActivityLogModel.h"

#include <QMetaObject>
#include <QThread>

TActivityLogModel::TActivityLogModel(QObject* parent) : QAbstractListModel(parent) {}

void TActivityLogModel::Append(std::string text, TColor colour) {
    std::vector<TLogLine> batch;
    {
        std::lock_guard lock(waitingMutex_);
        if (QThread::currentThread() != thread()) {
            waiting_.push_back({std::move(text), colour});
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
    batch.push_back({std::move(text), colour});
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
    const int first = static_cast<int>(lines_.size());
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(batch.size()) - 1);
    lines_.insert(lines_.end(), std::make_move_iterator(batch.begin()),
                  std::make_move_iterator(batch.end()));
    endInsertRows();
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
        return QString::fromUtf8(line.Text.data(), static_cast<qsizetype>(line.Text.size()));
    case ColourRole:
        return QVariant::fromValue(static_cast<uint>(line.Colour));
    default:
        return {};
    }
}
