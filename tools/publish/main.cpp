// velmora-publish: the publisher's side of the launcher. `lint` checks a catalogue the way the
// launcher reads it; `build` writes one from a description and the release files; `verify`
// gives the launcher's verdict on its signature.

#include <curl/curl.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "tools/publish/build.h"
#include "tools/publish/finding.h"
#include "tools/publish/lint.h"
#include "tools/publish/verify.h"

namespace {

struct Output {
    bool json = false;
    bool strict = false;
};

int Report(const std::vector<Finding>& findings, const std::string& file, const Output& output) {
    if (output.json) {
        std::cout << FindingsToJson(findings, file, output.strict);
    } else {
        for (const Finding& finding : findings)
            std::cout << FormatFinding(finding, file) << "\n";
        std::cout << file << ": " << FormatCounts(CountFindings(findings)) << "\n";
    }
    std::cout.flush();
    return ExitStatusFor(findings, output.strict);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "velmora-publish: checks and builds the Velmora II launcher's catalogue "
        "(patchinfo.xml)."};
    app.require_subcommand(1);
    app.set_version_flag("--version", VELMORA_VERSION_TEXT);

    Output output;
    std::string lintFile;
    LintOptions lintOptions;
    std::string filesFolder;
    CLI::App* lint = app.add_subcommand(
        "lint", "Report everything the launcher would skip, misread or trip over in a catalogue.");
    lint->add_option("FILE", lintFile, "the catalogue (patchinfo.xml)")->required();
    lint->add_option("--files", filesFolder,
                     "compare each download with its local file: DIR/<target>, or the file at "
                     "the end of its URL's path below DIR")
        ->check(CLI::ExistingDirectory);
    lint->add_flag("--check-urls", lintOptions.checkUrls,
                   "ask the server for every file: status, size, byte ranges");
    lint->add_flag("--json", output.json, "print the findings as JSON");
    lint->add_flag("--strict", output.strict, "warnings fail too");

    std::string descriptionFile;
    std::string outputFile;
    CLI::App* build = app.add_subcommand(
        "build", "Write a catalogue from a description file and the release files it names.");
    build->add_option("DESCRIPTION", descriptionFile, "the description (TOML)")->required();
    build->add_option("-o,--output", outputFile,
                      "where to write (default: patchinfo.xml in served_folder; - for "
                      "standard output)");
    build->add_flag("--json", output.json, "print the findings as JSON");
    build->add_flag("--strict", output.strict, "warnings fail too (nothing is written)");

    VerifyRequest verifyRequest;
    std::string stateFolder;
    CLI::App* verify =
        app.add_subcommand("verify",
                           "Check a catalogue's .minisig the way the launcher does and say what a "
                           "launcher with that key would decide under each policy.");
    verify
        ->add_option("FILE", verifyRequest.catalogueFile,
                     "the catalogue (patchinfo.xml); its signature is FILE.minisig")
        ->required();
    verify
        ->add_option("--key", verifyRequest.key,
                     "the public key: the line minisign -G prints, or the .pub file")
        ->required();
    verify
        ->add_option("--state", stateFolder,
                     "a launcher's state folder (velmora-launcher/ below $XDG_STATE_HOME): "
                     "check the serial against its catalogue-serials")
        ->check(CLI::ExistingDirectory);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error);
        return status == 0 ? kExitClean : kExitUsage;
    }

    if (verify->parsed()) {
        if (!stateFolder.empty())
            verifyRequest.stateFolder = stateFolder;
        const VerifyResult result =
            VerifyCatalogue(verifyRequest, std::chrono::system_clock::now());
        (result.status == kExitUsage ? std::cerr : std::cout) << result.report << std::flush;
        return result.status;
    }

    curl_global_init(CURL_GLOBAL_DEFAULT);
    int status = kExitClean;
    if (lint->parsed()) {
        lintOptions.filesFolder = filesFolder;
        status = Report(LintCatalogueFile(lintFile, lintOptions), lintFile, output);
    } else {
        std::vector<Finding> findings;
        std::string catalogue;
        std::filesystem::path target;
        bool built =
            BuildFromDescription(descriptionFile, output.strict, catalogue, target, findings);
        if (!outputFile.empty())
            target = outputFile;
        const bool toStandardOutput = outputFile == "-";
        std::string error;
        if (built && !toStandardOutput && !WriteCatalogueFile(target, catalogue, error)) {
            findings.push_back(Finding{Severity::kError, 0, "file-unwritable", error, {}});
            built = false;
        }
        // The lint of a catalogue that was written speaks of the file it became.
        for (Finding& finding : findings) {
            if (built && !toStandardOutput && finding.file == kBuiltCatalogueName)
                finding.file = target.string();
        }
        if (toStandardOutput) {
            // The catalogue has standard output to itself; the findings go beside it.
            if (built)
                std::cout << catalogue << std::flush;
            for (const Finding& finding : findings)
                std::cerr << FormatFinding(finding, descriptionFile) << "\n";
            status = ExitStatusFor(findings, output.strict);
        } else {
            status = Report(findings, descriptionFile, output);
            if (built && !output.json)
                std::cout << "wrote " << target.string() << "\n";
        }
        if (!built) {
            status = kExitFindings;
            if (toStandardOutput)
                std::cerr << "velmora-publish: nothing written\n";
            else if (!output.json)
                std::cout << "nothing written\n";
        }
    }
    curl_global_cleanup();
    return status;
}
