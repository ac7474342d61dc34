// updkit: the console tool for the people who make and support updates.
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "tools/updkit/Commands.h"

namespace updkit {

int Fail(const std::string& message)
{
    // Written whole: a message that quotes hostile input may hold a NUL byte.
#ifdef _WIN32
    // The console speaks code page 1250 here: a letter of a system name that
    // the page lacks shows as '?'.
    std::string line = "updkit: " + upd::Utf8ToCp1250(message) + "\n";
#else
    std::string line = "updkit: " + message + "\n";
#endif
    std::fwrite(line.data(), 1, line.size(), stderr);
    return 1;
}

int Usage(const std::string& usage)
{
    std::fprintf(stderr, "usage: updkit %s\n", usage.c_str());
    return 2;
}

int UsageError(const std::string& why, const std::string& usage)
{
    Fail(why);
    return Usage(usage);
}

std::string VolumeOption(const std::string& option, const std::string& value, std::int64_t& volumes,
                         std::int64_t& volumeSize)
{
    if (volumes != 0 || volumeSize != 0)
        return "give --volumes or --volume-size once, not both or twice";
    if (option == "--volumes") {
        volumes = PositiveNumber(value);
        if (volumes < 1 || volumes > 10)
            return "--volumes takes a count from 1 to 10, not '" + value + "'";
    } else {
        volumeSize = PositiveNumber(value);
        if (volumeSize < 1)
            return "--volume-size takes a size in bytes above 0, not '" + value + "'";
    }
    return std::string();
}

long long PositiveNumber(const std::string& text)
{
    std::size_t used = 0;
    long long value = 0;
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return -1;
    try {
        value = std::stoll(text, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    return used == text.size() && value > 0 ? value : -1;
}

namespace {

struct TCommand {
    const char* name;
    int (*run)(const TArgs&);
    const char* help;
};

constexpr TCommand kCommands[] = {
    {"info", CmdInfo, "info EXE                      the package inside EXE, as JSON"},
    {"build", CmdBuild, "build MANIFEST -o SETUP.EXE   build an update package\n"
                        "  build --from OLD --from OLD... --to NEW -o SETUP.EXE --title T --description D\n"
                        "        --release N --release-date D ...   derive it from release folders\n"
                        "                                (updkit build --from --help, docs/making-updates.md)"},
    {"check", CmdCheck, "check EXE [--installed DIR | --root PREFIX]\n"
                        "                                check an installation against a package: DIR is the\n"
                        "                                installed folder itself (C:\\Pravion), PREFIX a Wine prefix"},
    {"verify", CmdVerify, "verify EXE [--installed DIR | --root PREFIX]\n"
                          "                                run the validation stage without a window"},
    {"extract", CmdExtract, "extract EXE N -o PATCH         the patch data of patch set N (from 1)"},
    {"log", CmdLog, "log FILE                      how the last run in a wizard's log ended, and why"},
    {"mkpatch", CmdMkpatch, "mkpatch --old F [--old F]... --new F -o PATCH [--note T]"},
    {"unpatch", CmdUnpatch, "unpatch PATCH OLD INDEX OUT [--limit BYTES]\n"
                            "                                rebuild the new file from old version INDEX (from 0);\n"
                            "                                the new file may have at most BYTES (128 MiB)"},
    {"dump-patch", CmdDumpPatch, "dump-patch PATCH              header, tables and instructions of a patch"},
    {"md5", CmdMd5, "md5 FILE...                   MD5 digest texts"},
    {"version", CmdVersion, "version FILE...               version resources"},
    {"markup", CmdMarkup, "markup FILE                   the paragraph model of a markup text, as JSON"},
    {"layout", CmdLayout, "layout FILE --width W         the laid-out fragments with the test metrics"},
};

int PrintHelp(std::FILE* out)
{
    std::fprintf(out, "usage: updkit COMMAND [ARGS]\n\n");
    for (const auto& c : kCommands)
        std::fprintf(out, "  %s\n", c.help);
    return out == stdout ? 0 : 2;
}

} // namespace
} // namespace updkit

int main(int argc, char** argv)
{
    using namespace updkit;
#if defined(__GLIBC__)
    // Large blocks (a patch image, code tables, a file being compared) are
    // mapped on their own and given back when freed. By default the C library
    // raises this threshold after each such free, and what is freed next stays
    // in the heap, so memory used once counts against every later step.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
#endif
    if (argc < 2)
        return PrintHelp(stderr);
    std::string name = argv[1];
    if (name == "-h" || name == "--help" || name == "help")
        return PrintHelp(stdout);
    TArgs args(argv + 2, argv + argc);
    for (const auto& c : kCommands) {
        if (name != c.name)
            continue;
        try {
            return c.run(args);
        } catch (const upd::Exception& e) {
            return Fail(e.Message());
        } catch (const std::exception& e) {
            return Fail(e.what());
        }
    }
    std::fprintf(stderr, "updkit: unknown command '%s'\n", name.c_str());
    return PrintHelp(stderr);
}
