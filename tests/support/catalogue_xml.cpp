#include "tests/support/catalogue_xml.h"

#include <gtest/gtest.h>

std::string DownloadXml(const std::string& url, const std::string& target, const std::string& md5,
                        std::uint64_t size) {
    return "<download url=\"" + url + "\" target=\"" + target + "\" md5=\"" + md5 + "\" size=\"" +
           std::to_string(size) + "\"/>\n";
}

std::string PatchXml(const std::string& version, const std::string& installer,
                     const std::string& downloads) {
    return "<update version=\"" + version + "\" installer=\"" + installer + "\"><download_list>\n" +
           downloads + "</download_list></update>";
}

std::string ReleaseXml(const std::string& name, const std::string& latest, const std::string& md5,
                       const std::string& patches, const std::string& exeId) {
    return "<release name=\"" + name + "\" latestversion=\"" + latest +
           "\"><checksums><checksum md5=\"" + md5 + "\"" +
           (exeId.empty() ? "" : " exe_id=\"" + exeId + "\"") + "/></checksums><patch_list>" +
           patches + "</patch_list></release>";
}

std::string CatalogueXml(const std::string& releases, const std::string& changelogs,
                         const std::string& patcherurl) {
    return "<patch_info patcherversion=\"1.0.0.38\" patcherurl=\"" + patcherurl +
           "\">\n<game_version_list>" + releases + "</game_version_list>\n<changelog_list>" +
           changelogs + "</changelog_list></patch_info>\n";
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
    const std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}
