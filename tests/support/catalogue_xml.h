#pragma once
// Catalogues (patchinfo.xml) written for a test, piece by piece. The lines are laid out so that
// a finding's line number is easy to know: <patch_info> is line 1, the releases start on line 2,
// and each download of the first patch of the first release takes a line of its own from line 3.

#include <cstdint>
#include <string>

// One <download> entry and its line break.
std::string DownloadXml(const std::string& url, const std::string& target, const std::string& md5,
                        std::uint64_t size);
// One <update>; downloads is the inner text of its download_list.
std::string PatchXml(const std::string& version, const std::string& installer,
                     const std::string& downloads = "");
// One <release> with one checksum (with its exe_id when one is given); patches is the inner
// text of its patch_list.
std::string ReleaseXml(const std::string& name, const std::string& latest, const std::string& md5,
                       const std::string& patches, const std::string& exeId = "");
// The whole catalogue around the releases and the changelogs.
std::string CatalogueXml(const std::string& releases, const std::string& changelogs = "",
                         const std::string& patcherurl = "http://x.example/");

// text with the first from replaced by to; a from that is not there fails the test.
std::string Replaced(std::string text, const std::string& from, const std::string& to);
