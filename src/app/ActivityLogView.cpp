#include "app/ActivityLogView.h"

#include "app/ActivityLogModel.h"

#include <QApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScrollBar>

namespace {
constexpr TColor kSystemColourFlag = 0xff000000;
constexpr TColor kSystemHotLight = 26;
constexpr TColor kSystemDarkShadow = 21;
} // namespace

QColor LogLineColour(TColor colour, const QPalette& palette) {
    if ((colour & 0xff000000) == kSystemColourFlag) {
        switch (colour & 0x00ffffff) {
        case kSystemHotLight:
            return palette.color(QPalette::Link);
        case kSystemDarkShadow:
            return palette.color(QPalette::Shadow);
        default:
            return palette.color(QPalette::Text);
        }
    }
    return QColor(static_cast<int>(colour & 0xff), static_cast<int>((colour >> 8) & 0xff),
                  static_cast<int>((colour >> 16) & 0xff));
}

void TLogItemDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                             const QModelIndex& index) const {
    // The list's own background even for the selected item: only the focus frame marks the
    // current line, so the newest line never turns into a highlight bar.
    painter->fillRect(option.rect, option.palette.color(QPalette::Base));

    const TColor colour = index.data(TActivityLogModel::ColourRole).toUInt();
    painter->setPen(LogLineColour(colour, option.palette));
    painter->setFont(option.font);
    // One line even for texts that carry a CR LF (a NOOP reply does).
    const QRect textRect = option.rect.adjusted(kTextIndent, 0, 0, 0);
    painter->drawText(textRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine,
                      index.data(Qt::DisplayRole).toString());

    if (option.state & QStyle::State_HasFocus) {
        QStyleOptionFocusRect focus;
        focus.QStyleOption::operator=(option);
        focus.backgroundColor = option.palette.color(QPalette::Base);
        const QWidget* widget = option.widget;
        QStyle* style = widget ? widget->style() : QApplication::style();
        style->drawPrimitive(QStyle::PE_FrameFocusRect, &focus, painter, widget);
    }
}

QSize TLogItemDelegate::sizeHint(const QStyleOptionViewItem& option,
                                 const QModelIndex& index) const {
    // Every row has the same height; the width follows the view, as a list box's items do.
    return QSize(1, kItemHeight);
}

TActivityLogView::TActivityLogView(QWidget* parent) : QTableView(parent) {
    setObjectName(QStringLiteral("lstLog"));
    setItemDelegate(new TLogItemDelegate(this));
    horizontalHeader()->hide();
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(TLogItemDelegate::kItemHeight);
    verticalHeader()->setDefaultSectionSize(TLogItemDelegate::kItemHeight);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // Selection and scrolling follow the newest line in FollowNewest, once per turn.
    setAutoScroll(false);
    QFont listFont = font();
    listFont.setPixelSize(11);
    setFont(listFont);
}

void TActivityLogView::SetLogModel(TActivityLogModel* model) {
    setModel(model);
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { FollowNewest(); });
}

// Selecting or scrolling makes the view lay out all its items again, so it happens once for
// all the lines that arrived in one turn of the event loop, not once per line (which would
// make a long log quadratic).
void TActivityLogView::FollowNewest() {
    if (followPosted_)
        return;
    followPosted_ = true;
    QMetaObject::invokeMethod(
        this, [this] { SelectNewest(); }, Qt::QueuedConnection);
}

void TActivityLogView::SelectNewest() {
    followPosted_ = false;
    const int rows = model()->rowCount();
    if (rows == 0)
        return;
    const QModelIndex newest = model()->index(rows - 1, 0);
    selectionModel()->setCurrentIndex(newest, QItemSelectionModel::ClearAndSelect);
    scrollTo(newest, QAbstractItemView::PositionAtBottom);
}
