#include "platform/ProcessorLoad.h"

#include <fstream>
#include <string>
#include <unistd.h>

namespace sonavel {

namespace {

constexpr double BusyShare = 10.0; // percent of the time some thread waited

} // namespace

bool ProcessorIsBusy() {
    // "0.52 0.58 0.59 3/467 12345": the fourth field counts the runnable
    // threads, the reader among them.
    std::ifstream loadavg("/proc/loadavg");
    std::string skip, running;
    if (loadavg >> skip >> skip >> skip >> running) {
        const long processors = sysconf(_SC_NPROCESSORS_ONLN);
        if (processors > 0 && std::stol(running) > processors)
            return true;
    }
    std::ifstream pressure("/proc/pressure/cpu");
    std::string word;
    while (pressure >> word)
        if (word.rfind("avg10=", 0) == 0)
            return std::stod(word.substr(6)) >= BusyShare;
    return false;
}

} // namespace sonavel
