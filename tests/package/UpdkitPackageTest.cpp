// updkit build, info, check and unpatch together, as the people who make
// updates use them. POSIX only: the commands run through the shell.
#include "base/File.h"
#include "package/Md5Hash.h"
#include "tools/updkit/JsonRead.h"

#include "PackageTestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace upd::package {

using testing::StubBytes;
using testing::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct TRun {
    int status = -1;
    std::string out;
};

#ifndef _WIN32
TRun Shell(const std::string& line, const std::string& folder)
{
    const std::string command = "cd '" + folder + "' && " + line + " 2>&1";
    TRun run;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return run;
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.out.append(buffer, got);
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

TRun Updkit(const std::string& arguments, const std::string& folder)
{
    return Shell("'" UPD_UPDKIT_PATH "' " + arguments, folder);
}
#endif

struct Row {
    const char* arguments;
    int status;
    const char* out;
};

[[maybe_unused]] const char* kManifest = R"({
  "stub": "wizard.exe",
  "title": "Bun g@asit @in expertul pentru actualizat Pravion",
  "description": "Se va actualiza programul *b*Pravion*/b* \u0103",
  "release": 174,
  "release_date": "7 decembrie 2026",
  "tag_file_name": "sig-174.txt",
  "must_have": [
    {"path": "C:\\Pravion\\borlndmm.dll", "file": "borlndmm.dll"},
    [{"path": "C:\\Pravion\\a.cfg", "file": "a1.cfg", "check_version": false},
     {"path": "C:\\Pravion\\a.cfg", "file": "a2.cfg", "check_version": false}]
  ],
  "patches": [
    {"target": "C:\\Pravion\\kp3.exe", "old": ["kp3-172.exe", "kp3-173.exe"], "new": "kp3-174.exe"}
  ]
})";

} // namespace

TEST(UpdkitPackageTest, BuildInfoAndUnpatchReproduceTheNewFile)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    TScratchFolder folder;
    const std::string dir = folder.File("");
    folder.Write("wizard.exe", StubBytes(12000, 2));
    folder.Write("borlndmm.dll", StubBytes(900, 3));
    folder.Write("a1.cfg", {'a'});
    folder.Write("a2.cfg", {'b', 'c'});
    Bytes base = StubBytes(40000, 4);
    Bytes v172 = base, v173 = base, v174 = base;
    v172.resize(39000);
    v173[100] ^= 1;
    v174.insert(v174.begin() + 5000, 300, 0x11);
    folder.Write("kp3-172.exe", v172);
    folder.Write("kp3-173.exe", v173);
    folder.Write("kp3-174.exe", v174);
    const std::string manifest(kManifest);
    folder.Write("kit.json", Bytes(manifest.begin(), manifest.end()));

    ASSERT_EQ(Updkit("build kit.json -o one.exe", dir).status, 0);
    const TRun split = Updkit("build kit.json -o setup.exe --volumes 2", dir);
    ASSERT_EQ(split.status, 0) << split.out;
    EXPECT_TRUE(FileExists(folder.File("setup.1")));
    EXPECT_TRUE(FileExists(folder.File("setup.2")));

    // Outputs that are inputs are refused, and every file stays as it was.
    const Bytes volume1 = ReadWholeFile(folder.File("setup.1"));
    const Row clashes[] = {
        {"build kit.json -o setup.1 --volumes 2", 1,
         "updkit: setup.1 (volume 1): is also the package (setup.1); nothing was written\n"},
        {"build kit.json -o kp3-172.exe", 1, "updkit: kp3-172.exe: is also an input (kp3-172.exe); nothing was written\n"},
        {"build kit.json -o kit.json", 1, "updkit: kit.json: is also an input (kit.json); nothing was written\n"},
    };
    for (const Row& row : clashes) {
        SCOPED_TRACE(row.arguments);
        const TRun run = Updkit(row.arguments, dir);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, row.out);
        EXPECT_EQ(ReadWholeFile(folder.File("setup.1")), volume1);
        EXPECT_EQ(ReadWholeFile(folder.File("kp3-172.exe")), v172);
        EXPECT_EQ(ReadWholeFile(folder.File("kit.json")), Bytes(manifest.begin(), manifest.end()));
    }

    const TRun one = Updkit("info one.exe", dir);
    ASSERT_EQ(one.status, 0) << one.out;
    const updkit::TJsonValue info = updkit::ParseJson(one.out);
    const TRun splitInfo = Updkit("info setup.exe", dir);
    ASSERT_EQ(splitInfo.status, 0) << splitInfo.out;
    const updkit::TJsonValue infoSplit = updkit::ParseJson(splitInfo.out);

    EXPECT_EQ(info.Find("header_offset")->AsInteger("offset"), 12000);
    EXPECT_EQ(info.Find("volume_count")->AsInteger("count"), 0);
    // The stub here is no wizard: it has no slot for the package's identity.
    EXPECT_EQ(info.Find("image_slot")->AsString("slot"), "absent");
    EXPECT_EQ(info.Find("volume_digests")->AsArray("digests").size(), 0u);
    EXPECT_EQ(infoSplit.Find("volume_count")->AsInteger("count"), 2);
    EXPECT_EQ(infoSplit.Find("volume_digests")->AsArray("digests")[1].AsString("digest"),
              FileMD5Text(folder.File("setup.2")));
    EXPECT_EQ(info.Find("package_digest")->AsString("digest"), infoSplit.Find("package_digest")->AsString("digest"));

    const updkit::TJsonValue& update = *info.Find("update");
    EXPECT_EQ(update.Find("description")->AsString("d"), "Se va actualiza programul *b*Pravion*/b* \xC4\x83");
    EXPECT_EQ(update.Find("tag_text")->AsArray("t")[0].AsString("line"), "//Tag:174 ");
    EXPECT_EQ(update.Find("must_have_sets")->AsArray("sets")[1].AsArray("set").size(), 2u);
    const auto& patches = update.Find("patch_sets")->AsArray("patches");
    ASSERT_EQ(patches.size(), 1u);
    const updkit::TJsonValue& segment = *patches[0].Find("segment");
    const Bytes exe = ReadWholeFile(folder.File("one.exe"));
    const std::size_t start = static_cast<std::size_t>(12000 + info.Find("package_size")->AsInteger("size") +
                                                       segment.Find("offset")->AsInteger("offset"));
    const std::size_t size = static_cast<std::size_t>(segment.Find("size")->AsInteger("size"));
    ASSERT_LE(start + size, exe.size());
    folder.Write("seg.patch", Bytes(exe.begin() + static_cast<std::ptrdiff_t>(start),
                                    exe.begin() + static_cast<std::ptrdiff_t>(start + size)));
    const char* olds[] = {"kp3-172.exe", "kp3-173.exe"};
    for (int v = 0; v < 2; ++v) {
        SCOPED_TRACE(v);
        const std::string arguments = std::string("unpatch seg.patch ") + olds[v] + " " + std::to_string(v) + " out.bin";
        const TRun unpatch = Updkit(arguments, dir);
        ASSERT_EQ(unpatch.status, 0) << unpatch.out;
        EXPECT_EQ(ReadWholeFile(folder.File("out.bin")), v174);
    }
    EXPECT_EQ(patches[0].Find("new_hash")->AsString("hash"), FileMD5Text(folder.File("kp3-174.exe")));
#endif
}

// Signed after it was built, as every maker signs his setup.exe: the package
// reads the same, and info shows where the certificate table begins.
TEST(UpdkitPackageTest, SignedPackagesAreReadToo)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit and the signer through a POSIX shell";
#else
    TScratchFolder folder;
    const std::string dir = folder.File("");
    folder.Write("wizard.exe", testing::PeStubBytes(12001, true, 2));
    for (const char* name : {"borlndmm.dll", "a1.cfg", "a2.cfg", "kp3-172.exe", "kp3-173.exe"})
        folder.Write(name, StubBytes(900, 3));
    folder.Write("kp3-174.exe", StubBytes(950, 4));
    const std::string manifest(kManifest);
    folder.Write("kit.json", Bytes(manifest.begin(), manifest.end()));
    ASSERT_EQ(Updkit("build kit.json -o one.exe", dir).status, 0);
    const TRun certificate =
        Shell("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Test -keyout key.pem -out cert.pem", dir);
    ASSERT_EQ(certificate.status, 0) << certificate.out;
    const TRun sign = Shell("osslsigncode sign -certs cert.pem -key key.pem -in one.exe -out signed.exe", dir);
    ASSERT_EQ(sign.status, 0) << sign.out;

    const TRun one = Updkit("info one.exe", dir), signedOne = Updkit("info signed.exe", dir);
    ASSERT_EQ(signedOne.status, 0) << signedOne.out;
    const updkit::TJsonValue info = updkit::ParseJson(one.out), signedInfo = updkit::ParseJson(signedOne.out);
    EXPECT_TRUE(info.Find("certificate_table")->IsNull());
    const updkit::TJsonValue& table = *signedInfo.Find("certificate_table");
    ASSERT_FALSE(table.IsNull());
    const auto unsignedSize = static_cast<std::int64_t>(ReadWholeFile(folder.File("one.exe")).size());
    EXPECT_EQ(table.Find("offset")->AsInteger("offset"), unsignedSize)
        << "a package on a program image needs no padding from the signer";
    for (const char* key : {"header_offset", "package_size"})
        EXPECT_EQ(info.Find(key)->AsInteger(key), signedInfo.Find(key)->AsInteger(key)) << key;
    EXPECT_EQ(info.Find("package_digest")->AsString("d"), signedInfo.Find("package_digest")->AsString("d"));

    ASSERT_EQ(Shell("mkdir empty", dir).status, 0);
    const TRun check = Updkit("check signed.exe --installed empty", dir);
    EXPECT_EQ(check.status, 1);
    EXPECT_NE(check.out.find("must-have set 1/2: NOT satisfied: missing (C:\\Pravion\\borlndmm.dll)"),
              std::string::npos)
        << check.out;
#endif
}

TEST(UpdkitPackageTest, FailuresAreOneLineWithTheirStatus)
{
#ifdef _WIN32
    GTEST_SKIP() << "runs updkit through a POSIX shell";
#else
    TScratchFolder folder;
    const std::string dir = folder.File("");
    folder.Write("plain.exe", StubBytes(5000));
    const std::string typo = R"({"stub": "plain.exe", "titel": "x"})";
    folder.Write("typo.json", Bytes(typo.begin(), typo.end()));
    const std::string kBuildUsage =
        "usage: updkit build MANIFEST.json -o SETUP.EXE [--volumes N | --volume-size BYTES]\n"
        "   or: updkit build --from OLD_DIR... --to NEW_DIR -o SETUP.EXE ... (see updkit build --from --help)\n";
    const struct {
        const char* arguments;
        int status;
        std::string out;
    } rows[] = {
        {"info plain.exe", 1, "updkit: Nu gasesc header!\n"},
        {"info", 2, "usage: updkit info EXE\n"},
        {"build typo.json -o x.exe", 1, "updkit: manifest: unknown key \"titel\"\n"},
        {"build typo.json", 2, kBuildUsage},
        {"build typo.json -o x.exe --volumes 11", 2,
         "updkit: --volumes takes a count from 1 to 10, not '11'\n" + kBuildUsage},
        {"build typo.json -o x.exe --volumes 2 --volume-size 9", 2,
         "updkit: give --volumes or --volume-size once, not both or twice\n" + kBuildUsage},
        {"check", 2, "usage: updkit check EXE [--installed DIR | --root PREFIX]\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.arguments);
        const TRun run = Updkit(row.arguments, dir);
        EXPECT_EQ(run.status, row.status);
        EXPECT_EQ(run.out, row.out);
    }
#endif
}

} // namespace upd::package
