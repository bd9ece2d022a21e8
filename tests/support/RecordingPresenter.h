#pragma once

#include "startup/ErrorPresenter.h"

#include <string>
#include <vector>

namespace sonavel::fakes {

// Records the details of the error reports that would have been shown, which
// hold their text too.
class RecordingPresenter : public ErrorPresenter {
public:
    void Present(const std::string&, const std::string& details) override {
        Reports.push_back(details);
    }
    std::vector<std::string> Reports;
};

} // namespace sonavel::fakes
