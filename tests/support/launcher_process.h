#pragma once
// A program of the build (the launcher, mostly) as a child process, for the end-to-end tests.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

// Started in a folder with its own environment, standard output and error into one file,
// standard input either empty or a pipe held open here. Killed when it goes away still running.
class LauncherProcess {
  public:
    LauncherProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                    const std::vector<std::string>& environment,
                    const std::filesystem::path& output, bool holdInput);
    ~LauncherProcess();
    LauncherProcess(const LauncherProcess&) = delete;
    LauncherProcess& operator=(const LauncherProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    void CloseInput();
    // The exit status once the process has ended, or nothing when it is still running after
    // timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

  private:
    pid_t m_pid = -1;
    int m_input = -1;
};

// Runs a program to its end with standard input empty and standard output and error in one
// file; its exit status, or nothing when it had to be killed after timeout.
std::optional<int> RunProgram(const std::vector<std::string>& args,
                              const std::filesystem::path& folder,
                              const std::vector<std::string>& environment,
                              const std::filesystem::path& output,
                              std::chrono::milliseconds timeout);
