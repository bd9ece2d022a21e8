#pragma once

#include <string>

namespace sonavel::testing {

// One report entry as clsErrorHandler writes it; entries are joined by an empty line.
inline std::string Entry(const std::string& src, int code, const std::string& text) {
    return "Source: " + src + "\r\nCode  : " + std::to_string(code) + "\r\nString: " + text;
}
inline const std::string kBetween = "\r\n\r\n";

} // namespace sonavel::testing
