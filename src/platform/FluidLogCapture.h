#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace sonavel {

// While alive, FluidSynth's warnings and errors are collected here instead of
// being printed, so that a failed load or audio start can tell the user why.
// FluidSynth's log is process-wide: one capture at a time, the next waits.
class FluidLogCapture {
public:
    FluidLogCapture();
    ~FluidLogCapture();
    FluidLogCapture(const FluidLogCapture&) = delete;
    FluidLogCapture& operator=(const FluidLogCapture&) = delete;

    // The messages since the last Take, joined by "; "; empties the list.
    std::string Take();

private:
    static void Collect(int level, const char* message, void* data);

    std::unique_lock<std::mutex> m_exclusive;
    std::mutex m_textMutex;
    std::vector<std::string> m_messages;
};

} // namespace sonavel
