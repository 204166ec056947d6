#include "tests/support/recording_runner.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <system_error>
#include <thread>

#include "tests/support/child_process.h"

RecordingRunner::RecordingRunner(const std::filesystem::path& folder, const std::string& name,
                                 int pauseMs) {
    m_script = folder / name;
    m_log = folder / (name + ".log");
    std::ostringstream pause;
    pause << pauseMs / 1000 << '.' << (pauseMs % 1000) / 100 << (pauseMs % 100) / 10
          << pauseMs % 10;

    // One line per printf: each is a single small append, so runs that overlap never tear
    // each other's lines; the pid ties the lines of one run together.
    std::ofstream script(m_script, std::ios::binary | std::ios::trunc);
    script << "#!/bin/sh\n"
           << "log=" << ShellQuote(m_log.string()) << "\n"
           << "printf '%s cwd %s\\n' \"$$\" \"$(pwd -P)\" >> \"$log\"\n"
           << "for a in \"$@\"; do printf '%s arg %s\\n' \"$$\" \"$a\" >> \"$log\"; done\n"
           << "printf '%s started\\n' \"$$\" >> \"$log\"\n";
    if (pauseMs > 0)
        script << "sleep " << pause.str() << "\n";
    script << "printf '%s finished\\n' \"$$\" >> \"$log\"\n"
           << "exit 0\n";
    script.close();
    m_valid = script.good() && chmod(m_script.c_str(), 0755) == 0;
}

std::vector<RecordedRun> RecordingRunner::Runs() const {
    std::vector<RecordedRun> runs;
    std::map<std::string, RecordedRun> open;
    std::map<std::string, std::size_t> started;
    std::ifstream log(m_log, std::ios::binary);
    std::string line;
    while (std::getline(log, line)) {
        const std::size_t blank = line.find(' ');
        if (blank == std::string::npos)
            continue;
        const std::string pid = line.substr(0, blank);
        const std::string rest = line.substr(blank + 1);
        if (rest.rfind("cwd ", 0) == 0) {
            open[pid] = RecordedRun{pid, rest.substr(4), {}, false};
        } else if (rest.rfind("arg ", 0) == 0) {
            open[pid].args.push_back(rest.substr(4));
        } else if (rest == "started") {
            started[pid] = runs.size();
            runs.push_back(open[pid]);
            open.erase(pid);
        } else if (rest == "finished" && started.count(pid) != 0) {
            runs[started[pid]].finished = true;
        }
    }
    return runs;
}

std::vector<RecordedRun> RecordingRunner::WaitForRuns(std::size_t count,
                                                      std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::vector<RecordedRun> runs = Runs();
    while (runs.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        runs = Runs();
    }
    return runs;
}
