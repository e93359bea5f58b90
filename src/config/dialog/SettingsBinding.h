#pragma once
// Shows a record in a settings page and reads the page back, key by key through the key
// table: each key's control is found on the page by its object name. Edit boxes hold texts
// and integers, check boxes Booleans; a choice box holds a Boolean as its index (0 false,
// 1 true) or a text as the chosen item's text.
#include "config/SettingsFile.h"

class QWidget;

namespace tavrin {

// Fills the controls of every key the direction reads. Showing is no edit of the user's: the
// controls' signals are held back meanwhile, so the page applies its rules afterwards.
void ShowRecord(QWidget* page, TDirection direction, const RConfiguration& record);

// What the page's controls hold, for SaveSettings; keys without a control are left alone.
TSettingsSource ControlSource(const QWidget* page);

} // namespace tavrin
