#include "package/UpdateBuilder.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "patch/PatchIo.h"
#include "patch/UnPatchEngine.h"

#include "PackageTestFiles.h"

#include <gtest/gtest.h>

namespace upd::package {

using testing::StubBytes;
using testing::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

/// A version of a file: the base with a few stretches changed.
Bytes Edited(const Bytes& base, unsigned seed)
{
    Bytes edited = base;
    std::mt19937 random(seed);
    for (int k = 0; k < 6; ++k) {
        const std::size_t at = random() % (edited.size() - 300);
        for (std::size_t i = 0; i < 200; ++i)
            edited[at + i] = static_cast<std::uint8_t>(random());
    }
    edited.insert(edited.begin() + static_cast<std::ptrdiff_t>(random() % edited.size()), 77, 0xAB);
    return edited;
}

struct TSample {
    TBuildManifest manifest;
    std::vector<std::vector<Bytes>> olds;
    std::vector<Bytes> news;
};

TSample MakeSample(const TScratchFolder& folder)
{
    TSample sample;
    TBuildManifest& m = sample.manifest;
    m.Stub = folder.Write("wizard.exe", StubBytes(20000, 9));
    m.Title = "Bun g@asit @in expertul pentru actualizat Pravion";
    m.Description = "Se va actualiza programul *b*Pravion*/b*";
    m.Release = "174";
    m.ReleaseDate = "7 decembrie 2026";
    m.TagFileName = "sig-174.txt";
    m.MustHaveSets.push_back({{"C:\\Pravion\\borlndmm.dll", folder.Write("borlndmm.dll", StubBytes(3000, 4)), true}});
    m.MustHaveSets.push_back({{"C:\\Pravion\\a.dat", folder.Write("a1.dat", {1, 2, 3}), false},
                              {"C:\\Pravion\\a.dat", folder.Write("a2.dat", {4, 5}), false}});
    for (int p = 0; p < 2; ++p) {
        const Bytes base = StubBytes(50000 + 7000 * p, 20 + p);
        TBuildPatch patch;
        patch.TargetPath = "C:\\Pravion\\file" + std::to_string(p) + ".exe";
        std::vector<Bytes> olds;
        for (int v = 0; v < 2 + p; ++v) {
            olds.push_back(Edited(base, 100 * p + v));
            patch.OldFiles.push_back(folder.Write("old" + std::to_string(p) + std::to_string(v), olds.back()));
        }
        sample.news.push_back(Edited(base, 999 + p));
        patch.NewFile = folder.Write("new" + std::to_string(p), sample.news.back());
        m.Patches.push_back(patch);
        sample.olds.push_back(std::move(olds));
    }
    return sample;
}

Bytes Unpatch(const Bytes& patchFile, const Bytes& old, int index)
{
    patch::TQvtUnPatchEngine engine;
    engine.LoadFromImage(patch::InflateBytes(patchFile.data(), patchFile.size()), "segment");
    patch::TQvtMemorySource source(old);
    patch::TQvtMemoryOutput output;
    engine.Apply(output, source, index);
    return output.Data;
}

} // namespace

TEST(TUpdateBuilderTest, PackageRebuildsEveryNewFile)
{
    TScratchFolder folder;
    const TSample sample = MakeSample(folder);
    const std::string exe = folder.File("setup.exe");
    const TPatchHeader header = BuildPackage(sample.manifest, exe, 0, 0);

    const TPatchDataEngine engine(exe);
    const TUpdate& update = *engine.Update;
    EXPECT_EQ(engine.HeaderOffset, 20000);
    EXPECT_EQ(update.TagFileName, "sig-174.txt");
    ASSERT_EQ(update.MustHaveSets.Count(), 2);
    const TFileSignature& dll = update.MustHaveSets.Items(0).Items(0);
    EXPECT_EQ(dll.FileName, "C:\\Pravion\\borlndmm.dll");
    EXPECT_EQ(dll.Size, 3000);
    EXPECT_EQ(dll.Version, "<info not available>");
    EXPECT_EQ(dll.Hash, FileMD5Text(sample.manifest.MustHaveSets[0][0].SourceFile));
    ASSERT_EQ(update.MustHaveSets.Items(1).Count(), 2);
    EXPECT_EQ(update.MustHaveSets.Items(1).Items(1).Size, 2);
    EXPECT_EQ(update.MustHaveSets.Items(1).Items(1).Version, "");
    EXPECT_EQ(update.TagText.front(), "//Tag:174 ");
    EXPECT_EQ(update.TagText.size(), 3u + 7 + 6 + 6 + 1);

    const Bytes file = ReadWholeFile(exe);
    const Bytes patchData(file.begin() + 20000 + kPatchHeaderSize, file.end());
    EXPECT_EQ(MD5Text(patchData.data(), patchData.size()), header.PackageDigest);
    const std::size_t base = static_cast<std::size_t>(header.PackageSize) - kPatchHeaderSize;
    ASSERT_EQ(update.PatchSets.Count(), 2);
    for (int p = 0; p < 2; ++p) {
        const TPatchSet& set = update.PatchSets.Items(p);
        EXPECT_EQ(set.TargetFileName, sample.manifest.Patches[p].TargetPath);
        EXPECT_EQ(set.NewSize, static_cast<std::int32_t>(sample.news[p].size()));
        EXPECT_EQ(set.NewHash, MD5Text(sample.news[p].data(), sample.news[p].size()));
        ASSERT_LE(base + set.Segment.Offset + set.Segment.Size, patchData.size());
        const Bytes segment(patchData.begin() + base + set.Segment.Offset,
                            patchData.begin() + base + set.Segment.Offset + set.Segment.Size);
        EXPECT_EQ(MD5Text(segment.data(), segment.size()), set.Segment.Hash);
        ASSERT_EQ(set.OldFiles.Count(), static_cast<int>(sample.olds[p].size()));
        for (int v = 0; v < set.OldFiles.Count(); ++v) {
            SCOPED_TRACE(std::to_string(p) + "/" + std::to_string(v));
            EXPECT_EQ(set.OldFiles.Items(v).FileName, set.TargetFileName);
            EXPECT_EQ(set.OldFiles.Items(v).Size, static_cast<std::int32_t>(sample.olds[p][v].size()));
            EXPECT_EQ(Unpatch(segment, sample.olds[p][v], v), sample.news[p]);
        }
    }
}

TEST(TUpdateBuilderTest, RefusesIncompleteManifests)
{
    TScratchFolder folder;
    TSample sample = MakeSample(folder);
    TBuildManifest noOld = sample.manifest;
    noOld.Patches[0].OldFiles.clear();
    EXPECT_THROW(BuildPackage(noOld, folder.File("x.exe"), 0, 0), Exception);
    TBuildManifest emptySet = sample.manifest;
    emptySet.MustHaveSets.emplace_back();
    EXPECT_THROW(BuildPackage(emptySet, folder.File("x.exe"), 0, 0), Exception);
    TBuildManifest missing = sample.manifest;
    missing.Patches[1].NewFile = folder.File("absent");
    EXPECT_THROW(BuildPackage(missing, folder.File("x.exe"), 0, 0), EOSError);
}

} // namespace upd::package
