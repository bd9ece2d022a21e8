#pragma once

#include "startup/AppError.h"

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>

namespace sonavel {

class ErrorPresenter;

// Collects the chain of report entries that a failure leaves on its way up and
// shows them in one dialog. Entries prepared but not yet shown stay pending and
// lead the next report. Entries may be prepared on any thread (a question plays
// on a thread of its own); a report is shown on the window's thread.
class clsErrorHandler {
public:
    const int16_t INTERNAL_ERROR = 9999;
    const std::string INTERNAL_ERROR_DESC = "Internal Error";

    // Where ShowError sends the report; without one the report is only
    // written to standard error.
    void SetPresenter(ErrorPresenter* presenter) { m_presenter = presenter; }

    void PrepareError(const std::string& src, int16_t errno_, const std::string& errmsg);
    void ShowError(const std::string& src, int16_t errno_, const std::string& errmsg);

    // Adds the entry for src and throws the internal error: the failure path of
    // a procedure that other code calls.
    [[noreturn]] void Raise(const std::string& src, int16_t errno_, const std::string& errmsg);

    // The failure path of a called procedure for the exception in flight:
    // records it under src and throws the internal error to the caller.
    [[noreturn]] void Rethrow(const std::string& src, std::exception_ptr failure);
    // The failure path of an event handler: shows the exception in flight.
    void Show(const std::string& src, std::exception_ptr failure);

    std::string ErrorDetails() const;

private:
    mutable std::mutex m_mutex;
    std::string m_details; // guarded by m_mutex
    ErrorPresenter* m_presenter = nullptr;
};

// The code and text of any exception, as a report entry gives them.
void DescribeFailure(std::exception_ptr failure, int16_t& code, std::string& text);

} // namespace sonavel
