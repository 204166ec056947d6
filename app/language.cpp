#include "app/language.h"

#include <cstdio>
#include <istream>
#include <memory>
#include <streambuf>
#include <string>

#include "catalogue/xml_tree.h"
#include "platform/platform.h"
#include "platform/safe_files.h"
#include "platform/user_folders.h"
#include "text/messages.h"

namespace {

constexpr std::int64_t kMaxProfileSize = 1024 * 1024;

// A read-only stream over a C file, so the profile is parsed block by block through the
// platform's own file opening (wide paths) instead of being read whole into memory.
class FileInputBuffer : public std::streambuf {
  public:
    explicit FileInputBuffer(std::FILE* file) : m_file(file) {}

  protected:
    int_type underflow() override {
        if (gptr() < egptr())
            return traits_type::to_int_type(*gptr());
        const std::size_t got = std::fread(m_block, 1, sizeof m_block, m_file);
        if (got == 0)
            return traits_type::eof();
        setg(m_block, m_block, m_block + got);
        return traits_type::to_int_type(*gptr());
    }

  private:
    std::FILE* m_file;
    char m_block[4096];
};

// The value of the last Language child of root/pointer/Registry, or empty when the tree does
// not have that shape.
std::string LanguageValue(const XmlNode* root) {
    if (!XmlIsNamed(root, "root"))
        return {};
    const XmlNode* pointer = root->Child(0);
    if (!XmlIsNamed(pointer, "pointer"))
        return {};
    const XmlNode* registry = pointer->Child(0);
    if (!XmlIsNamed(registry, "Registry"))
        return {};
    std::string value;
    for (const auto& child : registry->children) {
        if (XmlIsNamed(child.get(), "Language"))
            value = XmlGetAttribute(child.get(), "value", "");
    }
    return value;
}

}  // namespace

bool ProfilePath(std::wstring& out) {
    std::wstring folder;
    if (!platform::GetUserFolder(platform::kDataFolder, folder) || folder.empty())
        return false;
    const wchar_t sep = platform::kPathSeparator;
    return platform::JoinPath(
        folder, std::wstring(L"Velmora 2") + sep + L"Profile" + sep + L"Registry.xml", out);
}

void DetectLanguage() {
    std::wstring path;
    if (!ProfilePath(path))
        return;
    // Only a regular file is read (never a FIFO or device, which could block for ever), and
    // only one of a sensible size: a profile holds a few settings.
    const platform::UniqueFile file = platform::OpenRegularFileForReading(path);
    std::int64_t size = 0;
    if (file == nullptr || !platform::GetOpenFileSize(file.get(), size) || size > kMaxProfileSize)
        return;

    std::string value;
    {
        FileInputBuffer buffer(file.get());
        std::istream stream(&buffer);
        const std::unique_ptr<XmlNode> tree = XmlParse(stream, "");
        value = LanguageValue(tree.get());
    }

    if (value == "English")
        LanguageIndex = 0;
    else if (value == "French")
        LanguageIndex = 1;
    else if (value == "German")
        LanguageIndex = 2;
}
