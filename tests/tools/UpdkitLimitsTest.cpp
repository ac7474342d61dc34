// updkit on the hostile and the awkward inputs that once cost it gigabytes,
// hung it or destroyed a file: each run has its memory limited by the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "base/Cp1250.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "patch/CraftedPatches.h"
#include "tools/RunLimited.h"
#include "tools/updkit/JsonRead.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

using upd::test::RunLimited;
using upd::test::TTempDir;
namespace crafted = upd::patch::crafted;

constexpr std::uint64_t kMemoryLimit = 512ull << 20;

std::string Write(const TTempDir& dir, const std::string& name, const std::vector<std::uint8_t>& bytes)
{
    upd::WriteWholeFile(dir.File(name), bytes.data(), bytes.size());
    return dir.File(name);
}

std::string OldFile(const TTempDir& dir)
{
    std::vector<std::uint8_t> old(1 << 20);
    for (std::size_t i = 0; i < old.size(); ++i)
        old[i] = static_cast<std::uint8_t>(i * 31 + i / 4096);
    return Write(dir, "old.bin", old);
}

upd::test::TLimitedRun RunChecked(const std::vector<std::string>& args)
{
    auto run = RunLimited(args, kMemoryLimit);
    // Where the system tells the child's peak, it is checked as well (Wine
    // may not enforce a job's memory limit).
    if (run.peakMemory != 0) {
        EXPECT_LE(run.peakMemory, kMemoryLimit);
    }
    return run;
}

} // namespace

TEST(UpdkitLimitsTest, TheLimitBites)
{
    // A markup text of 300 MB, read whole and copied into one word, needs far
    // more than the limit: the run must fail, or (where a job's limit is not
    // enforced) its measured peak must show it.
    if (!upd::test::CanLimitMemory())
        GTEST_SKIP() << "no memory limit under AddressSanitizer";
    TTempDir dir;
    const std::string file = dir.File("big.txt");
    {
        upd::TFile out(file, upd::TFileMode::Create);
        out.Write("<p>", 3);
        std::vector<std::uint8_t> letters(1 << 20, 'a');
        for (int i = 0; i < 300; ++i)
            out.Write(letters.data(), letters.size());
        out.Write("</p>", 4);
    }
    auto run = RunLimited({"markup", file}, kMemoryLimit);
    EXPECT_TRUE(run.status != 0 || run.peakMemory > kMemoryLimit)
        << "status " << run.status << ", peak " << run.peakMemory;
}

TEST(UpdkitLimitsTest, CraftedPatchesEndWithAClearError)
{
    if (!upd::test::CanLimitMemory())
        GTEST_SKIP() << "no memory limit under AddressSanitizer (the fuzzers run these with theirs)";
    TTempDir dir;
    const std::string old = OldFile(dir);
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> patch;
        std::string message;
    } rows[] = {
        {"1 MB inflating to 1 GiB", crafted::InflatesToOneGiB(), "Patch deteriorat: decomprimat depaseste 285212672 octeti"},
        {"a table of 2^28 values", crafted::HugeTable(), "Patch deteriorat: tabel de coduri prea mare (268435455 valori)"},
        {"twenty million empty versions", crafted::ManyEmptyVersions(),
         "Patch deteriorat: prea multe versiuni vechi (20000000)"},
        {"144 bytes writing 97.7 GiB", crafted::WritesNinetySevenGiB(),
         "Patch-ul ar face un fisier nou mai mare de 134217728 octeti"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string patch = Write(dir, "p.patch", row.patch);
        for (const std::vector<std::string>& args : {std::vector<std::string>{"dump-patch", patch},
                                                     std::vector<std::string>{"unpatch", patch, old, "0", dir.File("new")}}) {
            auto run = RunChecked(args);
            EXPECT_EQ(run.status, 1);
            EXPECT_EQ(run.out, "updkit: " + row.message + "\n");
            EXPECT_FALSE(upd::FileOrFolderExists(dir.File("new")));
        }
    }
}

TEST(UpdkitLimitsTest, LargeHonestPatchesApplyWithinTheLimit)
{
    if (!upd::test::CanLimitMemory())
        GTEST_SKIP() << "no memory limit under AddressSanitizer";
    TTempDir dir;
    const std::string old = OldFile(dir);
    // 200 MiB of new file: above the default limit, so it must be raised.
    const std::string patch = Write(dir, "p.patch", crafted::RepeatedCopies(200, 1 << 20));
    auto refused = RunChecked({"unpatch", patch, old, "0", dir.File("new")});
    EXPECT_EQ(refused.out, "updkit: Patch-ul ar face un fisier nou mai mare de 134217728 octeti\n");
    auto run = RunChecked({"unpatch", patch, old, "0", dir.File("new"), "--limit", "209715200"});
    ASSERT_EQ(run.status, 0) << run.out;
    upd::TFile made(dir.File("new"), upd::TFileMode::ReadShared);
    EXPECT_EQ(made.Size(), 200ll << 20);
    auto tight = RunChecked({"unpatch", patch, old, "0", dir.File("tight"), "--limit", "209715199"});
    EXPECT_EQ(tight.status, 1);
    EXPECT_FALSE(upd::FileOrFolderExists(dir.File("tight")));
}

namespace {

struct TInputs {
    std::string patch, old, newFile;
};

TInputs PatchInputs(const TTempDir& dir)
{
    TInputs in;
    in.old = Write(dir, "old.bin", {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'});
    in.newFile = Write(dir, "new.bin", {'A', 'B', 'C', 'x', 'y', 'z', 'F', 'G'});
    in.patch = dir.File("p.patch");
    auto run = RunLimited({"mkpatch", "--old", in.old, "--new", in.newFile, "-o", in.patch}, kMemoryLimit);
    EXPECT_EQ(run.status, 0) << run.out;
    return in;
}

bool MakeHardLink(const std::string& existing, const std::string& link)
{
#ifdef _WIN32
    return CreateHardLinkW(std::filesystem::path(link).c_str(), std::filesystem::path(existing).c_str(), nullptr);
#else
    return ::link(existing.c_str(), link.c_str()) == 0;
#endif
}

} // namespace

TEST(UpdkitLimitsTest, TargetsThatAreInputsAreRefusedAndLeftWhole)
{
    TTempDir dir;
    TInputs in = PatchInputs(dir);
    const bool linked = MakeHardLink(in.old, dir.File("old-link.bin"));
    struct TRow {
        const char* name;
        std::vector<std::string> args;
        std::string target;
    } rows[] = {
        {"unpatch onto its old file", {"unpatch", in.patch, in.old, "0", in.old}, in.old},
        {"unpatch onto its patch", {"unpatch", in.patch, in.old, "0", in.patch}, in.patch},
        {"unpatch onto a hard link of the old file", {"unpatch", in.patch, in.old, "0", dir.File("old-link.bin")},
         dir.File("old-link.bin")},
        {"mkpatch onto its new file", {"mkpatch", "--old", in.old, "--new", in.newFile, "-o", in.newFile}, in.newFile},
    };
    const std::string oldDigest = upd::package::FileMD5Text(in.old);
    const std::string newDigest = upd::package::FileMD5Text(in.newFile);
    const std::string patchDigest = upd::package::FileMD5Text(in.patch);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        if (!linked && row.target == dir.File("old-link.bin"))
            continue;
        auto run = RunLimited(row.args, kMemoryLimit);
        EXPECT_EQ(run.status, 1);
        EXPECT_NE(run.out.find(": is also an input ("), std::string::npos) << run.out;
        EXPECT_EQ(upd::package::FileMD5Text(in.old), oldDigest);
        EXPECT_EQ(upd::package::FileMD5Text(in.newFile), newDigest);
        EXPECT_EQ(upd::package::FileMD5Text(in.patch), patchDigest);
    }
    // The same output elsewhere works, and leaves no temporary file behind.
    auto run = RunLimited({"unpatch", in.patch, in.old, "0", dir.File("out.bin")}, kMemoryLimit);
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(upd::package::FileMD5Text(dir.File("out.bin")), newDigest);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), std::filesystem::directory_iterator()),
              linked ? 5 : 4);
}

TEST(UpdkitLimitsTest, OversizedInputsAreRefusedBeforeTheyAreRead)
{
    if (!upd::test::CanLimitMemory())
        GTEST_SKIP() << "no memory limit under AddressSanitizer";
    TTempDir dir;
    TInputs in = PatchInputs(dir);
    const std::string big = dir.File("big.bin");
    {
        // Sparse: 2 GiB and a byte, costing no disk.
        std::filesystem::resize_file(Write(dir, "big.bin", {}), (2ull << 30) + 1);
    }
    auto run = RunChecked({"mkpatch", "--old", big, "--new", in.newFile, "-o", dir.File("out.patch")});
    EXPECT_EQ(run.out, "updkit: Fisierul vechi este prea mare pentru un patch\n");
    run = RunChecked({"mkpatch", "--old", in.old, "--new", big, "-o", dir.File("out.patch")});
    EXPECT_EQ(run.out, "updkit: Fisierul nou este prea mare pentru un patch\n");
}

#ifndef _WIN32
TEST(UpdkitLimitsTest, PipesAndDevicesAreNotRead)
{
    TTempDir dir;
    const std::string fifo = dir.File("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& name : {fifo, std::string("/dev/zero")}) {
        SCOPED_TRACE(name);
        for (const std::vector<std::string>& args :
             {std::vector<std::string>{"md5", name}, {"version", name}, {"markup", name}, {"layout", name, "--width", "100"},
              {"dump-patch", name}, {"info", name}, {"verify", name}}) {
            auto run = RunLimited(args, kMemoryLimit);
            EXPECT_NE(run.status, 0);
            EXPECT_TRUE(run.out.find("not a regular file") != std::string::npos ||
                        run.out.find("nu este un fisier obisnuit") != std::string::npos)
                << args[0] << ": " << run.out;
        }
    }
}
#endif

TEST(UpdkitTextTest, JsonOfMarkupAndLayoutIsExactForEveryByte)
{
    TTempDir dir;
    // Every byte but the four blanks and the brackets, as one word.
    std::string word;
    for (int b = 1; b < 256; ++b)
        if (b != ' ' && b != '\t' && b != '\n' && b != '\r' && b != '<' && b != '>')
            word += static_cast<char>(b);
    word.insert(word.begin() + 10, '\0');
    const std::string text = "<p>" + word + "</p>";
    const std::string file = Write(dir, "t.txt", std::vector<std::uint8_t>(text.begin(), text.end()));

    auto markup = RunLimited({"markup", file}, kMemoryLimit);
    ASSERT_EQ(markup.status, 0) << markup.out;
    const auto words = updkit::ParseJson(markup.out).Find("paragraphs")->AsArray("p")[0].Find("runs")->AsArray("r")[0]
                           .Find("words")->AsArray("w");
    ASSERT_EQ(words.size(), 1u);
    EXPECT_EQ(upd::Utf8ToCp1250(words[0].AsString("w")), word);

    auto layout = RunLimited({"layout", file, "--width", "100000"}, kMemoryLimit);
    ASSERT_EQ(layout.status, 0) << layout.out;
    const auto fragments = updkit::ParseJson(layout.out).Find("fragments")->AsArray("f");
    ASSERT_EQ(fragments.size(), 1u);
    EXPECT_EQ(upd::Utf8ToCp1250(fragments[0].Find("text")->AsString("t")), word);

    // An error message quotes the text around the tag, NUL bytes and all.
    const std::string bad = std::string("<p>a\0b<zz>c\0d</p>", 18);
    auto error = RunLimited({"markup", Write(dir, "e.txt", std::vector<std::uint8_t>(bad.begin(), bad.end()))},
                            kMemoryLimit);
    EXPECT_EQ(error.status, 1);
    EXPECT_EQ(upd::Utf8ToCp1250(updkit::ParseJson(error.out).Find("error")->AsString("e")),
              "Nu cunosc tag zz in dreptul caracterului cu nr. 10\n\r" + bad + "\n\r");
}

TEST(UpdkitTextTest, LinesWithoutABoundAreOneFragment)
{
    // More "</ind>" than "<ind>" puts the line start far to the left, so the
    // paragraph never wraps: 600 KB of them, then 200 KB of words in one line.
    TTempDir dir;
    std::string text;
    for (int i = 0; i < 100000; ++i)
        text += "</ind>";
    text += "<p>";
    std::string words;
    while (words.size() < 200000)
        words += words.empty() ? "cuvant" : " cuvant";
    text += words + "</p>";
    const std::string file = Write(dir, "wide.txt", std::vector<std::uint8_t>(text.begin(), text.end()));
    for (const char* width : {"289", "999999999"}) {
        SCOPED_TRACE(width);
        auto run = RunChecked({"layout", file, "--width", width});
        ASSERT_EQ(run.status, 0) << run.out.substr(0, 200);
        const auto fragments = updkit::ParseJson(run.out).Find("fragments")->AsArray("f");
        ASSERT_EQ(fragments.size(), 1u);
        EXPECT_EQ(fragments[0].Find("text")->AsString("t"), words);
    }
}
