#pragma once
// The activity log list: every item 14 pixels high, drawn over the list's own background in
// the line's colour, and the newest line always the selected one so the list stays on it.
#include "config/LogEvent.h"

#include <QListView>
#include <QPalette>
#include <QStyledItemDelegate>

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

class TActivityLogView : public QListView {
    Q_OBJECT
public:
    explicit TActivityLogView(QWidget* parent = nullptr);

    void SetLogModel(TActivityLogModel* model);

private:
    void SelectNewest(int last);
    void ScrollToNewest();

    bool scrollPosted_ = false;
};
