#pragma once

#include <string>

namespace sonavel {

// Puts the calling thread ahead of ordinary programs, as the sound servers'
// own clients do for the thread that feeds them, and says what it got, for
// the trace:
//  - the real-time class (SCHED_FIFO at realtimePriority), where the process
//    may take it itself;
//  - else the same through the desktop's RealtimeKit service on the system
//    bus, at the priority it allows;
//  - else a raised priority (nice -11), through RealtimeKit or directly;
//  - else the normal priority, with the reasons.
// May wait for the system bus for up to half a second.
std::string RaiseThreadPriority(int realtimePriority);

} // namespace sonavel
