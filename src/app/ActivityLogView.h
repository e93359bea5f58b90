#pragma once
// The activity log list: every item 14 pixels high, drawn over the list's own background in
// the line's colour, and the newest line always the selected one so the list stays on it.
// The selection catches up with the newest line on the next turn of the event loop, once
// for all lines that arrived meanwhile.
//
// A one-column table rather than a list view: a list view lays out every item again after
// each insertion, which costs milliseconds per line once the log holds a few hundred
// thousand; the table's rows are fixed-height header sections and cost next to nothing.
#include "config/LogEvent.h"

#include <QPalette>
#include <QStyledItemDelegate>
#include <QTableView>

class TActivityLogModel;

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
};

class TActivityLogView : public QTableView {
    Q_OBJECT
public:
    explicit TActivityLogView(QWidget* parent = nullptr);

    void SetLogModel(TActivityLogModel* model);

private:
    void FollowNewest();
    void SelectNewest();

    bool followPosted_ = false;
};
