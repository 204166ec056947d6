#include "tests/support/served_sandbox.h"

#include "tests/support/temp_dir.h"

namespace fs = std::filesystem;

bool ServeDemoSandbox(LoopbackServer& server, const fs::path& folder, std::uint32_t partBytes,
                      DemoSandbox& sandbox, std::string& error) {
    DemoOptions options;
    options.baseUrl = server.Url("/velmora2/");
    options.partBytes = partBytes;
    if (!DemoSandbox::Create(folder, options, sandbox, error))
        return false;
    fs::permissions(sandbox.runtimeFolder, fs::perms::owner_all, fs::perm_options::replace);
    server.ServeBytes("/velmora2/patchinfo.xml", sandbox.catalogueText);
    for (const DemoFile& file : sandbox.patchFiles) {
        const std::string below = fs::relative(file.served, sandbox.serverFolder).string();
        server.ServeBytes("/velmora2/" + below, FileContents(file.served));
    }
    return true;
}
