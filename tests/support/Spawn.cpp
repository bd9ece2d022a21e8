#include "Spawn.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>

extern char** environ;

namespace sonavel::fakes {

pid_t SpawnLogged(std::vector<std::string> args, const std::vector<std::string>& drop,
                  const std::vector<std::string>& add, const std::filesystem::path& log,
                  std::string& why) {
    std::vector<std::string> env(add);
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        if (std::find(drop.begin(), drop.end(), entry.substr(0, entry.find('='))) == drop.end())
            env.push_back(entry);
    }
    const auto pointers = [](std::vector<std::string>& strings) {
        std::vector<char*> result;
        for (std::string& s : strings)
            result.push_back(s.data());
        result.push_back(nullptr);
        return result;
    };
    std::vector<char*> envp = pointers(env);
    std::vector<char*> argv = pointers(args);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (rc == 0)
        return pid;
    why = args[0] + " could not be started (" + std::strerror(rc) + ")";
    return 0;
}

bool WaitForProcess(pid_t& pid, const std::function<bool()>& ready,
                    const std::filesystem::path& log, std::string& why) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < deadline) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            pid = 0;
            std::ifstream in(log);
            why =
                "the server ended at once: " + std::string(std::istreambuf_iterator<char>(in), {});
            return false;
        }
        if (ready())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    why = "the server was not ready within 15 s";
    return false;
}

} // namespace sonavel::fakes
