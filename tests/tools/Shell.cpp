#include "tools/Shell.h"

#include <cstdio>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace upd::test {

namespace fs = std::filesystem;

TShellRun RunShell(const std::string& line, const fs::path& folder)
{
    TShellRun run;
#ifndef _WIN32
    const std::string updkit = fs::path(UPD_UPDKIT_PATH).parent_path().string();
    const std::string command = "cd '" + folder.string() + "' && PATH='" + updkit + "':\"$PATH\"; " + line + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    while (std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        run.out.append(buffer, got);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
#else
    (void)line;
    (void)folder;
#endif
    return run;
}

std::map<std::string, std::string> Snapshot(const fs::path& folder)
{
    std::map<std::string, std::string> entries;
    for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
        const std::string name = it->path().lexically_relative(folder).string();
        if (it->is_symlink()) {
            entries[name] = "link to " + fs::read_symlink(it->path()).string();
        } else if (it->is_directory()) {
            entries[name] = "folder";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            std::ostringstream bytes;
            bytes << in.rdbuf();
            entries[name] = bytes.str();
        }
    }
    return entries;
}

} // namespace upd::test
