#include "app/ActivityLogView.h"

#include "app/ActivityLogModel.h"
#include "app/LogFilterModel.h"
#include "config/dialog/MessageBoxes.h"
#include "platform/FileSystem.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QHeaderView>
#include <QHelpEvent>
#include <QItemSelectionModel>
#include <QPainter>
#include <QScrollBar>
#include <QToolTip>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

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

bool TLogItemDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view,
                                 const QStyleOptionViewItem& option, const QModelIndex& index) {
    if (event->type() != QEvent::ToolTip || !index.isValid())
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    // Only a line cut off at the right edge needs its whole text shown.
    const QString text = index.data(Qt::DisplayRole).toString();
    const int needed = option.fontMetrics.horizontalAdvance(text) + kTextIndent;
    if (needed > option.rect.width())
        QToolTip::showText(event->globalPos(), text, view);
    else
        QToolTip::hideText();
    return true;
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
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setFrameShape(QFrame::NoFrame);
    // Selection and scrolling follow the newest line in FollowNewest, once per turn.
    setAutoScroll(false);
    QFont listFont = font();
    listFont.setPixelSize(11);
    setFont(listFont);

    // Only the user's own scrolling (or the follow itself) moves the bar; rows added below
    // widen its range without touching its value, so the state survives them.
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { following_ = value >= verticalScrollBar()->maximum(); });

    actCopy = new QAction(QStringLiteral("Copy"), this);
    actCopy->setObjectName(QStringLiteral("actCopy"));
    actCopy->setShortcut(QKeySequence::Copy);
    actCopy->setShortcutContext(Qt::WidgetShortcut);
    connect(actCopy, &QAction::triggered, this, [this] { CopySelection(); });
    actSaveLogAs = new QAction(QStringLiteral("Save log as\u2026"), this);
    actSaveLogAs->setObjectName(QStringLiteral("actSaveLogAs"));
    connect(actSaveLogAs, &QAction::triggered, this,
            [this] { tavrin::RunGuarded(this, [this] { SaveLogAs(); }); });
    addAction(actCopy);
    addAction(actSaveLogAs);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void TActivityLogView::SetLogModel(TActivityLogModel* model) {
    logModel_ = model;
    filter_ = new TLogFilterModel(this);
    filter_->SetLog(model);
    // Dropping the oldest lines would slide the text under a reader's eyes; the bar moves up
    // by as many rows, so the same lines stay where they were.
    connect(model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [this] {
        if (this->model() == logModel_)
            valueBeforeDrop_ = verticalScrollBar()->value();
    });
    connect(model, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex&, int first, int last) {
                if (this->model() == logModel_ && first == 0 && !following_)
                    verticalScrollBar()->setValue(std::max(0, valueBeforeDrop_ - (last + 1)));
            });
    connect(model, &QAbstractItemModel::rowsInserted, this, [this] { FollowNewest(); });
    ShowModel(model);
}

void TActivityLogView::SetFilter(const std::string& job, bool errorsOnly) {
    filter_->SetJob(job);
    filter_->SetErrorsOnly(errorsOnly);
    // The filter follows the log only while it is shown: every line added or dropped would
    // otherwise cost its bookkeeping for nothing.
    if (filter_->Filtering()) {
        if (filter_->sourceModel() != logModel_)
            filter_->setSourceModel(logModel_);
        ShowModel(filter_);
    } else {
        ShowModel(logModel_);
        filter_->setSourceModel(nullptr);
    }
    following_ = true;
    FollowNewest();
}

void TActivityLogView::ShowModel(QAbstractItemModel* shown) {
    if (model() != shown)
        setModel(shown);
}

const TLogLine& TActivityLogView::ShownLine(int row) const {
    if (model() == filter_)
        return logModel_->Line(filter_->mapToSource(filter_->index(row, 0)).row());
    return logModel_->Line(row);
}

QString TActivityLogView::SelectedText() const {
    QModelIndexList rows = selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList texts;
    for (const QModelIndex& row : rows)
        texts << row.data(Qt::DisplayRole).toString();
    return texts.join(QLatin1Char('\n'));
}

void TActivityLogView::CopySelection() {
    const QString text = SelectedText();
    if (!text.isEmpty())
        QApplication::clipboard()->setText(text);
}

void TActivityLogView::SaveLogAs() {
    const std::optional<std::string> path = tavrin::BrowseForSaveFile(this, "Save log as");
    if (!path || !logModel_)
        return;
    std::FILE* file = std::fopen(path->c_str(), "wb");
    bool ok = file != nullptr;
    for (int row = 0; ok && row < model()->rowCount(); ++row) {
        const std::string text = ShownLogLine(ShownLine(row));
        ok = std::fwrite(text.data(), 1, text.size(), file) == text.size() &&
             std::fputc('\n', file) != EOF;
    }
    const int error = errno;
    if (file && std::fclose(file) != 0)
        ok = false;
    if (!ok)
        throw std::runtime_error("Unable to write to " + *path + "\r\n" +
                                 tavrin::fs::SystemErrorText(error));
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
    if (rows == 0 || !following_)
        return;
    const QModelIndex newest = model()->index(rows - 1, 0);
    selectionModel()->setCurrentIndex(newest, QItemSelectionModel::ClearAndSelect |
                                                  QItemSelectionModel::Rows);
    scrollToBottom();
    following_ = true;
}
