#include "Spawn.h"

#include <algorithm>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>

extern char** environ;

namespace sonavel::fakes {

pid_t SpawnLogged(std::vector<std::string> args, const std::vector<std::string>& drop,
                  const std::vector<std::string>& add, const std::string& log, std::string& why) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry = *e;
        const std::string name = entry.substr(0, entry.find('='));
        if (std::find(drop.begin(), drop.end(), name) == drop.end())
            env.push_back(entry);
    }
    env.insert(env.end(), add.begin(), add.end());
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
    if (rc != 0) {
        why = std::strerror(rc);
        return 0;
    }
    return pid;
}

} // namespace sonavel::fakes
