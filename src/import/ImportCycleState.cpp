#include "import/ImportCycleState.h"

#include "config/UserMessages.h"
#include "remote/RemoteSession.h"

#include <QCoreApplication>

bool TStableFileTracker::SeenUnchanged(const tavrin::remote::TRemoteEntry& entry) {
    TSeen now{entry.sizeKnown, entry.modifiedKnown, entry.sizeKnown ? entry.size : 0,
              entry.modifiedKnown ? static_cast<double>(entry.modified) : 0.0};
    current_[entry.name] = now;
    if (!now.sizeKnown && !now.timeKnown)
        return true;
    auto before = previous_.find(entry.name);
    return before != previous_.end() && before->second == now;
}

void TStableFileTracker::EndListing() {
    previous_.swap(current_);
    current_.clear();
}

std::shared_ptr<TSharedRegister> AcquireRegister(const std::string& path) {
    auto loaded = std::make_shared<TSharedRegister>(path);
    loaded->names.LoadIfPresent(path);
    return loaded;
}

namespace tavrin {

bool TErrorBox::Show(const std::string& text) {
    if (open_.exchange(true))
        return false;
    QCoreApplication* app = QCoreApplication::instance();
    auto present = [self = shared_from_this(), text] {
        if (self->show_)
            self->show_(text);
        else
            ShowErrorMessage(text);
        self->open_ = false;
    };
    if (app == nullptr) {
        present();
        return true;
    }
    // Posted even on the main thread: a box opened from inside a cycle would hold the cycle
    // below it until someone clicks.
    QMetaObject::invokeMethod(app, std::move(present), Qt::QueuedConnection);
    return true;
}

} // namespace tavrin
