#pragma once
// How code below the window (the export watch thread, for one) shows the user a message box
// without knowing about widgets. The application installs the sink; it must accept calls from
// any thread and show the box on the window's thread. Without a sink the text goes to stderr.
#include <functional>
#include <string>

namespace tavrin {

using TMessageSink = std::function<void(const std::string& text)>;

void SetErrorMessageSink(TMessageSink sink);
void ShowErrorMessage(const std::string& text);

} // namespace tavrin
