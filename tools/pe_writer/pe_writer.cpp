#include "tools/pe_writer/pe_writer.h"

#include <cstdio>
#include <map>
#include <string_view>

namespace {

constexpr std::uint32_t kFileAlignment = 0x200;
constexpr std::uint32_t kSectionAlignment = 0x1000;
constexpr std::uint32_t kPeHeaderOffset = 0x80;
constexpr std::uint32_t kCodeRva = 0x1000;
constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kRtManifest = 24;
constexpr std::uint32_t kLanguageEnUs = 0x0409;
constexpr std::uint16_t kCodePageUnicode = 1200;

std::uint32_t AlignUp(std::uint32_t value, std::uint32_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

class ByteWriter {
  public:
    std::vector<unsigned char>& Bytes() { return m_bytes; }
    std::size_t Size() const { return m_bytes.size(); }

    void U8(std::uint8_t value) { m_bytes.push_back(value); }
    void U16(std::uint16_t value) {
        U8(static_cast<std::uint8_t>(value));
        U8(static_cast<std::uint8_t>(value >> 8));
    }
    void U32(std::uint32_t value) {
        U16(static_cast<std::uint16_t>(value));
        U16(static_cast<std::uint16_t>(value >> 16));
    }
    void U64(std::uint64_t value) {
        U32(static_cast<std::uint32_t>(value));
        U32(static_cast<std::uint32_t>(value >> 32));
    }
    void Raw(const void* data, std::size_t size) {
        const auto* bytes = static_cast<const unsigned char*>(data);
        m_bytes.insert(m_bytes.end(), bytes, bytes + size);
    }
    void Text(std::string_view text) { Raw(text.data(), text.size()); }
    void Zeros(std::size_t count) { m_bytes.insert(m_bytes.end(), count, 0); }
    void PadTo(std::size_t size) {
        if (m_bytes.size() < size)
            Zeros(size - m_bytes.size());
    }
    void Align(std::size_t alignment) {
        PadTo((m_bytes.size() + alignment - 1) / alignment * alignment);
    }

    void Put16(std::size_t at, std::uint16_t value) {
        m_bytes[at] = static_cast<unsigned char>(value);
        m_bytes[at + 1] = static_cast<unsigned char>(value >> 8);
    }
    void Put32(std::size_t at, std::uint32_t value) {
        Put16(at, static_cast<std::uint16_t>(value));
        Put16(at + 2, static_cast<std::uint16_t>(value >> 16));
    }

  private:
    std::vector<unsigned char> m_bytes;
};

// UTF-16LE with a terminating NUL, as every text of a resource is stored.
std::vector<std::uint16_t> ToUtf16(const std::wstring& text) {
    std::vector<std::uint16_t> units;
    for (wchar_t ch : text) {
        const auto code = static_cast<std::uint32_t>(ch);
        if (code > 0xFFFF) {
            units.push_back(static_cast<std::uint16_t>(0xD800 + ((code - 0x10000) >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(code));
        }
    }
    units.push_back(0);
    return units;
}

std::wstring VersionText(const PeVersion& v) {
    return std::to_wstring(v[0]) + L'.' + std::to_wstring(v[1]) + L'.' + std::to_wstring(v[2]) +
           L'.' + std::to_wstring(v[3]);
}

// One block of a version resource: wLength, wValueLength, wType, key, value, children, each
// part starting on a 32-bit boundary.
struct VersionBlock {
    std::wstring key;
    bool isText = false;
    std::vector<unsigned char> binaryValue;
    std::wstring textValue;
    std::vector<VersionBlock> children;

    void Write(ByteWriter& out) const {
        out.Align(4);
        const std::size_t start = out.Size();
        out.U16(0);  // wLength, filled in below
        std::vector<std::uint16_t> text;
        if (isText) {
            text = ToUtf16(textValue);
            out.U16(static_cast<std::uint16_t>(textValue.empty() ? 0 : text.size()));
        } else {
            out.U16(static_cast<std::uint16_t>(binaryValue.size()));
        }
        out.U16(isText ? 1 : 0);
        for (std::uint16_t unit : ToUtf16(key))
            out.U16(unit);
        out.Align(4);
        if (isText) {
            if (!textValue.empty())
                for (std::uint16_t unit : text)
                    out.U16(unit);
        } else {
            out.Raw(binaryValue.data(), binaryValue.size());
        }
        for (const VersionBlock& child : children)
            child.Write(out);
        out.Put16(start, static_cast<std::uint16_t>(out.Size() - start));
    }
};

std::vector<unsigned char> FixedFileInfo(const PeOptions& options) {
    ByteWriter out;
    const PeVersion& file = options.fileVersion;
    const PeVersion& product = options.productVersion;
    out.U32(0xFEEF04BD);  // signature
    out.U32(0x00010000);  // structure version 1.0
    out.U32(std::uint32_t{file[0]} << 16 | file[1]);
    out.U32(std::uint32_t{file[2]} << 16 | file[3]);
    out.U32(std::uint32_t{product[0]} << 16 | product[1]);
    out.U32(std::uint32_t{product[2]} << 16 | product[3]);
    out.U32(0x3F);        // file flags mask
    out.U32(0);           // file flags
    out.U32(0x00040004);  // VOS_NT_WINDOWS32
    out.U32(1);           // VFT_APP
    out.U32(0);           // subtype
    out.U32(0);           // date, high
    out.U32(0);           // date, low
    return out.Bytes();
}

std::vector<unsigned char> VersionResource(const PeOptions& options) {
    auto text = [](const wchar_t* key, std::wstring value) {
        VersionBlock block;
        block.key = key;
        block.isText = true;
        block.textValue = std::move(value);
        return block;
    };
    VersionBlock table{L"040904B0", true, {}, {}, {}};
    table.children = {text(L"CompanyName", L"Velmora Studios"),
                      text(L"FileDescription", options.fileDescription),
                      text(L"FileVersion", VersionText(options.fileVersion)),
                      text(L"InternalName", L"velmora2"),
                      text(L"OriginalFilename", L"velmora2.exe"),
                      text(L"ProductName", options.productName),
                      text(L"ProductVersion", VersionText(options.productVersion))};
    VersionBlock strings{L"StringFileInfo", true, {}, {}, {table}};

    ByteWriter translation;
    translation.U16(static_cast<std::uint16_t>(kLanguageEnUs));
    translation.U16(kCodePageUnicode);
    VersionBlock var{L"Translation", false, translation.Bytes(), {}, {}};
    VersionBlock vars{L"VarFileInfo", true, {}, {}, {var}};

    VersionBlock root{L"VS_VERSION_INFO", false, FixedFileInfo(options), {}, {strings, vars}};
    ByteWriter out;
    root.Write(out);
    return out.Bytes();
}

std::string Manifest() {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
           "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
           "  <trustInfo xmlns=\"urn:schemas-microsoft-com:asm.v3\"><security>"
           "<requestedPrivileges><requestedExecutionLevel level=\"asInvoker\" uiAccess=\"false\"/>"
           "</requestedPrivileges></security></trustInfo>\r\n"
           "</assembly>\r\n";
}

// type -> name -> language -> bytes; maps keep the ascending id order the format asks for.
using ResourceTree =
    std::map<std::uint32_t,
             std::map<std::uint32_t, std::map<std::uint32_t, std::vector<unsigned char>>>>;

struct ResourceSection {
    std::vector<unsigned char> bytes;
    std::size_t versionOffset = 0;  // within the section
    std::size_t versionSize = 0;
};

// Directory tables first (root, types, names), then the data entries, then the data.
ResourceSection BuildResourceSection(const ResourceTree& tree, std::uint32_t sectionRva) {
    auto directorySize = [](std::size_t entries) { return 16 + 8 * entries; };
    std::size_t offset = directorySize(tree.size());
    std::map<std::uint32_t, std::size_t> typeDirs;
    std::map<std::pair<std::uint32_t, std::uint32_t>, std::size_t> nameDirs;
    for (const auto& [type, names] : tree) {
        typeDirs[type] = offset;
        offset += directorySize(names.size());
    }
    std::size_t leafCount = 0;
    for (const auto& [type, names] : tree) {
        for (const auto& [name, languages] : names) {
            nameDirs[{type, name}] = offset;
            offset += directorySize(languages.size());
            leafCount += languages.size();
        }
    }
    const std::size_t dataEntries = offset;
    std::size_t dataOffset = (dataEntries + 16 * leafCount + 7) / 8 * 8;

    ByteWriter out;
    auto directoryHeader = [&out](std::size_t idEntries) {
        out.U32(0);  // characteristics
        out.U32(0);  // time stamp
        out.U32(0);  // major, minor version
        out.U16(0);  // named entries
        out.U16(static_cast<std::uint16_t>(idEntries));
    };
    constexpr std::uint32_t kSubdirectory = 0x80000000u;
    directoryHeader(tree.size());
    for (const auto& [type, names] : tree) {
        out.U32(type);
        out.U32(kSubdirectory | static_cast<std::uint32_t>(typeDirs[type]));
    }
    for (const auto& [type, names] : tree) {
        directoryHeader(names.size());
        for (const auto& [name, languages] : names) {
            out.U32(name);
            out.U32(kSubdirectory | static_cast<std::uint32_t>(nameDirs[{type, name}]));
        }
    }
    std::size_t leaf = 0;
    for (const auto& [type, names] : tree) {
        for (const auto& [name, languages] : names) {
            directoryHeader(languages.size());
            for (const auto& [language, data] : languages) {
                out.U32(language);
                out.U32(static_cast<std::uint32_t>(dataEntries + 16 * leaf++));
            }
        }
    }
    ResourceSection section;
    for (const auto& [type, names] : tree) {
        for (const auto& [name, languages] : names) {
            for (const auto& [language, data] : languages) {
                out.U32(sectionRva + static_cast<std::uint32_t>(dataOffset));
                out.U32(static_cast<std::uint32_t>(data.size()));
                out.U32(0);  // code page
                out.U32(0);  // reserved
                if (type == kRtVersion) {
                    section.versionOffset = dataOffset;
                    section.versionSize = data.size();
                }
                dataOffset = (dataOffset + data.size() + 7) / 8 * 8;
            }
        }
    }
    for (const auto& [type, names] : tree) {
        for (const auto& [name, languages] : names) {
            for (const auto& [language, data] : languages) {
                out.Align(8);
                out.Raw(data.data(), data.size());
            }
        }
    }
    section.bytes = std::move(out.Bytes());
    return section;
}

void WriteDosHeader(ByteWriter& out) {
    out.Text("MZ");
    out.U16(0x90);    // bytes on the last page
    out.U16(3);       // pages
    out.U16(0);       // relocations
    out.U16(4);       // header paragraphs
    out.U16(0);       // minimum extra paragraphs
    out.U16(0xFFFF);  // maximum extra paragraphs
    out.U16(0);       // ss
    out.U16(0xB8);    // sp
    out.U16(0);       // checksum
    out.U16(0);       // ip
    out.U16(0);       // cs
    out.U16(0x40);    // relocation table
    out.U16(0);       // overlay
    out.PadTo(0x3C);
    out.U32(kPeHeaderOffset);
    // A DOS program that prints a line and ends: push cs / pop ds / mov dx,msg / mov ah,9 /
    // int 21h / mov ax,4C01h / int 21h.
    const unsigned char stub[] = {0x0E, 0x1F, 0xBA, 0x0E, 0x00, 0xB4, 0x09,
                                  0xCD, 0x21, 0xB8, 0x01, 0x4C, 0xCD, 0x21};
    out.Raw(stub, sizeof stub);
    out.Text("This program needs Microsoft Windows.\r\r\n$");
    out.PadTo(kPeHeaderOffset);
}

std::uint32_t PeChecksum(const std::vector<unsigned char>& bytes) {
    std::uint64_t sum = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        sum += bytes[i] | (i + 1 < bytes.size() ? bytes[i + 1] << 8 : 0);
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + bytes.size());
}

}  // namespace

std::vector<unsigned char> BuildPeImage(const PeOptions& options, PeLayout* layout) {
    const bool wide = options.is64Bit;
    const std::uint32_t resourceRva = kCodeRva + kSectionAlignment;

    ResourceTree tree;
    if (options.withVersion)
        tree[kRtVersion][1][kLanguageEnUs] = VersionResource(options);
    if (options.withManifest) {
        const std::string manifest = Manifest();
        tree[kRtManifest][1][kLanguageEnUs].assign(manifest.begin(), manifest.end());
    }
    const bool hasResources = !tree.empty();
    const ResourceSection resources =
        hasResources ? BuildResourceSection(tree, resourceRva) : ResourceSection{};

    // xor eax, eax / ret: the same bytes in both modes.
    const unsigned char code[] = {0x31, 0xC0, 0xC3};
    const std::uint16_t sectionCount = hasResources ? 2 : 1;
    const std::uint16_t optionalSize = wide ? 240 : 224;
    const std::uint32_t headersSize = kFileAlignment;
    const std::uint32_t codeFileSize = kFileAlignment;
    const std::uint32_t resourceFileSize =
        AlignUp(static_cast<std::uint32_t>(resources.bytes.size()), kFileAlignment);
    const std::uint32_t resourceFileOffset = headersSize + codeFileSize;
    const std::uint32_t imageSize =
        hasResources ? resourceRva + AlignUp(static_cast<std::uint32_t>(resources.bytes.size()),
                                             kSectionAlignment)
                     : kCodeRva + kSectionAlignment;

    ByteWriter out;
    WriteDosHeader(out);

    out.Text(std::string_view("PE\0\0", 4));
    out.U16(wide ? 0x8664 : 0x014C);  // machine: x64 or i386
    out.U16(sectionCount);
    out.U32(0);  // time stamp: fixed, so that equal options give equal bytes
    out.U32(0);  // symbol table
    out.U32(0);  // symbols
    out.U16(optionalSize);
    // Executable, relocations stripped; 32-bit machine or large-address aware.
    out.U16(wide ? 0x0023 : 0x0103);

    const std::size_t optional = out.Size();
    out.U16(wide ? 0x20B : 0x10B);
    out.U8(14);  // linker version
    out.U8(0);
    out.U32(codeFileSize);      // size of code
    out.U32(resourceFileSize);  // size of initialised data
    out.U32(0);                 // size of uninitialised data
    out.U32(kCodeRva);          // entry point
    out.U32(kCodeRva);          // base of code
    if (wide) {
        out.U64(0x140000000ull);
    } else {
        out.U32(hasResources ? resourceRva : 0);  // base of data
        out.U32(0x400000);
    }
    out.U32(kSectionAlignment);
    out.U32(kFileAlignment);
    out.U16(6);  // operating system version
    out.U16(0);
    out.U16(0);  // image version
    out.U16(0);
    out.U16(6);  // subsystem version
    out.U16(0);
    out.U32(0);  // Win32 version value
    out.U32(imageSize);
    out.U32(headersSize);
    const std::size_t checksumField = out.Size();
    out.U32(0);
    out.U16(2);       // Windows GUI subsystem
    out.U16(0x8100);  // NX compatible, terminal-server aware
    auto sizeField = [&out, wide](std::uint64_t value) {
        if (wide)
            out.U64(value);
        else
            out.U32(static_cast<std::uint32_t>(value));
    };
    sizeField(0x100000);  // stack reserve
    sizeField(0x1000);    // stack commit
    sizeField(0x100000);  // heap reserve
    sizeField(0x1000);    // heap commit
    out.U32(0);           // loader flags
    out.U32(16);          // data directories
    for (std::uint32_t i = 0; i < 16; ++i) {
        const bool isResource = i == 2 && hasResources;
        out.U32(isResource ? resourceRva : 0);
        out.U32(isResource ? static_cast<std::uint32_t>(resources.bytes.size()) : 0);
    }

    const std::size_t sectionTable = out.Size();
    auto sectionHeader = [&out](std::string_view name, std::uint32_t virtualSize, std::uint32_t rva,
                                std::uint32_t fileSize, std::uint32_t fileOffset,
                                std::uint32_t characteristics) {
        const std::size_t start = out.Size();
        out.Text(name);
        out.PadTo(start + 8);
        out.U32(virtualSize);
        out.U32(rva);
        out.U32(fileSize);
        out.U32(fileOffset);
        out.U32(0);  // relocations
        out.U32(0);  // line numbers
        out.U16(0);
        out.U16(0);
        out.U32(characteristics);
    };
    sectionHeader(".text", sizeof code, kCodeRva, codeFileSize, headersSize, 0x60000020);
    if (hasResources)
        sectionHeader(".rsrc", static_cast<std::uint32_t>(resources.bytes.size()), resourceRva,
                      resourceFileSize, resourceFileOffset, 0x40000040);
    out.PadTo(headersSize);

    out.Raw(code, sizeof code);
    out.PadTo(headersSize + codeFileSize);
    if (hasResources) {
        out.Raw(resources.bytes.data(), resources.bytes.size());
        out.PadTo(resourceFileOffset + resourceFileSize);
    }
    const std::size_t imageEnd = out.Size();
    out.Raw(options.overlay.data(), options.overlay.size());
    out.Put32(checksumField, PeChecksum(out.Bytes()));

    if (layout != nullptr) {
        *layout = PeLayout{};
        layout->peHeader = kPeHeaderOffset;
        layout->optionalHeader = optional;
        layout->sectionTable = sectionTable;
        layout->sectionCount = sectionCount;
        if (hasResources) {
            layout->resourceSection = resourceFileOffset;
            layout->resourceRva = resourceRva;
        }
        if (options.withVersion) {
            layout->versionData = resourceFileOffset + resources.versionOffset;
            layout->versionSize = resources.versionSize;
        }
        layout->imageEnd = imageEnd;
    }
    return std::move(out.Bytes());
}

bool WritePeFile(const std::string& path, const PeOptions& options) {
    const std::vector<unsigned char> bytes = BuildPeImage(options);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}
