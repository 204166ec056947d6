#pragma once
// A temporary folder for one test: created empty and unique below $TMPDIR (or /tmp), removed
// with everything in it when the object goes away.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    // False when no folder could be created; the paths are then empty.
    bool IsValid() const { return !m_path.empty(); }

    const std::filesystem::path& Path() const { return m_path; }
    std::string NarrowPath() const;
    std::wstring WidePath() const;
    // The folder joined with a relative name ("a.bin", "sub/b.bin").
    std::filesystem::path PathOf(std::string_view name) const;
    std::string NarrowPathOf(std::string_view name) const;
    std::wstring WidePathOf(std::string_view name) const;

    // Writes bytes to name (creating missing folders on the way); false on any failure.
    bool WriteFile(std::string_view name, std::string_view bytes) const;
    // The whole content of name, or nothing when it cannot be read.
    std::optional<std::string> ReadFile(std::string_view name) const;
    bool Exists(std::string_view name) const;

  private:
    std::filesystem::path m_path;
};

// The whole content of the file at path, wherever it is; empty when it cannot be read
// (TempDir::ReadFile tells the two apart).
std::string FileContents(const std::filesystem::path& path);
