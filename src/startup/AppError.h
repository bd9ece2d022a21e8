#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace sonavel {

// The one failure the program raises: a 16-bit code and its text. A procedure
// that fails adds its report entry through clsErrorHandler::PrepareError and
// then throws AppError(9999, "Internal Error") to its caller.
class AppError : public std::runtime_error {
public:
    AppError(int16_t code, const std::string& text) : std::runtime_error(text), m_code(code) {}
    int16_t Code() const { return m_code; }
    std::string Text() const { return what(); }

private:
    int16_t m_code;
};

// Narrows a platform or library error number to the 16-bit code of a report.
// Values outside the range keep their low 16 bits, as a cast would.
inline int16_t NarrowCode(long long code) { return static_cast<int16_t>(code & 0xFFFF); }

} // namespace sonavel
