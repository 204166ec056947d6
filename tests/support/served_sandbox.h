#pragma once
// The demo's own sandbox, served by the test's loopback server: the same catalogue, game and
// patch files a newcomer sees in ./scripts/demo, without starting the demo server.

#include <cstdint>
#include <filesystem>
#include <string>

#include "tests/support/loopback_server.h"
#include "tools/demo/demo_data.h"

// Makes the sandbox at folder with its files of partBytes and serves its catalogue and patch
// files below /velmora2/. The sandbox's runtime folder is made private, as the launcher wants
// its lock folder. False, with the reason in error, when the sandbox cannot be made.
bool ServeDemoSandbox(LoopbackServer& server, const std::filesystem::path& folder,
                      std::uint32_t partBytes, DemoSandbox& sandbox, std::string& error);
