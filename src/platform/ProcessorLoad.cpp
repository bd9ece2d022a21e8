#include "platform/ProcessorLoad.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace sonavel {

namespace {

constexpr double BusyShare = 10.0; // percent of the time some thread waited

// The field after the command in parentheses, which may hold spaces.
char StateOf(const std::filesystem::path& stat) {
    std::ifstream in(stat);
    std::string line;
    std::getline(in, line);
    const size_t end = line.rfind(')');
    return end != std::string::npos && end + 2 < line.size() ? line[end + 2] : '?';
}

int RunnableThreadsOfThisProcess() {
    int runnable = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it("/proc/self/task", ec), end; !ec && it != end;
         it.increment(ec))
        runnable += StateOf(it->path() / "stat") == 'R';
    return runnable;
}

} // namespace

bool ProcessorIsBusy(std::string& why) {
    // "0.52 0.58 0.59 3/467 12345": the fourth field counts the runnable
    // threads. The program's own (the reader, the window answering a key) do
    // not make the machine busy, and neither do the display server and the
    // like, which are often busy with the key that started the question.
    std::ifstream loadavg("/proc/loadavg");
    std::string skip, running;
    if (loadavg >> skip >> skip >> skip >> running) {
        const long processors = sysconf(_SC_NPROCESSORS_ONLN);
        const long others = std::stol(running) - RunnableThreadsOfThisProcess();
        why = std::to_string(others) + " threads of other programs runnable on " +
              std::to_string(processors) + " processors";
        if (processors > 0 && others > processors)
            return true;
    }
    std::ifstream pressure("/proc/pressure/cpu");
    std::string word;
    while (pressure >> word)
        if (word.rfind("avg10=", 0) == 0) {
            const double share = std::stod(word.substr(6));
            why += ", threads waiting " + word.substr(6) + "% of the last 10 s";
            return share >= BusyShare;
        }
    return false;
}

} // namespace sonavel
