#include "platform/program_command.h"
#include "platform/platform.h"

#include <cerrno>

#include "platform/path.h"
#include "text/utf8.h"

namespace platform {

const char kRunnerVariable[] = "VELMORA_RUNNER";

namespace {

// The runner looked for on the search path when the runner variable is unset or empty.
constexpr wchar_t kDefaultRunner[] = L"wine";

bool IsBlank(wchar_t ch) {
    return ch == L' ' || ch == L'\t' || ch == L'\n';
}

bool HasSlash(const std::wstring& name) {
    return name.find(L'/') != std::wstring::npos;
}

Failure RunnerMissing(const std::wstring& runner, const std::wstring& program) {
    return MakeFailure(FailureClass::kRunnerMissing, 0, WideToUtf8(std::wstring_view(runner)),
                       program);
}

// name resolved against the current directory; an absolute name stays as it is.
bool Absolute(const std::wstring& name, const ProgramFacts& facts, std::wstring& out,
              Failure& failure) {
    if (!name.empty() && name[0] == L'/') {
        out = name;
        return true;
    }
    if (facts.currentDirectory.empty()) {
        failure = SystemFailure(facts.currentDirectoryError, name);
        return false;
    }
    if (!JoinPath(facts.currentDirectory, name, out, kMaxNativePathLength)) {
        failure = MakeFailure(FailureClass::kUnsafePath, 0, "path too long", name);
        return false;
    }
    return true;
}

// The runner's words, its first one turned into the absolute path of an executable file.
bool RunnerWords(const std::wstring& program, const ProgramFacts& facts,
                 std::vector<std::wstring>& words, Failure& failure) {
    words.clear();
    if (facts.runner.empty()) {
        words.push_back(kDefaultRunner);
    } else {
        std::wstring whole;
        Failure ignored;
        if (HasSlash(facts.runner) && Absolute(facts.runner, facts, whole, ignored) &&
            facts.isExecutableFile(whole)) {
            words.push_back(std::move(whole));
            return true;
        }
        if (!SplitShellWords(facts.runner, words) || words.empty() || words[0].empty()) {
            failure = RunnerMissing(facts.runner, program);
            return false;
        }
    }

    std::wstring found;
    if (HasSlash(words[0])) {
        if (!Absolute(words[0], facts, found, failure))
            return false;
        if (!facts.isExecutableFile(found)) {
            failure = RunnerMissing(words[0], program);
            return false;
        }
    } else if (!FindOnSearchPath(words[0], facts, found)) {
        failure = RunnerMissing(words[0], program);
        return false;
    }
    words[0] = std::move(found);
    return true;
}

}  // namespace

bool FindOnSearchPath(const std::wstring& name, const ProgramFacts& facts, std::wstring& out) {
    if (!facts.searchPath)
        return false;
    const std::wstring& folders = *facts.searchPath;
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(L':', start);
        if (end == std::wstring::npos)
            end = folders.size();
        const std::wstring folder = end > start ? folders.substr(start, end - start) : L".";
        std::wstring candidate;
        Failure ignored;
        if (JoinPath(folder, name, candidate, kMaxNativePathLength) &&
            Absolute(candidate, facts, candidate, ignored) && facts.isExecutableFile(candidate)) {
            out = std::move(candidate);
            return true;
        }
        start = end + 1;
    }
    return false;
}

bool SplitShellWords(const std::wstring& value, std::vector<std::wstring>& words) {
    std::vector<std::wstring> result;
    std::wstring word;
    bool inWord = false;
    std::size_t i = 0;
    while (i < value.size()) {
        const wchar_t ch = value[i];
        if (IsBlank(ch)) {
            if (inWord)
                result.push_back(std::move(word));
            word.clear();
            inWord = false;
            ++i;
        } else if (ch == L'\'') {
            const std::size_t close = value.find(L'\'', i + 1);
            if (close == std::wstring::npos)
                return false;
            word.append(value, i + 1, close - i - 1);
            inWord = true;
            i = close + 1;
        } else if (ch == L'"') {
            ++i;
            while (i < value.size() && value[i] != L'"') {
                if (value[i] == L'\\' && i + 1 < value.size()) {
                    const wchar_t next = value[i + 1];
                    if (next == L'\n') {
                        i += 2;
                        continue;
                    }
                    if (next == L'$' || next == L'`' || next == L'"' || next == L'\\') {
                        word += next;
                        i += 2;
                        continue;
                    }
                }
                word += value[i++];
            }
            if (i >= value.size())
                return false;
            inWord = true;
            ++i;
        } else if (ch == L'\\') {
            if (i + 1 >= value.size())
                return false;
            // A backslash before a line break joins the lines; before anything else it keeps
            // that character literally.
            if (value[i + 1] != L'\n') {
                word += value[i + 1];
                inWord = true;
            }
            i += 2;
        } else {
            word += ch;
            inWord = true;
            ++i;
        }
    }
    if (inWord)
        result.push_back(std::move(word));
    words = std::move(result);
    return true;
}

bool BuildProgramCommand(const std::wstring& path, const ProgramFacts& facts, ProgramCommand& out,
                         Failure* failure) {
    Failure cause;
    ProgramCommand command;
    std::wstring program;
    const bool built = !path.empty() &&
                       (!facts.isPeImage || RunnerWords(path, facts, command.argv, cause)) &&
                       Absolute(path, facts, program, cause);
    if (!built) {
        if (failure != nullptr)
            *failure = path.empty() ? SystemFailure(ENOENT) : std::move(cause);
        return false;
    }
    command.throughRunner = facts.isPeImage;
    command.argv.push_back(std::move(program));
    out = std::move(command);
    return true;
}

}  // namespace platform
