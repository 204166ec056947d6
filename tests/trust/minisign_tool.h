#pragma once
// Key pairs and signatures made by the real minisign program, so that the reader is tested
// against the publisher's tool and not against a copy of our own idea of the format.

#include <memory>
#include <optional>
#include <string>

#include <gtest/gtest.h>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"

class MinisignTool {
  public:
    struct KeyPair {
        std::string publicKeyLine;  // the base64 line, as minisign -G prints it
        std::string publicKeyFile;  // the whole .pub file
        std::string secretKeyPath;
    };

    // Runs inside its own temporary folder.
    MinisignTool() = default;

    static bool Available() { return Run("minisign -v >/dev/null 2>&1"); }

    const TempDir& Dir() const { return m_dir; }

    // A new key pair without a password (-W), files named after name.
    std::optional<KeyPair> MakeKeyPair(const std::string& name) const {
        const std::string pub = m_dir.NarrowPathOf(name + ".pub");
        const std::string key = m_dir.NarrowPathOf(name + ".key");
        if (!Run("minisign -G -W -p " + ShellQuote(pub) + " -s " + ShellQuote(key) +
                 " >/dev/null 2>&1"))
            return std::nullopt;
        const std::optional<std::string> file = m_dir.ReadFile(name + ".pub");
        if (!file)
            return std::nullopt;
        // Line 2 of the .pub file is the key.
        const std::size_t start = file->find('\n');
        if (start == std::string::npos)
            return std::nullopt;
        std::string line = file->substr(start + 1);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        return KeyPair{line, *file, key};
    }

    // Signs content (written to a file of the folder) and returns the .minisig text. Without a
    // trusted comment minisign writes its own ("timestamp:... file:..."); legacy asks for the
    // "Ed" form that signs the file itself.
    std::optional<std::string> Sign(const KeyPair& key, const std::string& content,
                                    const std::optional<std::string>& trustedComment,
                                    bool legacy = false) {
        // Named as the launcher's catalogue, so minisign's own file: names it.
        const std::string name = "signed" + std::to_string(++m_counter) + "/patchinfo.xml";
        if (!m_dir.WriteFile(name, content))
            return std::nullopt;
        std::string command = "minisign -S -s " + ShellQuote(key.secretKeyPath) + " -m " +
                              ShellQuote(m_dir.NarrowPathOf(name)) + " -x " +
                              ShellQuote(m_dir.NarrowPathOf(name + ".minisig"));
        if (legacy)
            command += " -l";
        if (trustedComment)
            command += " -t " + ShellQuote(*trustedComment);
        if (!Run(command + " >/dev/null 2>&1 </dev/null"))
            return std::nullopt;
        return m_dir.ReadFile(name + ".minisig");
    }

    // Asks minisign itself whether the signature holds, as a reference for our verdict.
    bool MinisignAccepts(const std::string& publicKeyLine, const std::string& content,
                         const std::string& signature) {
        const std::string name = "checked" + std::to_string(++m_counter);
        if (!m_dir.WriteFile(name, content) || !m_dir.WriteFile(name + ".minisig", signature))
            return false;
        return Run("minisign -V -q -P " + ShellQuote(publicKeyLine) + " -m " +
                   ShellQuote(m_dir.NarrowPathOf(name)) + " >/dev/null 2>&1");
    }

  private:
    static bool Run(const std::string& command) { return RunShell(command).status == 0; }

    TempDir m_dir;
    int m_counter = 0;
};

// The catalogue the signature tests sign, and the trusted comment they sign it with.
inline constexpr char kSignedCatalogue[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<patch_info patcherversion="1.0.0.38">
  <game_version_list/>
  <changelog_list/>
</patch_info>
)";
inline constexpr char kSignedComment[] = "serial:42 expires:2027-06-30T00:00:00Z";

// A suite whose key pairs are made once by minisign, in one folder kept for the whole suite: a
// fixture's SetUpTestSuite calls StartTool and then makes its keys with s_tool.
class MinisignSuiteTest : public ::testing::Test {
  protected:
    // False when minisign is not installed; s_tool is then null.
    static bool StartTool() {
        if (!MinisignTool::Available())
            return false;
        s_tool = std::make_unique<MinisignTool>();
        return true;
    }
    static void TearDownTestSuite() { s_tool.reset(); }

    static std::string Sign(const MinisignTool::KeyPair& key, const std::string& content,
                            const std::optional<std::string>& comment = kSignedComment,
                            bool legacy = false) {
        std::optional<std::string> signature = s_tool->Sign(key, content, comment, legacy);
        EXPECT_TRUE(signature.has_value()) << "minisign -S failed";
        return signature.value_or("");
    }

    static inline std::unique_ptr<MinisignTool> s_tool;
};
