#pragma once

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace sonavel::fakes {

// Ends a process of the test's own by its id: signal, then SIGKILL after 5 s.
inline void EndProcess(pid_t pid, int signal) {
    if (pid <= 0)
        return;
    kill(pid, signal);
    for (int i = 0; i < 250; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20)))
        if (waitpid(pid, nullptr, WNOHANG) != 0)
            return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

// Starts a server found on PATH, with the test's environment and env
// ("NAME=value") before it, so that env wins, its output in log, and waits up
// to 15 s until ready(). Its process id, or 0 with the reason in why.
inline pid_t StartServer(std::vector<std::string> args, std::vector<std::string> env,
                         const std::filesystem::path& log, const std::function<bool()>& ready,
                         std::string& why) {
    std::vector<char*> argv, envp;
    for (std::string& s : env)
        envp.push_back(s.data());
    for (char** e = environ; *e != nullptr; ++e)
        envp.push_back(*e);
    for (std::string& s : args)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    envp.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&files, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, argv[0], &files, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&files);
    if (rc != 0) {
        why = args[0] + " could not be started (" + std::strerror(rc) + ")";
        return 0;
    }
    for (int i = 0; i < 750; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
        if (waitpid(pid, nullptr, WNOHANG) == pid) {
            std::ifstream in(log);
            why =
                args[0] + " ended at once: " + std::string(std::istreambuf_iterator<char>(in), {});
            return 0;
        }
        if (ready())
            return pid;
    }
    why = args[0] + " was not ready within 15 s";
    EndProcess(pid, SIGKILL);
    return 0;
}

} // namespace sonavel::fakes
