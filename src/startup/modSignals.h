#pragma once

#include <functional>

namespace sonavel {

// Turns SIGTERM, SIGINT and SIGHUP (a logout, Ctrl+C, a closed terminal) into
// a call of onSignal on the event loop, so that the program closes its window,
// and so saves the settings, instead of dying with them unsaved. Call once,
// after the QApplication exists.
void CloseOnTerminationSignals(std::function<void()> onSignal);

} // namespace sonavel
