#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace sonavel::fakes {

// Starts args[0], found on PATH, with args, the test's environment less the
// variables named in drop and with those in add (NAME=value), and its output
// and errors in the file log. Returns the process id, or 0 with errno's
// reason in why.
pid_t SpawnLogged(std::vector<std::string> args, const std::vector<std::string>& drop,
                  const std::vector<std::string>& add, const std::string& log, std::string& why);

} // namespace sonavel::fakes
