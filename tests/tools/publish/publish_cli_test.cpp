// velmora-publish as a program: exit statuses, the JSON for a CI job, and where build writes.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "tools/pe_writer/pe_writer.h"
#include "transfer/md5.h"

namespace {

class PublishCliTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(m_temp.IsValid());
        PeOptions exe;
        exe.fileVersion = {1, 0, 0, 0};
        ASSERT_TRUE(WritePeFile(m_temp.NarrowPathOf("velmora2.exe"), exe));
        ASSERT_TRUE(m_temp.WriteFile("server/patches/1.1.0.0/setup.exe", "MZ setup"));
        ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/English.txt", "Fixes"));
        ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/French.txt", "Corrections"));
        ASSERT_TRUE(m_temp.WriteFile("notes/1.1.0.0/German.txt", "Korrekturen"));
        Describe("1.1.0.0", "setup.exe");
    }

    void Describe(const std::string& latest, const std::string& installer) {
        ASSERT_TRUE(
            m_temp.WriteFile("velmora-publish.toml",
                             "base_url = \"http://dl.example/\"\nserved_folder = \"server\"\n"
                             "notes_folder = \"notes\"\npatcherversion = \"1.0.0.38\"\n"
                             "patcherurl = \"http://dl.example/launcher.html\"\n\n[[release]]\n"
                             "name = \"Gold\"\nlatestversion = \"" +
                                 latest +
                                 "\"\n"
                                 "executables = [\"velmora2.exe\"]\n\n[[release.patch]]\n"
                                 "version = \"1.1.0.0\"\ninstaller = \"" +
                                 installer + "\"\n"));
    }

    ShellRun Publish(std::vector<std::string> args) const {
        args.insert(args.begin(), VELMORA_PUBLISH_PATH);
        return RunShell(ShellWords(args) + " 2>/dev/null");
    }

    std::string Path(const std::string& name) const { return m_temp.NarrowPathOf(name); }

    TempDir m_temp;
};

TEST_F(PublishCliTest, ABadCommandLineIsStatusTwo) {
    EXPECT_EQ(Publish({}).status, 2);
    EXPECT_EQ(Publish({"lint"}).status, 2);
    EXPECT_EQ(Publish({"lint", "--bogus", Path("x.xml")}).status, 2);
    EXPECT_EQ(Publish({"lint", "--files", Path("no-such-folder"), Path("x.xml")}).status, 2);
    EXPECT_EQ(Publish({"verify-everything"}).status, 2);
    const ShellRun help = Publish({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.output.find("lint"), std::string::npos);
}

TEST_F(PublishCliTest, BuildWritesBesideTheServedFilesAndLintAgrees) {
    const ShellRun build = Publish({"build", Path("velmora-publish.toml")});
    ASSERT_EQ(build.status, 0) << build.output;
    ASSERT_TRUE(m_temp.Exists("server/patchinfo.xml"));
    EXPECT_NE(build.output.find("wrote " + Path("server/patchinfo.xml")), std::string::npos)
        << build.output;

    // The same bytes on standard output.
    const ShellRun printed = Publish({"build", Path("velmora-publish.toml"), "-o", "-"});
    EXPECT_EQ(printed.status, 0);
    EXPECT_EQ(std::optional<std::string>(printed.output), m_temp.ReadFile("server/patchinfo.xml"));

    const ShellRun lint =
        Publish({"lint", "--strict", "--files", Path("server"), Path("server/patchinfo.xml")});
    EXPECT_EQ(lint.status, 0) << lint.output;
    EXPECT_NE(lint.output.find("no findings"), std::string::npos) << lint.output;
}

TEST_F(PublishCliTest, ErrorsFailWarningsOnlyWhenStrict) {
    ASSERT_EQ(Publish({"build", Path("velmora-publish.toml")}).status, 0);
    std::string text = *m_temp.ReadFile("server/patchinfo.xml");
    // A warning only: the installer matches its download when letter case is ignored.
    std::string warned = text;
    warned.replace(warned.find("installer=\"setup.exe\""), 21, "installer=\"SETUP.exe\"");
    ASSERT_TRUE(m_temp.WriteFile("warned.xml", warned));
    EXPECT_EQ(Publish({"lint", Path("warned.xml")}).status, 0);
    EXPECT_EQ(Publish({"lint", "--strict", Path("warned.xml")}).status, 1);

    text.replace(text.find("size=\""), 6, "size=\"x");
    ASSERT_TRUE(m_temp.WriteFile("broken.xml", text));
    const ShellRun json = Publish({"lint", "--json", Path("broken.xml")});
    EXPECT_EQ(json.status, 1);
    const nlohmann::json document = nlohmann::json::parse(json.output, nullptr, false);
    ASSERT_FALSE(document.is_discarded()) << json.output;
    ASSERT_EQ(document["findings"].size(), 1u) << json.output;
    EXPECT_EQ(document["findings"][0]["code"], "size-format");
    EXPECT_EQ(document["findings"][0]["severity"], "error");
    EXPECT_GT(document["findings"][0]["line"].get<int>(), 0);
    EXPECT_EQ(document["summary"]["status"], "fail");
}

TEST_F(PublishCliTest, NothingIsWrittenWhenTheBuildFails) {
    Describe("1.1.0.0", "install.exe");
    const ShellRun build = Publish({"build", Path("velmora-publish.toml")});
    EXPECT_EQ(build.status, 1);
    EXPECT_NE(build.output.find("installer-not-downloaded"), std::string::npos) << build.output;
    EXPECT_FALSE(m_temp.Exists("server/patchinfo.xml"));
    EXPECT_FALSE(m_temp.Exists("server/patchinfo.xml.new"));
}

}  // namespace
