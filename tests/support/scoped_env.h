#pragma once
// Process-wide state a test changes for a while and must give back: an environment variable,
// the working folder.

#include <filesystem>
#include <optional>
#include <string>

// Sets (or, with nullopt, removes) an environment variable for the life of the object and puts
// the old value back afterwards.
class ScopedEnv {
  public:
    ScopedEnv(std::string name, const std::optional<std::string>& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    // Changes the value again; the one from before the object is still what comes back.
    void Set(const std::optional<std::string>& value) const;

  private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Makes folder the process's working directory for the life of the object.
class ScopedCurrentDirectory {
  public:
    explicit ScopedCurrentDirectory(const std::filesystem::path& folder);
    ~ScopedCurrentDirectory();
    ScopedCurrentDirectory(const ScopedCurrentDirectory&) = delete;
    ScopedCurrentDirectory& operator=(const ScopedCurrentDirectory&) = delete;
    bool IsValid() const { return m_valid; }

  private:
    std::filesystem::path m_old;
    bool m_valid = false;
};
