#pragma once
// The demo's world on disk: a sandbox folder holding an installed Velmora II 1.0.0.0, a download
// server's files (catalogue and patch 1.2.0.0), an empty download folder and a game profile.
// The demo server serves it and the end-to-end tests build their fixtures with it, so what the
// tests check is exactly what a newcomer sees.
//
// Layout below the sandbox root:
//   game/bin/velmora2.exe          the installed game (a real PE file, file version 1.0.0.0)
//   game/data/velmora2_world.pak   its world data, the base of the patch's delta for it
//   server/deltas/1.2.0.0/...      the deltas from 1.0.0.0 to the patch's executable and world
//   server/patchinfo.xml           the catalogue, with download urls below the base URL, written
//                                  by velmora-publish build from publish/
//   server/patches/1.2.0.0/...     the patch files as the server hands them out
//   server/launcher.html           the page the catalogue names for a newer launcher
//   publish/velmora-publish.toml   the description of the catalogue
//   publish/releases/<id>/...      the game executables each release is recognised by
//   publish/games/boxed-1.0.0.0/   the installed 1.0.0.0 game, which the deltas are made from
//   publish/notes/<version>/...    the release notes, <Language>.txt
//   downloads/                     where the launcher is started, so its download folder
//   data/Velmora 2/Profile/        the game profile (XDG_DATA_HOME points at data/)
//   run/                           the launcher's runtime folder (XDG_RUNTIME_DIR)
//   runner.log                     what the demo runner was asked to start

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

struct DemoOptions {
    // Written in front of every download url and the launcher page; must end in '/'.
    std::string baseUrl = "http://127.0.0.1/";
    // One data file is served with bytes that differ from its catalogue digest (same size).
    bool corrupt = false;
    // Size of each data archive of the patch; the installer is a quarter of it.
    std::uint32_t partBytes = 3u * 1024u * 1024u;
    // The catalogue's patcherversion. The launcher is 1.0.0.38: a newer text shows message 214.
    std::string patcherVersion = "1.0.0.38";
    // Start over: everything below the sandbox root is removed first (only in a folder that
    // an earlier call made a sandbox).
    bool reset = false;
    // The profile's language ("English", "French", "German"); empty leaves the profile alone.
    std::string language;
};

// One file of the patch as the catalogue lists it.
struct DemoFile {
    std::string target;            // file name inside the download folder
    std::string url;               // baseUrl + its path below server/
    std::string md5;               // the catalogue's digest: that of the sound bytes
    std::int64_t size = 0;         // the catalogue's size
    std::filesystem::path served;  // where the server reads it from
    bool corrupt = false;          // the served bytes do not match md5
};

struct DemoSandbox {
    std::filesystem::path root;
    std::filesystem::path gameFolder;      // root/game, what the launcher gets as --path
    std::filesystem::path gameExe;         // root/game/bin/velmora2.exe
    std::filesystem::path serverFolder;    // root/server
    std::filesystem::path downloadFolder;  // root/downloads
    std::filesystem::path dataHome;        // root/data, for XDG_DATA_HOME
    std::filesystem::path runtimeFolder;   // root/run, for XDG_RUNTIME_DIR
    std::filesystem::path profileFile;     // data/Velmora 2/Profile/Registry.xml
    std::filesystem::path runnerLog;       // root/runner.log

    std::filesystem::path descriptionFile;  // root/publish/velmora-publish.toml

    std::string baseUrl;
    std::string catalogueText;  // exactly the bytes of server/patchinfo.xml

    // Digests of the game executables the catalogue knows, and their file versions.
    std::string installedMd5;      // the 1.0.0.0 build the sandbox starts with
    std::string patchedMd5;        // the 1.2.0.0 build the patch brings
    std::string otherReleaseMd5;   // a 1.1.0.0 build of another release, never installed here
    std::string installedVersion;  // "1.0.0.0"
    std::string latestVersion;     // "1.2.0.0"

    std::string installer;             // target of the patch's installer
    std::string patchedExeTarget;      // target of the 1.2.0.0 game executable in the patch
    std::vector<DemoFile> patchFiles;  // the download list of the installed release's patch

    // Prepares the sandbox at folder (made absolute). A folder that is not a sandbox yet must
    // be missing or empty. An existing sandbox keeps its game, downloads, profile and runner
    // log (so a second run shows what the first one installed) and gets its server files
    // written afresh for this base URL; a game executable that went missing is put back.
    // False with a reason in error when anything cannot be done.
    static bool Create(const std::filesystem::path& folder, const DemoOptions& options,
                       DemoSandbox& out, std::string& error);
};

// The catalogue's language name for "en", "fr", "de" (or the name itself, any letter case);
// empty when it is none of the three.
std::string DemoLanguageName(const std::string& code);

// Writes the game profile Registry.xml below dataHome for language ("English", "French" or
// "German"), in the shape the launcher reads: root/pointer/Registry/Language value="...".
bool WriteDemoProfile(const std::filesystem::path& dataHome, const std::string& language,
                      std::string& error);

// The bytes of a game executable built by the demo for a version ("1.0.0.0", "1.2.0.0" ...).
// The same version always gives the same bytes.
std::vector<unsigned char> DemoGameExecutable(const std::string& version);
