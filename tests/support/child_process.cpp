#include "tests/support/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

ChildProcess::ChildProcess(const std::vector<std::string>& args,
                           const std::filesystem::path& folder,
                           const std::vector<std::string>& environment,
                           const std::filesystem::path& output, bool holdInput) {
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : environment)
        envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    const std::string folderText = folder.string();
    const std::string outputText = output.string();

    int input[2] = {-1, -1};
    if (holdInput && pipe2(input, O_CLOEXEC) != 0)
        return;
    m_pid = fork();
    if (m_pid == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int in = holdInput ? input[0] : open("/dev/null", O_RDONLY);
        const int out = open(outputText.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0 ||
            chdir(folderText.c_str()) != 0)
            _exit(126);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    if (holdInput) {
        close(input[0]);
        m_input = m_pid > 0 ? input[1] : (close(input[1]), -1);
    }
}

ChildProcess::~ChildProcess() {
    CloseInput();
    if (m_pid > 0) {
        kill(m_pid, SIGKILL);
        int status;
        waitpid(m_pid, &status, 0);
    }
}

void ChildProcess::CloseInput() {
    if (m_input >= 0)
        close(m_input);
    m_input = -1;
}

bool ChildProcess::WriteInput(const std::string& text) {
    // A few lines fit the pipe's buffer whole: one write takes them all or fails.
    return m_input >= 0 && write(m_input, text.data(), text.size()) == ssize_t(text.size());
}

std::optional<int> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_pid > 0) {
        int status = 0;
        const pid_t done = waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() >= deadline)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return std::nullopt;
}

std::optional<int> RunProgram(const std::vector<std::string>& args,
                              const std::filesystem::path& folder,
                              const std::vector<std::string>& environment,
                              const std::filesystem::path& output,
                              std::chrono::milliseconds timeout) {
    ChildProcess process(args, folder, environment, output, false);
    if (!process.Started())
        return std::nullopt;
    // One still running at the timeout is killed as the process goes away.
    return process.Wait(timeout);
}

std::string ShellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string ShellWords(const std::vector<std::string>& words) {
    std::string line;
    for (const std::string& word : words)
        line += (line.empty() ? "" : " ") + ShellQuote(word);
    return line;
}

ShellRun RunShell(const std::string& commandLine) {
    ShellRun run;
    std::FILE* pipe = popen(commandLine.c_str(), "r");
    if (pipe == nullptr)
        return run;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        run.output.append(buffer, got);
    const int raw = pclose(pipe);
    run.status = raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return run;
}

int RunInChild(const std::function<int()>& body) {
    const pid_t child = fork();
    if (child < 0)
        return -1;
    if (child == 0)
        _exit(body());
    int status = 0;
    if (waitpid(child, &status, 0) != child)
        return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
