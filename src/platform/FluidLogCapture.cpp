#include "platform/FluidLogCapture.h"

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
    text.swap(m_text);
    return text;
}

void FluidLogCapture::Collect(int level, const char* message, void* data) {
    // Information lines only list what was tried; the errors say what went wrong.
    if (level == FLUID_INFO || message == nullptr)
        return;
    auto* self = static_cast<FluidLogCapture*>(data);
    std::lock_guard lock(self->m_textMutex);
    if (!self->m_text.empty())
        self->m_text += "; ";
    self->m_text += message;
}

} // namespace sonavel
