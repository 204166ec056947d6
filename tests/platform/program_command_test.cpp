// Starting a program: the command the builder decides on for stated facts, and the causes a
// real start keeps when it fails.

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/platform.h"
#include "platform/program_command.h"
#include "tests/support/recording_runner.h"
#include "tests/support/scoped_env.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"

namespace {

using platform::BuildProgramCommand;
using platform::ProgramCommand;
using platform::ProgramFacts;

// --- The command builder, on stated facts ----------------------------------------------------

struct CommandCase {
    const char* label;
    std::wstring path;
    bool isPeImage;
    std::wstring runner;
    std::optional<std::wstring> searchPath;
    std::vector<std::wstring> expected;  // empty: the build fails
    FailureClass cause = FailureClass::kNone;
    std::string detail;
};

// The files of the imagined system that may be executed.
const std::set<std::wstring> kExecutables = {
    L"/usr/bin/wine",       L"/opt/Proton 8.0/proton",
    L"/opt/bin/proton",     L"/home/p/work/../tools/runner",
    L"/home/p/work/./wine",
};

class BuildProgramCommandTest : public ::testing::TestWithParam<CommandCase> {
  protected:
    ProgramFacts Facts(const CommandCase& c) const {
        ProgramFacts facts;
        facts.isPeImage = c.isPeImage;
        facts.runner = c.runner;
        facts.searchPath = c.searchPath;
        facts.currentDirectory = L"/home/p/work";
        facts.isExecutableFile = [](const std::wstring& path) {
            return kExecutables.count(path) != 0;
        };
        return facts;
    }
};

TEST_P(BuildProgramCommandTest, DecidesWhatIsExecuted) {
    const CommandCase& c = GetParam();
    ProgramCommand command;
    command.argv = {L"untouched"};
    Failure failure;
    const bool built = BuildProgramCommand(c.path, Facts(c), command, &failure);
    if (c.expected.empty()) {
        EXPECT_FALSE(built);
        EXPECT_EQ(command.argv, std::vector<std::wstring>{L"untouched"});
        EXPECT_EQ(failure.cause, c.cause);
        EXPECT_EQ(failure.detail, c.detail);
        EXPECT_EQ(failure.subject, c.path);
        return;
    }
    ASSERT_TRUE(built) << DescribeFailure(failure);
    EXPECT_EQ(command.argv, c.expected);
    EXPECT_EQ(command.throughRunner, c.isPeImage);
    EXPECT_FALSE(failure.IsFailure());
}

CommandCase Runs(const char* label, std::wstring path, bool isPeImage, std::wstring runner,
                 std::optional<std::wstring> searchPath, std::vector<std::wstring> expected) {
    return CommandCase{label,      std::move(path),     isPeImage,           std::move(runner),
                       searchPath, std::move(expected), FailureClass::kNone, {}};
}
CommandCase Fails(const char* label, std::wstring path, bool isPeImage, std::wstring runner,
                  std::optional<std::wstring> searchPath, FailureClass cause, std::string detail) {
    return CommandCase{label, std::move(path), isPeImage,        std::move(runner), searchPath,
                       {},    cause,           std::move(detail)};
}

const std::wstring kSetup = L"/games/setup.exe";
const std::wstring kPath = L"/usr/local/bin:/usr/bin";

INSTANTIATE_TEST_SUITE_P(
    Cases, BuildProgramCommandTest,
    ::testing::Values(
        Runs("OtherFileRunsItself", L"/games/bin/game", false, L"", kPath, {L"/games/bin/game"}),
        Runs("RunnerIsIgnoredForOtherFiles", L"/games/bin/game", false, L"/no/such/runner", kPath,
             {L"/games/bin/game"}),
        Runs("RelativeProgramIsMadeAbsolute", L"bin/game", false, L"", kPath,
             {L"/home/p/work/bin/game"}),
        Runs("WineFromTheSearchPath", kSetup, true, L"", kPath, {L"/usr/bin/wine", kSetup}),
        Runs("RelativeWindowsProgramIsMadeAbsolute", L"downloads/setup.exe", true, L"", kPath,
             {L"/usr/bin/wine", L"/home/p/work/downloads/setup.exe"}),
        Runs("RunnerPathWithABlank", kSetup, true, L"/opt/Proton 8.0/proton", kPath,
             {L"/opt/Proton 8.0/proton", kSetup}),
        Runs("RunnerWithAnArgument", kSetup, true, L"proton run", L"/usr/bin:/opt/bin",
             {L"/opt/bin/proton", L"run", kSetup}),
        Runs("QuotedRunnerWithAnArgument", kSetup, true,
             L"\"/opt/Proton 8.0/proton\" waitforexitandrun", kPath,
             {L"/opt/Proton 8.0/proton", L"waitforexitandrun", kSetup}),
        Runs("EscapedBlankInTheRunner", kSetup, true, L"/opt/Proton\\ 8.0/proton 'a b'", kPath,
             {L"/opt/Proton 8.0/proton", L"a b", kSetup}),
        Runs("RelativeRunnerFromTheCurrentDirectory", kSetup, true, L"../tools/runner", kPath,
             {L"/home/p/work/../tools/runner", kSetup}),
        Runs("EmptySearchPathEntryIsTheCurrentDirectory", kSetup, true, L"", L"/usr/local/bin::",
             {L"/home/p/work/./wine", kSetup}),
        Fails("NoWineOnTheSearchPath", kSetup, true, L"", L"/usr/local/bin:/opt/bin",
              FailureClass::kRunnerMissing, "wine"),
        Fails("NoSearchPathAtAll", kSetup, true, L"", std::nullopt, FailureClass::kRunnerMissing,
              "wine"),
        Fails("RunnerNameNotOnTheSearchPath", kSetup, true, L"proton run", kPath,
              FailureClass::kRunnerMissing, "proton"),
        Fails("RunnerPathThatIsNoExecutable", kSetup, true, L"/opt/Proton 9.0/proton run", kPath,
              FailureClass::kRunnerMissing, "/opt/Proton"),
        Fails("RunnerWithAnOpenQuote", kSetup, true, L"\"/opt/Proton 8.0/proton", kPath,
              FailureClass::kRunnerMissing, "\"/opt/Proton 8.0/proton"),
        Fails("RunnerOfBlanksOnly", kSetup, true, L"   ", kPath, FailureClass::kRunnerMissing,
              "   ")),
    [](const ::testing::TestParamInfo<CommandCase>& info) { return info.param.label; });

TEST(BuildProgramCommandCauseTest, RelativeNameWithoutACurrentDirectoryKeepsItsErrno) {
    ProgramFacts facts;
    facts.currentDirectoryError = EACCES;
    facts.isExecutableFile = [](const std::wstring&) { return true; };
    ProgramCommand command;
    Failure failure;
    EXPECT_FALSE(BuildProgramCommand(L"bin/game", facts, command, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_EQ(failure.code, EACCES);
    EXPECT_TRUE(command.argv.empty());
}

TEST(BuildProgramCommandCauseTest, AbsoluteNameTooLongForTheSystemIsRefused) {
    ProgramFacts facts;
    facts.currentDirectory = L"/" + std::wstring(platform::kMaxNativePathLength - 1, L'd');
    facts.isExecutableFile = [](const std::wstring&) { return true; };
    ProgramCommand command;
    Failure failure;
    EXPECT_FALSE(BuildProgramCommand(L"game", facts, command, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kUnsafePath);
}

// --- Splitting the runner value --------------------------------------------------------------

struct WordsCase {
    std::wstring value;
    std::optional<std::vector<std::wstring>> words;  // nullopt: refused
};

class SplitShellWordsTest : public ::testing::TestWithParam<WordsCase> {};

TEST_P(SplitShellWordsTest, SplitsAsAShellDoes) {
    const WordsCase& c = GetParam();
    std::vector<std::wstring> words = {L"untouched"};
    const bool split = platform::SplitShellWords(c.value, words);
    ASSERT_EQ(split, c.words.has_value());
    EXPECT_EQ(words, c.words.value_or(std::vector<std::wstring>{L"untouched"}));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SplitShellWordsTest,
    ::testing::Values(WordsCase{L"wine", {{L"wine"}}},
                      WordsCase{L" \tproton  run \n", {{L"proton", L"run"}}},
                      WordsCase{L"'a b' \"c d\"", {{L"a b", L"c d"}}},
                      WordsCase{L"a\\ b", {{L"a b"}}}, WordsCase{L"a'b c'd", {{L"ab cd"}}},
                      WordsCase{L"\"\" x", {{L"", L"x"}}}, WordsCase{L"'it'\\''s'", {{L"it's"}}},
                      // Inside double quotes only $ ` " \ are escaped; other backslashes stay.
                      WordsCase{L"\"a\\\"b\\\\c\\d\\$e\"", {{L"a\"b\\c\\d$e"}}},
                      // Inside single quotes nothing is special.
                      WordsCase{L"'a\\b\"c'", {{L"a\\b\"c"}}}, WordsCase{L"a\\\nb", {{L"ab"}}},
                      // Nothing is expanded.
                      WordsCase{L"$HOME ~/x * `id`", {{L"$HOME", L"~/x", L"*", L"`id`"}}},
                      WordsCase{L"", std::vector<std::wstring>{}},
                      WordsCase{L"\"open", std::nullopt}, WordsCase{L"'open", std::nullopt},
                      WordsCase{L"end\\", std::nullopt}));

// --- Real starts ------------------------------------------------------------------------------

class StartProgramTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_root.IsValid()); }

    // A shell script that ends with the given command.
    std::wstring WriteScript(const std::string& name, const std::string& body) {
        EXPECT_TRUE(m_root.WriteFile(name, "#!/bin/sh\n" + body + "\n"));
        EXPECT_EQ(::chmod(m_root.NarrowPathOf(name).c_str(), 0755), 0);
        return m_root.WidePathOf(name);
    }
    // A file that looks like a Windows executable to the launcher.
    std::wstring WriteWindowsProgram(const std::string& name) {
        EXPECT_TRUE(m_root.WriteFile(name, std::string("MZ") + std::string(62, '\0')));
        return m_root.WidePathOf(name);
    }

    TempDir m_root;
};

TEST_F(StartProgramTest, WaitedProgramReportsItsExitStatus) {
    const std::wstring script = WriteScript("three", "exit 3");
    int status = -1;
    Failure failure;
    EXPECT_TRUE(platform::StartProgram(script, L"", true, &failure, &status));
    EXPECT_EQ(status, 3);
    EXPECT_FALSE(failure.IsFailure());
}

TEST_F(StartProgramTest, ProgramEndedByASignalReportsItAsAShellDoes) {
    const std::wstring script = WriteScript("killed", "kill -TERM $$");
    int status = -1;
    EXPECT_TRUE(platform::StartProgram(script, L"", true, nullptr, &status));
    EXPECT_EQ(status, 128 + 15);
}

TEST_F(StartProgramTest, FileThatMayNotBeExecutedKeepsTheChildsErrno) {
    ASSERT_TRUE(m_root.WriteFile("plain", "not a program\n"));
    Failure failure;
    EXPECT_FALSE(platform::StartProgram(m_root.WidePathOf("plain"), L"", true, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_EQ(failure.code, EACCES);
    EXPECT_FALSE(failure.detail.empty());
    EXPECT_EQ(failure.subject, m_root.WidePathOf("plain"));
}

TEST_F(StartProgramTest, MissingWorkingFolderIsNamedAsTheCause) {
    const std::wstring script = WriteScript("ok", "exit 0");
    Failure failure;
    EXPECT_FALSE(platform::StartProgram(script, m_root.WidePathOf("gone"), true, &failure));
    EXPECT_EQ(failure.cause, FailureClass::kSystem);
    EXPECT_EQ(failure.code, ENOENT);
    EXPECT_EQ(failure.subject, m_root.WidePathOf("gone"));

    // With a folder that can be entered, a program that cannot run is the one named.
    ASSERT_TRUE(m_root.WriteFile("plain", "not a program\n"));
    EXPECT_FALSE(
        platform::StartProgram(m_root.WidePathOf("plain"), m_root.WidePath(), true, &failure));
    EXPECT_EQ(failure.code, EACCES);
    EXPECT_EQ(failure.subject, m_root.WidePathOf("plain"));
}

TEST_F(StartProgramTest, RunnerInAFolderWithABlankNeedsNoQuotes) {
    std::filesystem::create_directories(m_root.PathOf("Proton 8.0"));
    RecordingRunner runner(m_root.PathOf("Proton 8.0"), "proton");
    ASSERT_TRUE(runner.IsValid());
    const std::wstring setup = WriteWindowsProgram("setup.exe");
    ScopedEnv variable("VELMORA_RUNNER", runner.ScriptPath().string());
    EXPECT_TRUE(platform::StartProgram(setup, L"", true));
    const auto runs = runner.Runs();
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0].args, std::vector<std::string>{m_root.NarrowPathOf("setup.exe")});
}

}  // namespace
