#include "config/dialog/SettingsBinding.h"

#include "config/dialog/SettingsPageParts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QSignalBlocker>

#include <algorithm>
#include <stdexcept>

namespace tavrin {
namespace {

// Every control the table names must be on the page; a missing one is a page that does not
// match the table, never a user's doing.
QWidget* ControlOf(const QWidget* page, const TSettingKey& key) {
    auto* control = page->findChild<QWidget*>(QString::fromLatin1(key.Control));
    if (control == nullptr)
        throw std::logic_error(std::string("The settings page has no control ") + key.Control);
    return control;
}

void Show(QWidget* control, const TSettingKey& key, const std::string& stored) {
    const QSignalBlocker quiet(control);
    if (auto* edit = qobject_cast<QLineEdit*>(control)) {
        edit->setText(ToQString(stored));
    } else if (auto* check = qobject_cast<QCheckBox*>(control)) {
        check->setChecked(stored == "1");
    } else if (auto* choice = qobject_cast<QComboBox*>(control)) {
        if (TypeOf(key) == TKeyType::Boolean)
            choice->setCurrentIndex(stored == "1" ? 1 : 0);
        else
            choice->setCurrentIndex(
                std::max(0, choice->findText(ToQString(stored), Qt::MatchFixedString)));
    }
}

std::string Read(const QWidget* control, const TSettingKey& key) {
    if (auto* edit = qobject_cast<const QLineEdit*>(control))
        return TextOf(edit);
    if (auto* check = qobject_cast<const QCheckBox*>(control))
        return check->isChecked() ? "1" : "0";
    auto* choice = qobject_cast<const QComboBox*>(control);
    if (choice == nullptr)
        throw std::logic_error(std::string("No way to read the control ") + key.Control);
    if (TypeOf(key) == TKeyType::Boolean)
        return choice->currentIndex() == 1 ? "1" : "0";
    return choice->currentText().toStdString();
}

} // namespace

void ShowRecord(QWidget* page, TDirection direction, const RConfiguration& record) {
    for (const TSettingKey& key : SettingKeys())
        if (key.Control && IsUsedBy(key, direction))
            Show(ControlOf(page, key), key, StoredText(record, key));
}

TSettingsSource ControlSource(const QWidget* page) {
    return [page](const TSettingKey& key) -> std::optional<std::string> {
        if (key.Control == nullptr)
            return std::nullopt;
        return Read(ControlOf(page, key), key);
    };
}

} // namespace tavrin
