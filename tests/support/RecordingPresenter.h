#pragma once

#include "startup/ErrorPresenter.h"

#include <string>
#include <vector>

namespace sonavel::fakes {

// Records the error reports that would have been shown.
class RecordingPresenter : public ErrorPresenter {
public:
    struct Report {
        std::string Text;
        std::string Details;
    };
    void Present(const std::string& text, const std::string& details) override {
        Reports.push_back({text, details});
    }
    std::vector<Report> Reports;
};

} // namespace sonavel::fakes
