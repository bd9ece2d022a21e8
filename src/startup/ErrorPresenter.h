#pragma once

#include <string>

namespace sonavel {

// Shows an error report to the user and returns when the user has closed it.
// The window layer provides the dialog; tests provide a recorder.
class ErrorPresenter {
public:
    virtual ~ErrorPresenter() = default;
    virtual void Present(const std::string& text, const std::string& details) = 0;
};

} // namespace sonavel
