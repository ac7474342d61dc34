// docs/making-updates.md followed step by step: every updkit command in the
// guide's code blocks, as it stands there, run on release folders of
// programs with version resources; then the package checked against each
// old release, a damaged installation and a damaged volume.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestPaths.h"
#include "base/File.h"
#include "tools/Shell.h"

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;
using upd::test::RunShell;

// The updkit commands of the guide's code blocks, in order, with their
// continuation lines joined.
std::vector<std::string> GuideCommands()
{
    std::ifstream in(std::string(UPD_TEST_SOURCE_DIR) + "/docs/making-updates.md");
    std::vector<std::string> commands;
    std::string line, command;
    bool inBlock = false;
    while (std::getline(in, line)) {
        if (line.starts_with("```")) {
            inBlock = !inBlock;
            continue;
        }
        if (!inBlock)
            continue;
        if (command.empty() && !line.starts_with("updkit "))
            continue;
        const bool continued = line.ends_with("\\");
        command += continued ? line.substr(0, line.size() - 1) : line;
        if (!continued) {
            commands.push_back(command);
            command.clear();
        }
    }
    return commands;
}

void Copy(const fs::path& from, const fs::path& to)
{
    fs::create_directories(to.parent_path());
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
}

void Put(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string Lines(int from, int to)
{
    std::string text;
    for (int i = from; i <= to; ++i)
        text += "salariat " + std::to_string(i) + "\n";
    return text;
}

void FlipByte(const fs::path& file, std::size_t at)
{
    auto bytes = upd::ReadWholeFile(file.string());
    bytes[at] ^= 0x40;
    upd::WriteWholeFile(file.string(), bytes.data(), bytes.size());
}

bool Has(const std::string& out, const std::string& line) { return out.find(line + "\n") != std::string::npos; }

// The release folders the guide names: kp3.exe with its version resource
// changes in r173 and again in r175, salarii.dat in r174 and r175,
// borlndmm.dll never, vechi.txt is gone from r175.
void MakeReleases(const fs::path& dir)
{
    const fs::path fixtures = fs::path(UPD_TEST_BINARY_DIR) / "tests" / "version" / "fixtures";
    const char* kp3[] = {"dots.exe", "commas.exe", "commas.exe", "several.exe"};
    const std::string data[] = {Lines(1, 300), Lines(1, 300), Lines(1, 280), Lines(5, 310)};
    for (int r = 0; r < 4; ++r) {
        const fs::path release = dir / ("r" + std::to_string(172 + r));
        Copy(fixtures / kp3[r], release / "kp3.exe");
        Copy(fixtures / "nores.exe", release / "borlndmm.dll");
        Put(release / "date" / "salarii.dat", data[r]);
        if (r < 3)
            Put(release / "vechi.txt", "text " + std::to_string(r));
    }
    // The wizard program of section 2, made by the Windows build; any
    // program image stands for it here.
    Copy(fixtures / "nores.exe", dir / "wizard.exe");
}

} // namespace
#endif

TEST(UpdkitGuideTest, TheGuideBuildsChecksAndTakesApartAPackage)
{
#if defined(_WIN32) || !defined(UPD_HAVE_PE_FIXTURES)
    GTEST_SKIP() << "needs a POSIX shell and the PE fixtures";
#else
    upd::test::TTempDir temp;
    const fs::path dir = temp.Path();
    MakeReleases(dir);

    const std::vector<std::string> commands = GuideCommands();
    ASSERT_GE(commands.size(), 9u);
    std::vector<std::string> outputs;
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        const auto run = RunShell(command, dir);
        EXPECT_EQ(run.status, 0) << run.out;
        outputs.push_back(run.out);
    }
    auto outputOf = [&](const std::string& command) {
        for (std::size_t i = 0; i < commands.size(); ++i)
            if (commands[i] == command)
                return outputs[i];
        ADD_FAILURE() << "the guide has no command " << command;
        return std::string();
    };
    auto digestLine = [](const std::string& out) { return out.substr(out.find("patch data digest")); };
    const std::string built = outputs[0];
    EXPECT_NE(built.find("kp3.exe           1    2    2"), std::string::npos) << built;
    EXPECT_NE(built.find("removed: stays installed"), std::string::npos) << built;
    EXPECT_EQ(digestLine(outputOf("updkit build kit-175.json -o setup.exe --volumes 2")), digestLine(built));

    // Each old release is an installation the package can update, from the
    // old version the build table gave it.
    const std::string versionOf[] = {"1", "2", "2"};
    for (int r = 0; r < 3; ++r) {
        const std::string release = "r" + std::to_string(172 + r);
        const std::string out = outputOf("updkit check setup.exe --installed " + release);
        EXPECT_TRUE(Has(out, "C:\\Pravion is read from " + release)) << out;
        EXPECT_TRUE(Has(out, "patch set 2/2: old version " + versionOf[r] + " of 2 installed (C:\\Pravion\\kp3.exe)"))
            << out;
        EXPECT_TRUE(Has(out, "volume 2/2: ok (setup.2)")) << out;
    }
    EXPECT_TRUE(outputOf("updkit verify setup.exe --installed r174").ends_with("ok\n"));
    EXPECT_EQ(upd::ReadWholeFile((dir / "kp3-rebuilt.exe").string()),
              upd::ReadWholeFile((dir / "r175" / "kp3.exe").string()));

    // Installations it cannot update, each with its own verdict.
    fs::copy(dir / "r173", dir / "damaged", fs::copy_options::recursive);
    FlipByte(dir / "damaged" / "kp3.exe", 700);
    fs::remove(dir / "damaged" / "date" / "salarii.dat");
    struct {
        const char* installed;
        std::vector<std::string> lines;
    } cannot[] = {
        {"damaged",
         {"patch set 1/2: missing (C:\\Pravion\\date\\salarii.dat)",
          "patch set 2/2: modified: neither one of its 2 old versions nor the new one (C:\\Pravion\\kp3.exe)",
          "updkit: the package cannot update this installation: 2 findings above"}},
        {"r175",
         {"patch set 1/2: already updated (C:\\Pravion\\date\\salarii.dat)",
          "patch set 2/2: already updated (C:\\Pravion\\kp3.exe)"}},
    };
    for (const auto& row : cannot) {
        SCOPED_TRACE(row.installed);
        const auto run = RunShell(std::string("updkit check setup.exe --installed ") + row.installed, dir);
        EXPECT_EQ(run.status, 1);
        for (const std::string& line : row.lines)
            EXPECT_TRUE(Has(run.out, line)) << run.out;
    }

    // A damaged volume, then a missing one: check and verify both fail.
    FlipByte(dir / "setup.2", 10);
    const auto damaged = RunShell("updkit check setup.exe --installed r172", dir);
    EXPECT_EQ(damaged.status, 1);
    EXPECT_NE(damaged.out.find("volume 2/2: damaged: MD5 digest "), std::string::npos) << damaged.out;
    EXPECT_TRUE(Has(damaged.out, "volume 1/2: ok (setup.1)")) << damaged.out;
    const auto verified = RunShell("updkit verify setup.exe --installed r172", dir);
    EXPECT_EQ(verified.status, 1);
    EXPECT_NE(verified.out.find("volume 2/2 damaged: MD5 digest "), std::string::npos) << verified.out;
    EXPECT_FALSE(verified.out.ends_with("ok\n"));
    fs::remove(dir / "setup.2");
    const auto missing = RunShell("updkit check setup.exe --installed r172", dir);
    EXPECT_EQ(missing.status, 1);
    EXPECT_TRUE(Has(missing.out, "volume 2/2: missing (setup.2)")) << missing.out;
#endif
}
