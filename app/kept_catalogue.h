#pragma once
// The last good catalogue, kept in the cache folder with the validators its server sent, so
// that the next start asks "changed since?" and, on 304, uses the copy it already has. Losing
// it only costs one full fetch.

#include <optional>
#include <string>

#include "text/failure.h"
#include "transfer/curl_wrapper.h"

struct KeptCatalogue {
    // The address it came from: a copy of another server's catalogue is never offered to this one.
    std::string url;
    HttpValidators validators;
    std::string body;
};

// <cache folder>/velmora-launcher/catalogue; empty when no cache folder can be named.
std::wstring UserKeptCataloguePath();

// The copy at path, or nullopt when there is none to use: missing, not a regular file (a link at
// the name is not followed), damaged or cut short, larger than any catalogue, or without a
// validator to send.
std::optional<KeptCatalogue> ReadKeptCatalogue(const std::wstring& path);
// Written beside and renamed into place, so a reader never meets half a copy.
bool WriteKeptCatalogue(const std::wstring& path, const KeptCatalogue& kept,
                        Failure* failure = nullptr);
