#include "startup/clsErrorHandler.h"

#include "startup/ErrorPresenter.h"

#include <iostream>
#include <new>

namespace sonavel {

void clsErrorHandler::PrepareError(const std::string& src, int16_t errno_,
                                   const std::string& errmsg) {
    const std::lock_guard lock(m_mutex);
    if (!m_details.empty())
        m_details += "\r\n\r\n";
    m_details += "Source: " + src + "\r\n";
    m_details += "Code  : " + std::to_string(errno_) + "\r\n";
    m_details += "String: " + errmsg;
}

void clsErrorHandler::ShowError(const std::string& src, int16_t errno_, const std::string& errmsg) {
    PrepareError(src, errno_, errmsg);
    std::string details;
    {
        const std::lock_guard lock(m_mutex);
        details.swap(m_details);
    }
    if (m_presenter)
        m_presenter->Present(errmsg, details);
    else
        std::cerr << errmsg << "\n" << details << "\n";
}

std::string clsErrorHandler::ErrorDetails() const {
    const std::lock_guard lock(m_mutex);
    return m_details;
}

void clsErrorHandler::Raise(const std::string& src, int16_t errno_, const std::string& errmsg) {
    PrepareError(src, errno_, errmsg);
    throw AppError(INTERNAL_ERROR, INTERNAL_ERROR_DESC);
}

void clsErrorHandler::Rethrow(const std::string& src, std::exception_ptr failure) {
    int16_t code = 0;
    std::string text;
    DescribeFailure(failure, code, text);
    Raise(src, code, text);
}

void clsErrorHandler::Show(const std::string& src, std::exception_ptr failure) {
    int16_t code = 0;
    std::string text;
    DescribeFailure(failure, code, text);
    ShowError(src, code, text);
}

void DescribeFailure(std::exception_ptr failure, int16_t& code, std::string& text) {
    try {
        std::rethrow_exception(failure);
    } catch (const AppError& e) {
        code = e.Code();
        text = e.Text();
    } catch (const std::bad_alloc&) {
        code = 7;
        text = "Out of memory";
    } catch (const std::out_of_range& e) {
        code = 9;
        text = std::string("Subscript out of range (") + e.what() + ")";
    } catch (const std::overflow_error& e) {
        code = 6;
        text = std::string("Overflow (") + e.what() + ")";
    } catch (const std::exception& e) {
        code = 5;
        text = e.what();
    } catch (...) {
        code = 5;
        text = "Unknown failure";
    }
}

} // namespace sonavel
