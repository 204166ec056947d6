#include "app/file_version.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/child_process.h"
#include "tests/support/temp_dir.h"
#include "text/utf8.h"
#include "tools/pe_writer/pe_writer.h"

namespace {

using Bytes = std::vector<unsigned char>;

std::wstring VersionOf(const Bytes& bytes, std::size_t size) {
    return ReadFileVersionFromBytes(bytes.data(), size);
}
std::wstring VersionOf(const Bytes& bytes) {
    return VersionOf(bytes, bytes.size());
}

void Put16(Bytes& bytes, std::size_t at, std::uint16_t value) {
    bytes.at(at) = static_cast<unsigned char>(value);
    bytes.at(at + 1) = static_cast<unsigned char>(value >> 8);
}
void Put32(Bytes& bytes, std::size_t at, std::uint32_t value) {
    Put16(bytes, at, static_cast<std::uint16_t>(value));
    Put16(bytes, at + 2, static_cast<std::uint16_t>(value >> 16));
}

class FileVersionTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(m_dir.IsValid()); }

    std::wstring WriteImage(const std::string& name, const PeOptions& options) {
        EXPECT_TRUE(WritePeFile(m_dir.NarrowPathOf(name), options));
        return m_dir.WidePathOf(name);
    }

    TempDir m_dir;
};

TEST_F(FileVersionTest, ReadsBothBitnesses) {
    for (bool is64 : {false, true}) {
        PeOptions options;
        options.is64Bit = is64;
        options.fileVersion = {1, 0, 0, 38};
        EXPECT_EQ(ReadFileVersion(WriteImage(is64 ? "x64.exe" : "x86.exe", options)), L"1.0.0.38")
            << (is64 ? "PE32+" : "PE32");
    }
}

TEST_F(FileVersionTest, PartsInOrderAndAtTheirLimits) {
    PeOptions options;
    options.fileVersion = {65535, 0, 1, 65534};
    EXPECT_EQ(ReadFileVersion(WriteImage("limits.exe", options)), L"65535.0.1.65534");
    options.fileVersion = {1, 2, 3, 4};
    options.is64Bit = true;
    EXPECT_EQ(ReadFileVersion(WriteImage("order.exe", options)), L"1.2.3.4");
}

TEST_F(FileVersionTest, FileVersionNotProductVersion) {
    PeOptions options;
    options.fileVersion = {1, 2, 0, 0};
    options.productVersion = {9, 9, 9, 9};
    EXPECT_EQ(ReadFileVersion(WriteImage("game.exe", options)), L"1.2.0.0");
}

TEST_F(FileVersionTest, VersionFoundBesideOtherResourcesAndBeforeAnOverlay) {
    PeOptions options;
    options.withManifest = true;
    options.fileVersion = {1, 2, 0, 0};
    options.overlay.assign(100000, 0xAB);
    EXPECT_EQ(ReadFileVersion(WriteImage("overlay.exe", options)), L"1.2.0.0");
}

TEST_F(FileVersionTest, NoVersionResource) {
    PeOptions options;
    options.withVersion = false;
    options.withManifest = true;
    EXPECT_EQ(ReadFileVersion(WriteImage("manifest-only.exe", options)), L"");
    options.withManifest = false;
    EXPECT_EQ(ReadFileVersion(WriteImage("no-resources.exe", options)), L"");
}

TEST_F(FileVersionTest, FilesThatAreNoImage) {
    EXPECT_EQ(ReadFileVersion(m_dir.WidePathOf("missing.exe")), L"");
    EXPECT_EQ(ReadFileVersion(L""), L"");
    ASSERT_TRUE(m_dir.WriteFile("text.exe", "MZ but nothing else worth reading"));
    EXPECT_EQ(ReadFileVersion(m_dir.WidePathOf("text.exe")), L"");
    ASSERT_TRUE(m_dir.WriteFile("folder/x", "x"));
    EXPECT_EQ(ReadFileVersion(m_dir.WidePathOf("folder")), L"");
}

TEST_F(FileVersionTest, TruncatedFilesOnDisk) {
    Bytes image = BuildPeImage(PeOptions{});
    for (std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{64}, std::size_t{0x200},
                             image.size() / 2, image.size() - 1}) {
        const std::string name = "cut" + std::to_string(size) + ".exe";
        ASSERT_TRUE(m_dir.WriteFile(name, std::string(image.begin(), image.begin() + size)));
        EXPECT_EQ(ReadFileVersion(m_dir.WidePathOf(name)), L"") << size;
    }
}

TEST(LauncherFileVersionTest, IsTheCompiledInVersion) {
    EXPECT_EQ(LauncherFileVersion(), L"1.0.0.38");
}

TEST(PeWriterTest, SystemObjdumpReadsTheImages) {
    TempDir dir;
    ASSERT_TRUE(dir.IsValid());
    if (RunShell("objdump --version >/dev/null 2>&1").status != 0)
        GTEST_SKIP() << "no objdump";
    for (bool is64 : {false, true}) {
        PeOptions options;
        options.is64Bit = is64;
        options.withManifest = true;
        const std::string path = dir.NarrowPathOf("tool.exe");
        ASSERT_TRUE(WritePeFile(path, options));
        const auto [status, output] = RunShell(ShellWords({"objdump", "-p", path}) + " 2>&1");
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find(is64 ? "pei-x86-64" : "pei-i386"), std::string::npos) << output;
        // The version (type 0x10) and the manifest (type 0x18), each with a leaf of data.
        EXPECT_NE(output.find("ID: 0x000010"), std::string::npos) << output;
        EXPECT_NE(output.find("ID: 0x000018"), std::string::npos) << output;
        EXPECT_NE(output.find("Leaf: Addr"), std::string::npos) << output;
    }
}

// Damaged images, built from a sound one by changing single fields.
class DamagedImageTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        PeOptions options;
        options.is64Bit = GetParam();
        options.withManifest = true;
        options.fileVersion = {1, 0, 0, 38};
        m_image = BuildPeImage(options, &m_layout);
        ASSERT_EQ(VersionOf(m_image), L"1.0.0.38");
        ASSERT_NE(m_layout.versionData, 0u);
    }

    std::size_t Root() const { return m_layout.resourceSection; }
    // Offset of the resource tree's own offsets (directory entries, data entries).
    std::size_t TreeField(std::uint32_t offset) const { return Root() + offset; }
    std::uint32_t Get32(std::size_t at) const {
        return m_image.at(at) | m_image.at(at + 1) << 8 | m_image.at(at + 2) << 16 |
               static_cast<std::uint32_t>(m_image.at(at + 3)) << 24;
    }
    // The tree walk of the version: root entry -> name directory -> language directory -> leaf.
    std::size_t VersionTypeEntry() const { return TreeField(16); }  // first root entry: type 16
    std::size_t NameDirectory() const {
        return TreeField(Get32(VersionTypeEntry() + 4) & 0x7FFFFFFF);
    }
    std::size_t LanguageDirectory() const {
        return TreeField(Get32(NameDirectory() + 16 + 4) & 0x7FFFFFFF);
    }
    std::size_t DataEntry() const { return TreeField(Get32(LanguageDirectory() + 16 + 4)); }

    Bytes m_image;
    PeLayout m_layout;
};

TEST_P(DamagedImageTest, TruncatedAtEveryLength) {
    // The last section ends at the end of the file, so every shorter image is damaged.
    for (std::size_t size = 0; size < m_image.size(); ++size)
        ASSERT_EQ(VersionOf(m_image, size), L"") << "cut at " << size;
}

TEST_P(DamagedImageTest, HeaderFaults) {
    auto expectEmpty = [this](const char* what, auto damage) {
        Bytes copy = m_image;
        damage(copy);
        EXPECT_EQ(VersionOf(copy), L"") << what;
    };
    const std::size_t pe = m_layout.peHeader;
    const std::size_t optional = m_layout.optionalHeader;
    const std::size_t countField = optional + (GetParam() ? 108 : 92);
    expectEmpty("no MZ", [](Bytes& b) { b[0] = 'Z'; });
    expectEmpty("PE header beyond the file", [](Bytes& b) { Put32(b, 0x3C, 0xFFFFFFF0u); });
    expectEmpty("PE header at the very end",
                [](Bytes& b) { Put32(b, 0x3C, static_cast<std::uint32_t>(b.size() - 2)); });
    expectEmpty("no PE signature", [pe](Bytes& b) { b[pe + 1] = 'X'; });
    expectEmpty("unknown optional header", [optional](Bytes& b) { Put16(b, optional, 0x107); });
    expectEmpty("optional header too short for the resource entry",
                [pe](Bytes& b) { Put16(b, pe + 4 + 16, 96); });
    expectEmpty("two data directories only", [countField](Bytes& b) { Put32(b, countField, 2); });
    expectEmpty("no sections", [pe](Bytes& b) { Put16(b, pe + 4 + 2, 0); });
    expectEmpty("65535 sections", [pe](Bytes& b) { Put16(b, pe + 4 + 2, 0xFFFF); });
    expectEmpty("resource RVA zero", [countField](Bytes& b) { Put32(b, countField + 4 + 16, 0); });
    expectEmpty("resource RVA in no section",
                [countField](Bytes& b) { Put32(b, countField + 4 + 16, 0x7FFFF000); });
    const std::size_t rsrcHeader = m_layout.sectionTable + 40;
    expectEmpty("section raw data past the end",
                [rsrcHeader](Bytes& b) { Put32(b, rsrcHeader + 16, 0xFFFFFE00u); });
    expectEmpty("section raw offset overflows",
                [rsrcHeader](Bytes& b) { Put32(b, rsrcHeader + 20, 0xFFFFFFFFu); });
    expectEmpty("section virtual address wraps",
                [rsrcHeader](Bytes& b) { Put32(b, rsrcHeader + 12, 0xFFFFFF00u); });
}

TEST_P(DamagedImageTest, ResourceTreeFaults) {
    auto expectEmpty = [this](const char* what, std::size_t at, std::uint32_t value) {
        Bytes copy = m_image;
        Put32(copy, at, value);
        EXPECT_EQ(VersionOf(copy), L"") << what;
    };
    const std::uint32_t subdirectory = 0x80000000u;
    expectEmpty("name level loops back to the root", NameDirectory() + 16 + 4, subdirectory | 0);
    expectEmpty("language level points at itself", LanguageDirectory() + 16 + 4,
                static_cast<std::uint32_t>(LanguageDirectory() - Root()) | subdirectory);
    expectEmpty("type entry is a leaf", VersionTypeEntry() + 4, 0);
    expectEmpty("subdirectory beyond the section", VersionTypeEntry() + 4,
                subdirectory | 0x7FFFFFF0);
    expectEmpty("entry count beyond the section", NameDirectory() + 12, 0xFFFFFFFFu);
    expectEmpty("empty language directory", LanguageDirectory() + 12, 0);
    expectEmpty("data beyond the section", DataEntry(), 0xFFFFFFF0u);
    expectEmpty("data size overflows", DataEntry() + 4, 0xFFFFFFFFu);
    expectEmpty("data too short for the fixed information", DataEntry() + 4, 60);
}

TEST_P(DamagedImageTest, VersionBlockFaults) {
    const std::size_t info = m_layout.versionData;
    auto expectEmpty = [this](const char* what, std::size_t at, std::uint16_t value) {
        Bytes copy = m_image;
        Put16(copy, at, value);
        EXPECT_EQ(VersionOf(copy), L"") << what;
    };
    expectEmpty("block length beyond the data", info, 0xFFFF);
    expectEmpty("block length too short", info, 40);
    expectEmpty("no fixed information", info + 2, 0);
    expectEmpty("fixed information cut short", info + 2, 51);
    expectEmpty("wrong key", info + 6, 'W');
    expectEmpty("wrong signature", info + 40, 0x1234);
}

INSTANTIATE_TEST_SUITE_P(Bitness, DamagedImageTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "PE32plus" : "PE32"; });

}  // namespace
