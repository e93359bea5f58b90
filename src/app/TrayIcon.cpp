#include "app/TrayIcon.h"

#include "base/StrUtils.h"
#include "config/ConfigPaths.h"
#include "platform/IniFile.h"

#include <QMenu>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

namespace tavrin::app {
namespace {

constexpr int kImageSize = 32;

bool Active(jobs::TJobState state) {
    return state == jobs::TJobState::Running || state == jobs::TJobState::Starting ||
           state == jobs::TJobState::Stopping;
}

} // namespace

TJobGlance GlanceOf(const jobs::TJob& job) {
    TJobGlance glance;
    glance.name = job.Name();
    glance.state = job.State();
    const jobs::TJobActivity& activity = job.Activity();
    glance.failing = activity.failing;
    if (activity.current)
        glance.transferring = activity.current->file;
    glance.lastError =
        job.State() == jobs::TJobState::FailedToStart ? job.LastError() : activity.lastError;
    return glance;
}

TTrayState TrayStateOf(const std::vector<TJobGlance>& jobs) {
    TTrayState worst = TTrayState::Stopped;
    for (const TJobGlance& job : jobs) {
        TTrayState state = TTrayState::Stopped;
        // A job that could not start is failing too: it does none of its work.
        if (job.state == jobs::TJobState::FailedToStart || (Active(job.state) && job.failing))
            state = TTrayState::Failing;
        else if (Active(job.state) && !job.transferring.empty())
            state = TTrayState::Transferring;
        else if (Active(job.state))
            state = TTrayState::Running;
        worst = std::max(worst, state);
    }
    return worst;
}

QString TrayToolTip(const std::vector<TJobGlance>& jobs) {
    QStringList lines;
    for (const TJobGlance& job : jobs) {
        std::string line = job.name + ": ";
        // The first line of a reason is enough for a tooltip.
        const std::string why = job.lastError.substr(0, job.lastError.find('\n'));
        if (job.state == jobs::TJobState::FailedToStart)
            line += "not started: " + why;
        else if (!Active(job.state))
            line += "stopped";
        else if (job.failing)
            line += "failing: " + why;
        else if (!job.transferring.empty())
            line += "moving " + job.transferring;
        else
            line += "running";
        lines << QString::fromStdString(line);
    }
    return lines.join(QLatin1Char('\n'));
}

QIcon TrayImage(TTrayState state) {
    static const QColor colours[] = {QColor(128, 128, 128), QColor(0, 160, 0), QColor(0, 90, 220),
                                     QColor(210, 0, 0)};
    QPixmap image(kImageSize, kImageSize);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(Qt::black, 1.5));
    painter.setBrush(colours[static_cast<int>(state)]);
    painter.drawEllipse(QRectF(3, 3, kImageSize - 6, kImageSize - 6));
    if (state == TTrayState::Transferring) {
        // An arrow, for those who do not tell blue from green.
        painter.setPen(QPen(Qt::white, 3));
        painter.drawLine(QPointF(10, 16), QPointF(22, 16));
        painter.drawLine(QPointF(17, 11), QPointF(22, 16));
        painter.drawLine(QPointF(17, 21), QPointF(22, 16));
    } else if (state == TTrayState::Failing) {
        painter.setPen(QPen(Qt::white, 3));
        painter.drawLine(QPointF(16, 8), QPointF(16, 18));
        painter.drawPoint(QPointF(16, 23));
    }
    painter.end();
    return QIcon(image);
}

bool GeneralSwitch(const std::string& key, bool fallback) {
    const std::string text = TIniFile(ConfigFilePath()).ReadString("General", key, "");
    const auto number = TryStrToInt(text);
    return number ? *number != 0 : fallback;
}

TTrayIcon::TTrayIcon(jobs::TJobSet& jobs, QObject* parent)
    : QObject(parent), jobs_(jobs), available_(QSystemTrayIcon::isSystemTrayAvailable()) {
    menu_ = new QMenu();
    menu_->setObjectName(QStringLiteral("mnTray"));
    ShowAction = menu_->addAction(QStringLiteral("Show window"));
    StartAllAction = menu_->addAction(QStringLiteral("Start all"));
    StopAllAction = menu_->addAction(QStringLiteral("Stop all"));
    menu_->addSeparator();
    QuitAction = menu_->addAction(QStringLiteral("Quit"));

    icon_ = new QSystemTrayIcon(this);
    icon_->setContextMenu(menu_);
    connect(icon_, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason why) {
                if (why == QSystemTrayIcon::Trigger || why == QSystemTrayIcon::DoubleClick)
                    emit Activated();
            });
    connect(&jobs_, &jobs::TJobSet::JobStateChanged, this, [this] { Refresh(); });
    connect(&jobs_, &jobs::TJobSet::JobActivityChanged, this, [this] { Refresh(); });
    Refresh();
    if (available_)
        icon_->show();
}

TTrayIcon::~TTrayIcon() {
    delete menu_; // a menu has no parent object; the icon only borrows it
}

void TTrayIcon::SetAvailable(bool available) {
    available_ = available;
    icon_->setVisible(available);
}

bool TTrayIcon::CloseHides() const {
    return available_ && GeneralSwitch("CloseToTray", false);
}

bool TTrayIcon::ShowMessage(const QString& title, const QString& text) {
    if (!available_ || !icon_->isVisible())
        return false;
    icon_->showMessage(title, text, QSystemTrayIcon::Warning);
    return true;
}

void TTrayIcon::Detach() {
    disconnect(&jobs_, nullptr, this, nullptr);
    icon_->hide();
}

void TTrayIcon::Refresh() {
    std::vector<TJobGlance> glances;
    for (const std::unique_ptr<jobs::TJob>& job : jobs_.Jobs())
        glances.push_back(GlanceOf(*job));
    const TTrayState state = TrayStateOf(glances);
    if (state != state_ || !imageShown_) {
        state_ = state;
        imageShown_ = true;
        icon_->setIcon(TrayImage(state));
    }
    toolTip_ = TrayToolTip(glances);
    icon_->setToolTip(toolTip_);
}

} // namespace tavrin::app
