#include "app/file_version.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "platform/platform.h"
#include "platform/safe_files.h"

#ifndef VELMORA_VERSION_TEXT
#error "VELMORA_VERSION_TEXT must name the launcher's version"
#endif

namespace {

// Field positions of the PE format (all little-endian).
constexpr std::uint16_t kDosMagic = 0x5A4D;  // "MZ"
constexpr std::uint64_t kDosNewHeaderField = 0x3C;
constexpr std::uint32_t kPeSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint64_t kCoffHeaderSize = 20;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint32_t kResourceDirectoryIndex = 2;
constexpr std::uint64_t kSectionHeaderSize = 40;
// The Windows loader refuses images with more sections than this.
constexpr std::uint16_t kMaxSections = 96;

constexpr std::uint32_t kRtVersion = 16;
constexpr std::uint32_t kResourceHighBit = 0x80000000u;
constexpr std::uint64_t kResourceDirectorySize = 16;
constexpr std::uint64_t kResourceEntrySize = 8;
constexpr std::uint64_t kResourceDataEntrySize = 16;

// VS_VERSIONINFO: three 16-bit fields, the key "VS_VERSION_INFO" with its NUL in UTF-16,
// padding to a 32-bit boundary, then VS_FIXEDFILEINFO.
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr std::uint64_t kVersionKeyOffset = 6;
constexpr std::uint64_t kFixedInfoOffset = (kVersionKeyOffset + sizeof kVersionKey * 2 + 3) & ~3u;
constexpr std::uint64_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;

std::uint16_t Load16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Load32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// Random access to the image's bytes. Every read is checked against the image's size, so the
// parser can follow any offset the file claims without ever leaving the image.
class ImageSource {
  public:
    virtual ~ImageSource() = default;
    virtual std::uint64_t Size() const = 0;
    virtual bool ReadAt(std::uint64_t offset, unsigned char* out, std::size_t size) = 0;

    bool Read16(std::uint64_t offset, std::uint16_t& value) {
        unsigned char bytes[2];
        if (!ReadAt(offset, bytes, sizeof bytes))
            return false;
        value = Load16(bytes);
        return true;
    }
    bool Read32(std::uint64_t offset, std::uint32_t& value) {
        unsigned char bytes[4];
        if (!ReadAt(offset, bytes, sizeof bytes))
            return false;
        value = Load32(bytes);
        return true;
    }

  protected:
    bool Inside(std::uint64_t offset, std::uint64_t size) const {
        return offset <= Size() && size <= Size() - offset;
    }
};

class MemorySource : public ImageSource {
  public:
    MemorySource(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    std::uint64_t Size() const override { return m_size; }
    bool ReadAt(std::uint64_t offset, unsigned char* out, std::size_t size) override {
        if (!Inside(offset, size))
            return false;
        if (size != 0)
            std::memcpy(out, m_data + offset, size);
        return true;
    }

  private:
    const unsigned char* m_data;
    std::size_t m_size;
};

// Reads only the few pieces the parser asks for, so that a large game executable is never
// loaded whole.
class FileSource : public ImageSource {
  public:
    explicit FileSource(std::FILE* file) : m_file(file) {
        if (std::fseek(m_file, 0, SEEK_END) == 0) {
            const long end = std::ftell(m_file);
            if (end > 0)
                m_size = static_cast<std::uint64_t>(end);
        }
    }
    std::uint64_t Size() const override { return m_size; }
    bool ReadAt(std::uint64_t offset, unsigned char* out, std::size_t size) override {
        if (!Inside(offset, size))
            return false;
        if (offset > static_cast<std::uint64_t>(std::numeric_limits<long>::max()))
            return false;
        if (std::fseek(m_file, static_cast<long>(offset), SEEK_SET) != 0)
            return false;
        return std::fread(out, 1, size, m_file) == size;
    }

  private:
    std::FILE* m_file;
    std::uint64_t m_size = 0;
};

struct Section {
    std::uint32_t virtualAddress;
    std::uint32_t mappedSize;  // bytes of the section that are both in memory and in the file
    std::uint32_t fileOffset;
};

class VersionReader {
  public:
    explicit VersionReader(ImageSource& source) : m_source(source) {}

    bool Read(std::uint32_t& versionMs, std::uint32_t& versionLs) {
        std::uint32_t resourceRva = 0;
        if (!ReadHeaders(resourceRva))
            return false;
        std::uint32_t dataRva = 0, dataSize = 0;
        if (!FindVersionResource(resourceRva, dataRva, dataSize))
            return false;
        return ReadFixedInfo(dataRva, dataSize, versionMs, versionLs);
    }

  private:
    bool ReadHeaders(std::uint32_t& resourceRva) {
        std::uint16_t magic = 0;
        std::uint32_t peOffset = 0, signature = 0;
        if (!m_source.Read16(0, magic) || magic != kDosMagic)
            return false;
        if (!m_source.Read32(kDosNewHeaderField, peOffset))
            return false;
        if (!m_source.Read32(peOffset, signature) || signature != kPeSignature)
            return false;

        const std::uint64_t coff = std::uint64_t{peOffset} + 4;
        std::uint16_t sectionCount = 0, optionalSize = 0;
        if (!m_source.Read16(coff + 2, sectionCount) || !m_source.Read16(coff + 16, optionalSize))
            return false;

        const std::uint64_t optional = coff + kCoffHeaderSize;
        std::uint16_t optionalMagic = 0;
        if (!m_source.Read16(optional, optionalMagic))
            return false;
        std::uint64_t countField = 0, directories = 0;
        if (optionalMagic == kPe32Magic) {
            countField = 92;
            directories = 96;
        } else if (optionalMagic == kPe32PlusMagic) {
            countField = 108;
            directories = 112;
        } else {
            return false;
        }
        // The resource directory entry must lie inside the optional header the image declares.
        const std::uint64_t resourceEntry = directories + kResourceDirectoryIndex * 8;
        if (resourceEntry + 8 > optionalSize)
            return false;
        std::uint32_t directoryCount = 0;
        if (!m_source.Read32(optional + countField, directoryCount) ||
            directoryCount <= kResourceDirectoryIndex)
            return false;
        if (!m_source.Read32(optional + resourceEntry, resourceRva) || resourceRva == 0)
            return false;

        return ReadSections(optional + optionalSize, sectionCount);
    }

    bool ReadSections(std::uint64_t table, std::uint16_t count) {
        if (count == 0 || count > kMaxSections)
            return false;
        std::vector<unsigned char> raw(count * kSectionHeaderSize);
        if (!m_source.ReadAt(table, raw.data(), raw.size()))
            return false;
        for (std::uint16_t i = 0; i < count; ++i) {
            const unsigned char* header = raw.data() + i * kSectionHeaderSize;
            const std::uint32_t virtualSize = Load32(header + 8);
            const std::uint32_t virtualAddress = Load32(header + 12);
            const std::uint32_t rawSize = Load32(header + 16);
            const std::uint32_t rawOffset = Load32(header + 20);
            // A section whose bytes run past the end of the file means a cut-off image.
            if (rawSize != 0 && (std::uint64_t{rawOffset} + rawSize > m_source.Size()))
                return false;
            // Past VirtualSize the loader shows zeros, not the file's padding.
            std::uint32_t mapped = rawSize;
            if (virtualSize != 0 && virtualSize < mapped)
                mapped = virtualSize;
            m_sections.push_back({virtualAddress, mapped, rawOffset});
        }
        return true;
    }

    // The file offset of the bytes [rva, rva + size), which must lie within one section.
    bool MapRva(std::uint64_t rva, std::uint64_t size, std::uint64_t& offset) const {
        for (const Section& section : m_sections) {
            if (rva < section.virtualAddress)
                continue;
            const std::uint64_t into = rva - section.virtualAddress;
            if (into > section.mappedSize || size > section.mappedSize - into)
                continue;
            offset = std::uint64_t{section.fileOffset} + into;
            return true;
        }
        return false;
    }

    bool ReadRva(std::uint64_t rva, unsigned char* out, std::size_t size) {
        std::uint64_t offset = 0;
        return MapRva(rva, size, offset) && m_source.ReadAt(offset, out, size);
    }

    // The entries of the resource directory at offsetInTree (relative to the tree's root).
    bool ReadDirectory(std::uint32_t resourceRva, std::uint32_t offsetInTree,
                       std::vector<unsigned char>& entries, std::uint32_t& count) {
        unsigned char header[kResourceDirectorySize];
        const std::uint64_t rva = std::uint64_t{resourceRva} + offsetInTree;
        if (!ReadRva(rva, header, sizeof header))
            return false;
        count = std::uint32_t{Load16(header + 12)} + Load16(header + 14);
        const std::uint64_t size = count * kResourceEntrySize;
        std::uint64_t unused = 0;
        if (!MapRva(rva + kResourceDirectorySize, size, unused))
            return false;
        entries.resize(size);
        return count == 0 || ReadRva(rva + kResourceDirectorySize, entries.data(), entries.size());
    }

    // The tree has exactly three levels (type, name, language); walking exactly that many
    // steps means a directory that points back at itself or an ancestor is simply rejected at
    // the level where a data entry was due.
    bool FindVersionResource(std::uint32_t resourceRva, std::uint32_t& dataRva,
                             std::uint32_t& dataSize) {
        std::vector<unsigned char> entries;
        std::uint32_t count = 0;
        if (!ReadDirectory(resourceRva, 0, entries, count))
            return false;
        std::uint32_t next = 0;
        bool found = false;
        for (std::uint32_t i = 0; i < count && !found; ++i) {
            const unsigned char* entry = entries.data() + i * kResourceEntrySize;
            if (Load32(entry) == kRtVersion) {
                next = Load32(entry + 4);
                found = true;
            }
        }
        if (!found)
            return false;

        // The first name, then its first language.
        for (int level = 0; level < 2; ++level) {
            if ((next & kResourceHighBit) == 0)
                return false;
            if (!ReadDirectory(resourceRva, next & ~kResourceHighBit, entries, count) || count == 0)
                return false;
            next = Load32(entries.data() + 4);
        }
        if ((next & kResourceHighBit) != 0)
            return false;

        unsigned char dataEntry[kResourceDataEntrySize];
        if (!ReadRva(std::uint64_t{resourceRva} + next, dataEntry, sizeof dataEntry))
            return false;
        dataRva = Load32(dataEntry);
        dataSize = Load32(dataEntry + 4);
        return true;
    }

    bool ReadFixedInfo(std::uint32_t dataRva, std::uint32_t dataSize, std::uint32_t& versionMs,
                       std::uint32_t& versionLs) {
        // The whole resource must be in the image, though only its head is needed.
        std::uint64_t unused = 0;
        if (!MapRva(dataRva, dataSize, unused))
            return false;
        constexpr std::size_t kHeadSize = kFixedInfoOffset + kFixedInfoSize;
        if (dataSize < kHeadSize)
            return false;
        unsigned char head[kHeadSize];
        if (!ReadRva(dataRva, head, sizeof head))
            return false;

        const std::uint16_t length = Load16(head);
        const std::uint16_t valueLength = Load16(head + 2);
        if (length < kHeadSize || length > dataSize || valueLength < kFixedInfoSize)
            return false;
        for (std::size_t i = 0; i < sizeof kVersionKey; ++i) {
            if (Load16(head + kVersionKeyOffset + 2 * i) !=
                static_cast<unsigned char>(kVersionKey[i]))
                return false;
        }
        const unsigned char* fixed = head + kFixedInfoOffset;
        if (Load32(fixed) != kFixedInfoSignature)
            return false;
        versionMs = Load32(fixed + 8);
        versionLs = Load32(fixed + 12);
        return true;
    }

    ImageSource& m_source;
    std::vector<Section> m_sections;
};

std::wstring ReadVersion(ImageSource& source) {
    std::uint32_t ms = 0, ls = 0;
    if (!VersionReader(source).Read(ms, ls))
        return {};
    return std::to_wstring(ms >> 16) + L'.' + std::to_wstring(ms & 0xFFFF) + L'.' +
           std::to_wstring(ls >> 16) + L'.' + std::to_wstring(ls & 0xFFFF);
}

}  // namespace

std::wstring ReadFileVersion(const std::wstring& path) {
    const platform::UniqueFile file = platform::OpenRegularFileForReading(path);
    if (!file)
        return {};
    FileSource source(file.get());
    return ReadVersion(source);
}

std::wstring ReadFileVersionFromBytes(const unsigned char* data, std::size_t size) {
    if (data == nullptr)
        return {};
    MemorySource source(data, size);
    return ReadVersion(source);
}

std::wstring LauncherFileVersion() {
    return L"" VELMORA_VERSION_TEXT;
}
