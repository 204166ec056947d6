#pragma once
// A stand-in for the program that starts Windows executables (wine and the like), and for
// xdg-open: an executable shell script that records, for every run, its working folder and
// its arguments in a log file beside it. Tests point VELMORA_RUNNER (or PATH) at it and then
// read back what the launcher started, from where, and whether it waited.

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct RecordedRun {
    std::string pid;
    std::string workingFolder;
    std::vector<std::string> args;
    // The script ran to its end (after its pause). A caller that waited for the program sees
    // this set as soon as the wait is over.
    bool finished = false;
};

class RecordingRunner {
  public:
    // Writes the script `name` into folder. Each run records itself, sleeps pauseMs, then
    // records its end.
    RecordingRunner(const std::filesystem::path& folder, const std::string& name = "runner",
                    int pauseMs = 0);

    bool IsValid() const { return m_valid; }
    const std::filesystem::path& ScriptPath() const { return m_script; }
    const std::filesystem::path& LogPath() const { return m_log; }

    // Every run recorded so far, in the order they started; a run whose start is still being
    // written is left out.
    std::vector<RecordedRun> Runs() const;
    // Waits (polling, at most timeout) until at least count runs are recorded and returns them.
    std::vector<RecordedRun> WaitForRuns(std::size_t count,
                                         std::chrono::milliseconds timeout) const;

  private:
    std::filesystem::path m_script;
    std::filesystem::path m_log;
    bool m_valid = false;
};
