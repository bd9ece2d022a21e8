#include "platform/FluidLogCapture.h"

#include <algorithm>

#include <fluidsynth.h>

namespace sonavel {

namespace {

std::mutex g_captureMutex;

constexpr int CapturedLevels[] = {FLUID_PANIC, FLUID_ERR, FLUID_WARN, FLUID_INFO};

} // namespace

FluidLogCapture::FluidLogCapture() : m_exclusive(g_captureMutex) {
    for (int level : CapturedLevels)
        fluid_set_log_function(level, &FluidLogCapture::Collect, this);
}

FluidLogCapture::~FluidLogCapture() {
    for (int level : CapturedLevels)
        fluid_set_log_function(level, fluid_default_log_function, nullptr);
}

std::string FluidLogCapture::Take() {
    std::lock_guard lock(m_textMutex);
    std::string text;
    for (const std::string& message : m_messages)
        text += (text.empty() ? "" : "; ") + message;
    m_messages.clear();
    return text;
}

void FluidLogCapture::Collect(int level, const char* message, void* data) {
    // Information lines only list what was tried; the errors say what went wrong.
    if (level == FLUID_INFO || message == nullptr)
        return;
    auto* self = static_cast<FluidLogCapture*>(data);
    std::lock_guard lock(self->m_textMutex);
    // A failed driver is often tried twice in a row; its reason is said once.
    if (std::find(self->m_messages.begin(), self->m_messages.end(), message) ==
        self->m_messages.end())
        self->m_messages.emplace_back(message);
}

} // namespace sonavel
