#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace sonavel::fakes {

// Starts args[0], found on PATH, with args, the test's environment less the
// variables named in drop and with those in add (NAME=value), and its output
// and errors in the file log. Returns the process id, or 0 with the reason in
// why.
pid_t SpawnLogged(std::vector<std::string> args, const std::vector<std::string>& drop,
                  const std::vector<std::string>& add, const std::filesystem::path& log,
                  std::string& why);

// Waits up to 15 s until ready() holds while the process runs. False with the
// reason (and the process's log) in why when it never got ready, and pid 0
// when it ended.
bool WaitForProcess(pid_t& pid, const std::function<bool()>& ready,
                    const std::filesystem::path& log, std::string& why);

} // namespace sonavel::fakes
