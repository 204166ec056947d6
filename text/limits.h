#pragma once
// The launcher has always kept its texts in fixed buffers: paths in 260 wide characters, URLs
// in 256, version texts in 128, each with its terminator. Every length checked where text
// enters is derived here from the buffer it stands for, so no two layers can disagree about
// what fits.

#include <cstddef>
#include <string_view>

inline constexpr std::size_t kPathCapacity = 260;
inline constexpr std::size_t kMaxPathLength = kPathCapacity - 1;

inline constexpr std::size_t kUrlCapacity = 256;
inline constexpr std::size_t kMaxUrlLength = kUrlCapacity - 1;

// CompareVersions copies each text into a work buffer of this size.
inline constexpr std::size_t kVersionCapacity = 128;
inline constexpr std::size_t kMaxVersionLength = kVersionCapacity - 1;

// The patch offer is formatted into a text buffer of this size.
inline constexpr std::size_t kOfferTextCapacity = 256;
inline constexpr std::size_t kMaxOfferTextLength = kOfferTextCapacity - 1;

// The catalogue's name is appended to the base URL without a separator, and the whole must
// still fit a URL buffer.
inline constexpr std::wstring_view kCatalogueFileName = L"patchinfo.xml";
inline constexpr std::size_t kMaxBaseUrlLength = kMaxUrlLength - kCatalogueFileName.size();

// A download folder must leave room for the write probe created in it: folder, separator,
// probe name.
inline constexpr std::wstring_view kWriteAccessProbeName = L"writeaccess";
inline constexpr std::size_t kMaxDownloadFolderLength =
    kMaxPathLength - 1 - kWriteAccessProbeName.size();
