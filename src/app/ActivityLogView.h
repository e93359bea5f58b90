#pragma once
// The activity log list: every item 14 pixels high, drawn over the list's own background in
// the line's colour. While the list shows its bottom it follows the newest line (selected,
// in view); scrolled up, it stays where the user put it so old lines can be read while a
// monitor runs, and it follows again once scrolled back down. The selection catches up with
// the newest line on the next turn of the event loop, once for all lines that arrived.
// A line wider than the list shows whole as its tool tip; selected lines copy with Ctrl+C,
// and the context menu also saves the whole log to a file.
//
// A one-column table rather than a list view: a list view lays out every item again after
// each insertion, which costs milliseconds per line once the log holds a few hundred
// thousand; the table's rows are fixed-height header sections and cost next to nothing.
#include "config/LogEvent.h"

#include <string>

#include <QPalette>
#include <QStyledItemDelegate>
#include <QTableView>

class TActivityLogModel;
class TLogFilterModel;
struct TLogLine;

// The colour a line is drawn in. 0x00BBGGRR is an RGB colour; 0xFF0000nn names a system
// colour: 26 (hot-tracking) is the palette's link colour, 21 (dark shadow) its shadow colour,
// any other the list's text colour.
QColor LogLineColour(TColor colour, const QPalette& palette);

class TLogItemDelegate : public QStyledItemDelegate {
public:
    static constexpr int kItemHeight = 14;
    static constexpr int kTextIndent = 2;

    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;
};

class TActivityLogView : public QTableView {
    Q_OBJECT
public:
    explicit TActivityLogView(QWidget* parent = nullptr);

    void SetLogModel(TActivityLogModel* model);
    // Shows only the lines of `job` (empty: every job) and, when asked, only failures. The
    // unfiltered list shows the log itself, so a long log costs nothing extra then.
    void SetFilter(const std::string& job, bool errorsOnly);
    const TLogFilterModel* Filter() const { return filter_; }

    // Whether new lines are followed: the list shows its bottom (or the user came back to it).
    bool Following() const { return following_; }
    // The selected lines' texts, in list order, one per line.
    QString SelectedText() const;
    void CopySelection();
    // Asks for a file and writes every line shown to it, each with its time stamp; a failure
    // goes to the error box.
    void SaveLogAs();

    QAction* actCopy = nullptr;
    QAction* actSaveLogAs = nullptr;

private:
    void FollowNewest();
    void SelectNewest();
    void ShowModel(QAbstractItemModel* shown);
    const TLogLine& ShownLine(int row) const;

    TActivityLogModel* logModel_ = nullptr;
    TLogFilterModel* filter_ = nullptr;
    bool followPosted_ = false;
    bool following_ = true;
    int valueBeforeDrop_ = 0;
};
