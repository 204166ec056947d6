#include "tests/support/scoped_env.h"

#include <cstdlib>
#include <system_error>

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : m_name(std::move(name)) {
    if (const char* old = std::getenv(m_name.c_str()))
        m_old = old;
    Set(value);
}

ScopedEnv::~ScopedEnv() {
    Set(m_old);
}

void ScopedEnv::Set(const std::optional<std::string>& value) const {
    if (value)
        setenv(m_name.c_str(), value->c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

ScopedCurrentDirectory::ScopedCurrentDirectory(const std::filesystem::path& folder) {
    std::error_code error;
    m_old = std::filesystem::current_path(error);
    if (error)
        return;
    std::filesystem::current_path(folder, error);
    m_valid = !error;
}

ScopedCurrentDirectory::~ScopedCurrentDirectory() {
    if (!m_valid)
        return;
    std::error_code error;
    std::filesystem::current_path(m_old, error);
}
