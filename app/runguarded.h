#pragma once

#include <QString>
#include <functional>

namespace platform {
class MessageBox;
}

// Runs a command from the window so that no exception reaches the event loop, where Qt would
// end the program with the settings unsaved: the failure is told in a box titled title instead.
void runGuarded(platform::MessageBox& messages, const QString& title, const std::function<void()>& command);
