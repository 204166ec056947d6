#pragma once
// `velmora-publish build`: a catalogue made from the description and the files it points at.
// Digests, sizes, addresses and targets come from the files; the text is checked with the
// same lint as any catalogue before it may be written.

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "tools/publish/description.h"
#include "tools/publish/finding.h"

// The catalogue text for a description. The same description over the same files gives the
// same bytes. Findings about the description carry its lines (file empty); those of the lint
// of the result name kBuiltCatalogueName as their file. False when there is any error: the
// text must then not be published.
bool BuildCatalogue(const Description& description, std::string& catalogue,
                    std::vector<Finding>& findings);

// What the lint of a built catalogue calls the text it checked.
inline constexpr const char* kBuiltCatalogueName = "(built catalogue)";

// Reads the description file and builds its catalogue. With strict, a warning fails the
// build too. defaultOutput is where the catalogue belongs: patchinfo.xml in the served folder.
bool BuildFromDescription(const std::filesystem::path& descriptionFile, bool strict,
                          std::string& catalogue, std::filesystem::path& defaultOutput,
                          std::vector<Finding>& findings);

// Writes the catalogue by way of a temporary file beside target, renamed over it at the end,
// so that a server never hands out half a catalogue. False, with the reason, when it cannot.
bool WriteCatalogueFile(const std::filesystem::path& target, const std::string& catalogue,
                        std::string& error);

// text made safe inside XML: markup characters as entities; in an attribute (attribute true)
// also the quote, and tabs and line breaks as character references, since a parser would turn
// them raw into blanks.
std::string EscapeXml(std::string_view text, bool attribute);
