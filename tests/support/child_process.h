#pragma once
// Child processes for the tests, all started here: a program of the build (the launcher,
// mostly) with its own folder and environment, a shell command line whose output is wanted, or
// a piece of the test itself that must run in a process of its own (a lock held elsewhere,
// rights given up, system calls filtered).

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Single quotes keep every character literal in the shell, except the quote itself.
std::string ShellQuote(const std::string& text);
// The words quoted and joined by blanks: one command line.
std::string ShellWords(const std::vector<std::string>& words);

struct ShellRun {
    int status = -1;     // the exit status; -1 when it could not start or did not exit by itself
    std::string output;  // what it wrote to standard output (the command line redirects the rest)
};
// Runs a command line with /bin/sh to its end.
ShellRun RunShell(const std::string& commandLine);

// Runs body in a forked copy of this process, which ends with body's answer as its exit status;
// that status, or -1 when the child did not exit by itself.
int RunInChild(const std::function<int()>& body);

// Started in a folder with its own environment, standard output and error into one file,
// standard input either empty or a pipe held open here. Killed when it goes away still running.
class ChildProcess {
  public:
    ChildProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                 const std::vector<std::string>& environment, const std::filesystem::path& output,
                 bool holdInput);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    void CloseInput();
    // Writes text to the held input; false when it could not all be written.
    bool WriteInput(const std::string& text);
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
