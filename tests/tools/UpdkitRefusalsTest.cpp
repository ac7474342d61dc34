// Every way updkit refuses what a release engineer asks of it: the exit
// status, the message, and every release file and earlier output left as it
// was, byte for byte.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "TestPaths.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"
#include "tools/Shell.h"

#ifndef _WIN32
namespace {

namespace fs = std::filesystem;
using upd::test::RunShell;

void Put(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

std::string Program(char fill, std::size_t size) { return std::string(size, fill) + "program end"; }

// Three releases: kp3.exe changes in each, date/a.dat only in the last.
// A first build has left a package with two volumes and its manifest.
void MakeReleases(const fs::path& dir)
{
    for (int r = 1; r <= 3; ++r) {
        const fs::path release = dir / ("r" + std::to_string(r));
        Put(release / "kp3.exe", Program(static_cast<char>('a' + r), 3000 + 10 * r));
        Put(release / "date" / "a.dat", r < 3 ? "salarii\n" : "salarii noi\n");
    }
    Put(dir / "wizard.exe", std::string(4096, 'M'));
    fs::create_directories(dir / "out");
    fs::create_directories(dir / "adir");
}

const std::string kCommon = " --stub wizard.exe --title T --description D --release 3 --release-date d";
const std::string kBuild = "updkit build --from r1 --from r2 --to r3" + kCommon;

// A package whose update names one file twice, with other case and slashes.
void WriteTwicePackage(const fs::path& dir)
{
    upd::package::TUpdate update;
    update.Title = update.Description = "T";
    for (const char* name : {"C:\\Pravion\\kp3.exe", "c:/PRAVION//Kp3.exe"}) {
        auto& set = update.PatchSets.Add(std::make_unique<upd::package::TPatchSet>());
        auto old = std::make_unique<upd::package::TFileSignature>();
        old->FileName = name;
        set.OldFiles.Add(std::move(old));
        set.TargetFileName = name;
    }
    upd::package::WritePackage((dir / "wizard.exe").string(), (dir / "twice.exe").string(), update, {}, {});
}

std::string Md5Of(const fs::path& file) { return upd::package::FileMD5Text(file.string()); }

struct TRefusal {
    const char* name;
    std::function<void(const fs::path&)> prepare; ///< run before the snapshot
    std::string command;
    int status;
    /// The whole output for status 1; its first lines for a usage error.
    /// "{dir}" stands for the working folder, "{md5 FILE}" for a file's digest.
    std::string message;
};

std::string Expand(std::string text, const fs::path& dir)
{
    for (std::size_t at; (at = text.find("{dir}")) != std::string::npos;)
        text.replace(at, 5, fs::canonical(dir).string());
    for (std::size_t at; (at = text.find("{md5 ")) != std::string::npos;) {
        const std::size_t end = text.find('}', at);
        text.replace(at, end + 1 - at, Md5Of(dir / text.substr(at + 5, end - at - 5)));
    }
    return text;
}

auto File(const std::string& name, const std::string& bytes = "x")
{
    return [=](const fs::path& dir) { Put(dir / name, bytes); };
}

auto Link(const std::string& name, const std::string& target)
{
    return [=](const fs::path& dir) { fs::create_symlink(target, dir / name); };
}

} // namespace
#endif

TEST(UpdkitRefusalsTest, RefusalsNameTheFileAndTheReasonAndChangeNothing)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    const std::string nothing = "; nothing was written\n";
    const std::string installed = "updkit: r3/";
    const TRefusal rows[] = {
        // Outputs: one checked plan before any patch is built.
        {"manifest over the package", nullptr, kBuild + " -o out/setup.exe --write-manifest out/setup.exe", 1,
         "updkit: out/setup.exe (the manifest): is also the package (out/setup.exe)" + nothing},
        {"manifest over a volume", nullptr, kBuild + " -o out/setup.exe --volumes 2 --write-manifest out/./setup.2", 1,
         "updkit: out/./setup.2 (the manifest): is also volume 2 (out/setup.2)" + nothing},
        {"manifest over the stub", nullptr, kBuild + " -o out/setup.exe --write-manifest wizard.exe", 1,
         "updkit: wizard.exe: is also an input (wizard.exe)" + nothing},
        {"manifest over a release file", nullptr, kBuild + " -o out/setup.exe --write-manifest r3/kp3.exe", 1,
         "updkit: r3/kp3.exe (the manifest): is inside the release folder r3, where it would be taken for a file "
         "of the release" + nothing},
        {"package inside a release", nullptr, kBuild + " -o r1/date/setup.exe", 1,
         "updkit: r1/date/setup.exe (the package): is inside the release folder r1, where it would be taken for a "
         "file of the release" + nothing},
        {"package in a missing folder", nullptr, kBuild + " -o gone/setup.exe", 1,
         "updkit: gone/setup.exe (the package): the folder gone does not exist" + nothing},
        {"package over the stub", nullptr, kBuild + " -o wizard.exe", 1,
         "updkit: wizard.exe: is also an input (wizard.exe)" + nothing},
        {"package over a folder", nullptr, kBuild + " -o adir", 1,
         "updkit: adir: exists and is not a regular file" + nothing},
        {"stale volume that is the stub", Link("out/setup.7", "../wizard.exe"), kBuild + " -o out/setup.exe", 1,
         "updkit: out/setup.7: a volume left by an earlier build would be deleted, but it is an input "
         "(wizard.exe)" + nothing},
        {"volumes too small, found at the first patch", nullptr, kBuild + " -o out/setup.exe --volume-size 10", 1,
         "updkit: Datele de actualizare au deja 114 octeti: nu incap in 10 volume (cel mult 100 octeti)\n"},
        // Release folders.
        {"new release spelt as an old one", nullptr, "updkit build --from r1 --from r2 --to ./r1/ -o out/s.exe" + kCommon,
         1, "updkit: the new release ./r1/ is also given as an old release (r1): the package would take users back "
            "to it\n"},
        {"new release through a link", Link("latest", "r2"), "updkit build --from r1 --from r2 --to latest -o out/s.exe" + kCommon,
         1, "updkit: the new release latest is also given as an old release (r2): the package would take users "
            "back to it\n"},
        {"old release twice", nullptr, "updkit build --from r1 --from r1 --to r3 -o out/s.exe" + kCommon, 1,
         "updkit: the old release r1 is given twice (also as r1)\n"},
        {"names that differ in case", File("r3/KP3.EXE"), kBuild + " -o out/s.exe", 1,
         "updkit: r3: KP3.EXE and kp3.exe name the same installed file (Windows does not tell case apart)\n"},
        {"names that differ in case in a folder", File("r2/date/A.DAT"), kBuild + " -o out/s.exe", 1,
         "updkit: r2: date/A.DAT and date/a.dat name the same installed file (Windows does not tell case apart)\n"},
        {"letter outside code page 1250", File("r3/fi\xC8\x99\xC4\x83.txt"), kBuild + " -o out/s.exe", 1,
         installed + "fi\xC8\x99\xC4\x83.txt: cannot be installed on Windows: its name has a letter that code page "
                     "1250 lacks (it would be stored as fi?\xC4\x83.txt)\n"},
        {"invalid UTF-8", File("r3/\xFF.txt"), kBuild + " -o out/s.exe", 1,
         installed + "\xFF.txt: cannot be installed on Windows: its name is not valid UTF-8\n"},
        {"colon", File("r3/a:b.txt"), kBuild + " -o out/s.exe", 1,
         installed + "a:b.txt: cannot be installed on Windows: it has the character : in its name, which Windows "
                     "does not allow\n"},
        {"question mark", File("r3/q?.dat"), kBuild + " -o out/s.exe", 1,
         installed + "q?.dat: cannot be installed on Windows: it has the character ? in its name, which Windows "
                     "does not allow\n"},
        {"device name", File("r3/con.txt"), kBuild + " -o out/s.exe", 1,
         installed + "con.txt: cannot be installed on Windows: it has a device name on Windows (con.txt)\n"},
        {"device name as a folder", File("r3/Aux/x.txt"), kBuild + " -o out/s.exe", 1,
         installed + "Aux/x.txt: cannot be installed on Windows: it has a device name on Windows (Aux)\n"},
        {"trailing dot", File("r3/dot."), kBuild + " -o out/s.exe", 1,
         installed + "dot.: cannot be installed on Windows: it has a name ending in a dot or a space, which Windows "
                     "drops\n"},
        {"trailing space", File("r3/space "), kBuild + " -o out/s.exe", 1,
         installed + "space : cannot be installed on Windows: it has a name ending in a dot or a space, which "
                     "Windows drops\n"},
        {"backslash", File("r3/back\\slash"), kBuild + " -o out/s.exe", 1,
         installed + "back\\slash: cannot be installed on Windows: it has a backslash in its name, which Windows "
                     "reads as a folder\n"},
        {"control character", File("r3/ctl\x01"), kBuild + " -o out/s.exe", 1,
         installed + "ctl\x01: cannot be installed on Windows: it has a control character in its name\n"},
        {"installed path too long", File("r3/" + std::string(200, 'd') + "/" + std::string(70, 'f')),
         kBuild + " -o out/s.exe", 1,
         installed + std::string(200, 'd') + "/" + std::string(70, 'f') +
             ": cannot be installed on Windows: its installed path would have 282 characters, more than the 259 "
             "Windows allows\n"},
        {"symlinked folder loop", Link("r3/date/loop", ".."), kBuild + " -o out/s.exe", 1,
         "updkit: r3/date/loop/: a symlinked folder that leads back to {dir}/r3 (a loop)\n"},
        {"broken link", Link("r3/gone.txt", "nowhere"), kBuild + " -o out/s.exe", 1,
         "updkit: r3/gone.txt: not a regular file (a broken link, a pipe or a device): the wizard can only patch "
         "files\n"},
        // Usage errors say what is wrong.
        {"no volumes", nullptr, kBuild + " -o out/s.exe --volumes 0", 2,
         "updkit: --volumes takes a count from 1 to 10, not '0'\nusage: updkit build --from"},
        {"eleven volumes", nullptr, "updkit build kit.json -o out/s.exe --volumes 11", 2,
         "updkit: --volumes takes a count from 1 to 10, not '11'\nusage: updkit build MANIFEST.json"},
        {"volumes in words", nullptr, kBuild + " -o out/s.exe --volumes abc", 2,
         "updkit: --volumes takes a count from 1 to 10, not 'abc'\nusage: updkit build --from"},
        {"missing options", nullptr, "updkit build --from r1 --to r3 -o out/s.exe", 2,
         "updkit: missing --title, --description, --release, --release-date\nusage: updkit build --from"},
        // One file named twice, whatever the case or the slashes.
        {"manifest naming a file twice",
         File("twice.json", R"({"stub": "wizard.exe", "title": "T", "description": "D", "release": 3,
             "release_date": "d", "tag_file_name": "sig.txt", "patches": [
             {"target": "C:\\Pravion\\kp3.exe", "old": ["r1/kp3.exe"], "new": "r3/kp3.exe"},
             {"target": "c:/pravion//KP3.EXE", "old": ["r2/kp3.exe"], "new": "r3/kp3.exe"}]})"),
         "updkit build twice.json -o out/s.exe", 1,
         "updkit: manifest: patches[1] and patches[0] name the same file (c:/pravion//KP3.EXE, C:\\Pravion\\kp3.exe; "
         "case and slashes do not tell files apart on Windows)\n"},
        {"package naming a file twice", WriteTwicePackage, "updkit check twice.exe --installed r1", 1,
         "updkit: twice.exe: patch set 2 and patch set 1 name the same file (c:/PRAVION//Kp3.exe, "
         "C:\\Pravion\\kp3.exe; case and slashes do not tell files apart on Windows)\n"},
        // Where an installation is looked for.
        {"installed folder missing", nullptr, "updkit check out/setup.exe --installed gone", 1,
         "updkit: gone: no such folder (--installed names the folder that stands for C:\\Pravion)\n"},
        {"installed folder missing for verify", nullptr, "updkit verify out/setup.exe --installed gone", 1,
         "updkit: gone: no such folder (--installed names the folder that stands for C:\\Pravion)\n"},
        {"release folder as a Wine prefix", nullptr, "updkit check out/setup.exe --root r1", 1,
         "updkit: r1: not a Wine prefix, it has no drive_c (to read an installed folder itself, give it with "
         "--installed)\n"},
        // Patches taken out and applied.
        {"extract over a volume", nullptr, "updkit extract out/setup.exe 1 -o out/setup.2", 1,
         "updkit: out/setup.2: is also an input (out/setup.2)" + nothing},
        {"extract of a patch set the package lacks", nullptr, "updkit extract out/setup.exe 3 -o p.patch", 2,
         "updkit: the package has patch sets 1 to 2, not '3'\nusage: updkit extract EXE N -o PATCH\n"},
        {"unpatch with another old version",
         [](const fs::path& dir) { RunShell("updkit extract out/setup.exe 2 -o kp3.patch", dir); },
         "updkit unpatch kp3.patch r2/kp3.exe 0 new.exe", 1,
         "updkit: r2/kp3.exe is old version 1 (<info not available> md5:{md5 r2/kp3.exe}) of the patch, not old "
         "version 0 (<info not available> md5:{md5 r1/kp3.exe})" + nothing},
        {"unpatch with a changed old file",
         [](const fs::path& dir) {
             RunShell("updkit extract out/setup.exe 2 -o kp3.patch && sed 's/b/B/' r1/kp3.exe >bad.exe", dir);
         },
         "updkit unpatch kp3.patch bad.exe 0 new.exe", 1,
         "updkit: bad.exe is not old version 0 (<info not available> md5:{md5 r1/kp3.exe}) of the patch: its MD5 "
         "digest is {md5 bad.exe}" + nothing},
    };
    for (const TRefusal& row : rows) {
        SCOPED_TRACE(row.name);
        upd::test::TTempDir temp;
        const fs::path dir = temp.Path();
        MakeReleases(dir);
        const auto first = RunShell(kBuild + " -o out/setup.exe --volumes 2 --write-manifest kit.json", dir);
        ASSERT_EQ(first.status, 0) << first.out;
        if (row.prepare)
            row.prepare(dir);
        const auto before = upd::test::Snapshot(dir);
        const auto run = RunShell(row.command, dir);
        const std::string message = Expand(row.message, dir);
        EXPECT_EQ(run.status, row.status);
        if (row.status == 1)
            EXPECT_EQ(run.out, message);
        else
            EXPECT_EQ(run.out.substr(0, message.size()), message) << run.out;
        EXPECT_TRUE(upd::test::Snapshot(dir) == before) << "a file was written, changed or deleted";
    }
#endif
}

TEST(UpdkitRefusalsTest, SymlinkedFoldersAreFollowedAndTheTableLinesUp)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    upd::test::TTempDir temp;
    const fs::path dir = temp.Path();
    MakeReleases(dir);
    fs::rename(dir / "r3" / "date", dir / "date3");
    fs::create_symlink("../date3", dir / "r3" / "date");
    for (int r = 1; r <= 3; ++r)
        Put(dir / ("r" + std::to_string(r)) / "\xC5\xA2\x61r\xC4\x83.txt", "text " + std::to_string(r)); // Ţară
    const auto run = RunShell(kBuild + " -o out/setup.exe", dir);
    ASSERT_EQ(run.status, 0) << run.out;
    // The decision starts at one column on every line, counted in letters.
    std::vector<std::size_t> columns;
    std::istringstream lines(run.out);
    for (std::string line; std::getline(lines, line);) {
        const std::size_t at = line.find("patch (");
        if (at == std::string::npos)
            continue;
        std::size_t letters = 0;
        for (std::size_t i = 0; i < at; ++i)
            letters += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 ? 1 : 0;
        columns.push_back(letters);
    }
    EXPECT_EQ(columns.size(), 3u) << run.out; // date/a.dat through the link, kp3.exe, the name with ţ
    for (std::size_t c : columns)
        EXPECT_EQ(c, columns.front()) << run.out;
#endif
}

TEST(UpdkitRefusalsTest, FewerVolumesLeaveNoStaleOnes)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    upd::test::TTempDir temp;
    const fs::path dir = temp.Path();
    MakeReleases(dir);
    ASSERT_EQ(RunShell(kBuild + " -o out/setup.exe --volumes 4", dir).status, 0);
    const auto run = RunShell(kBuild + " -o out/setup.exe --volumes 2", dir);
    ASSERT_EQ(run.status, 0) << run.out;
    for (const char* stale : {"out/setup.3", "out/setup.4"}) {
        EXPECT_FALSE(fs::exists(dir / stale)) << stale;
        EXPECT_NE(run.out.find(std::string(stale) + ": deleted, a volume of an earlier build with more volumes\n"),
                  std::string::npos)
            << run.out;
    }
    EXPECT_EQ(RunShell("updkit check out/setup.exe --installed r2", dir).status, 0);
#endif
}

// An installed folder copied from Windows keeps the case its files were given
// there; Windows finds them whatever the case the package names them in, and
// so do check and verify.
TEST(UpdkitRefusalsTest, InstalledFilesAreFoundInAnyCase)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    upd::test::TTempDir temp;
    const fs::path dir = temp.Path();
    MakeReleases(dir);
    ASSERT_EQ(RunShell(kBuild + " -o out/setup.exe", dir).status, 0);
    fs::rename(dir / "r2" / "kp3.exe", dir / "r2" / "KP3.EXE");
    fs::rename(dir / "r2" / "date", dir / "r2" / "Date");
    for (const char* command : {"check", "verify"}) {
        const auto run = RunShell(std::string("updkit ") + command + " out/setup.exe --installed r2", dir);
        EXPECT_EQ(run.status, 0) << command << "\n" << run.out;
    }
#endif
}
