#include "tests/support/temp_dir.h"

#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "text/utf8.h"

namespace {

std::filesystem::path TempRoot() {
    std::error_code error;
    std::filesystem::path root = std::filesystem::temp_directory_path(error);
    return error ? std::filesystem::path("/tmp") : root;
}

std::string RandomSuffix(std::mt19937_64& generator) {
    static const char kDigits[] = "0123456789abcdef";
    std::string suffix;
    for (std::uint64_t value = generator(), i = 0; i < 16; ++i, value >>= 4) {
        suffix += kDigits[value & 0xf];
    }
    return suffix;
}

}  // namespace

TempDir::TempDir() {
    std::random_device device;
    std::mt19937_64 generator((std::uint64_t{device()} << 32) ^ device());
    const std::filesystem::path root = TempRoot();
    // create_directory reports false for a name that already exists, so a collision only costs
    // another try.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::filesystem::path candidate = root / ("velmora-test-" + RandomSuffix(generator));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error) && !error) {
            m_path = std::move(candidate);
            return;
        }
    }
}

TempDir::~TempDir() {
    if (!m_path.empty()) {
        std::error_code error;
        // A test may leave a folder without write permission behind; give it back first.
        for (auto it = std::filesystem::recursive_directory_iterator(m_path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
            std::error_code ignored;
            if (it->is_directory(ignored)) {
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ignored);
            }
        }
        std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(m_path, error);
    }
}

std::string TempDir::NarrowPath() const {
    return m_path.string();
}

std::wstring TempDir::WidePath() const {
    return Utf8ToWide(m_path.string());
}

std::filesystem::path TempDir::PathOf(std::string_view name) const {
    return m_path / std::filesystem::path(std::string(name));
}

std::string TempDir::NarrowPathOf(std::string_view name) const {
    return PathOf(name).string();
}

std::wstring TempDir::WidePathOf(std::string_view name) const {
    return Utf8ToWide(PathOf(name).string());
}

bool TempDir::WriteFile(std::string_view name, std::string_view bytes) const {
    if (m_path.empty()) {
        return false;
    }
    const std::filesystem::path path = PathOf(name);
    std::error_code error;
    std::filesystem::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

namespace {

std::optional<std::string> ReadWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        return std::nullopt;
    }
    return bytes;
}

}  // namespace

std::optional<std::string> TempDir::ReadFile(std::string_view name) const {
    if (m_path.empty()) {
        return std::nullopt;
    }
    return ReadWhole(PathOf(name));
}

std::string FileContents(const std::filesystem::path& path) {
    return ReadWhole(path).value_or("");
}

bool TempDir::Exists(std::string_view name) const {
    std::error_code error;
    return !m_path.empty() && std::filesystem::exists(PathOf(name), error);
}
