#pragma once

#include <string>

namespace sonavel {

// The help index: <programDir>/help/index.htm in the build tree, or
// <programDir>/../share/sonavel/help/index.htm when installed. Returns the
// first of the two that exists, or the first when neither does, so that a
// "cannot find" message names the place the build puts it.
std::string HelpIndexPath(const std::string& programDir);

// The same for the folder of the running program. Needs the QApplication.
std::string HelpIndexPath();

} // namespace sonavel
