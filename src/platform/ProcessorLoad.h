#pragma once

#include <string>

namespace sonavel {

// True when the processors are contended: more threads of other programs
// runnable right now than there are processors, or threads kept waiting for one
// more than a tenth of the last ten seconds (the kernel's pressure stall
// information), as with a build or a video call beside the program. False
// where the system tells neither. why: what was seen, for the trace.
bool ProcessorIsBusy(std::string& why);

} // namespace sonavel
