#include "package/PackageWriter.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"

#include "PackageTestFiles.h"

#include <gtest/gtest.h>

namespace upd::package {

using testing::StubBytes;
using testing::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

/// An update with two patch sets whose segments are given bytes.
TUpdate TwoPatchUpdate(Bytes& segments)
{
    TUpdate update;
    update.Title = "T";
    update.Description = "D";
    update.TagFileName = "sig.txt";
    for (int i = 0; i < 2; ++i) {
        auto& patch = update.PatchSets.Add(std::make_unique<TPatchSet>());
        patch.Segment = AppendSegment(segments, StubBytes(4000 + 1000 * i, 10 + i));
        patch.TargetFileName = "C:\\Pravion\\f" + std::to_string(i);
    }
    return update;
}

} // namespace

TEST(TPackageWriterTest, SegmentRecordsAddressTheSegmentData)
{
    Bytes segments;
    const TUpdateData first = AppendSegment(segments, {1, 2, 3});
    const TUpdateData second = AppendSegment(segments, {});
    const TUpdateData third = AppendSegment(segments, {4, 5});
    EXPECT_EQ(segments, (Bytes{1, 2, 3, 4, 5}));
    EXPECT_EQ(first.Offset, 0);
    EXPECT_EQ(first.Size, 3);
    EXPECT_EQ(second.Offset, 3);
    EXPECT_EQ(second.Size, 0);
    EXPECT_EQ(second.Hash, "D41D8CD98F00B204E9800998ECF8427E");
    EXPECT_EQ(third.Offset, 3);
    EXPECT_EQ(third.Hash, MD5Text(segments.data() + 3, 2));
}

TEST(TPackageWriterTest, VolumeSplits)
{
    using Sizes = std::vector<std::int32_t>;
    EXPECT_EQ(SplitIntoVolumes(10, 3), (Sizes{4, 3, 3}));
    EXPECT_EQ(SplitIntoVolumes(2, 3), (Sizes{1, 1, 0}));
    EXPECT_EQ(SplitIntoVolumes(9, 1), (Sizes{9}));
    EXPECT_EQ(SplitByVolumeSize(10, 4), (Sizes{4, 4, 2}));
    EXPECT_EQ(SplitByVolumeSize(8, 4), (Sizes{4, 4}));
    EXPECT_EQ(SplitByVolumeSize(0, 4), (Sizes{0}));
    EXPECT_EQ(SplitByVolumeSize(40, 4).size(), 10u);
    EXPECT_THROW(SplitByVolumeSize(41, 4), Exception);
    EXPECT_THROW(SplitByVolumeSize(1, 0), Exception);
    EXPECT_THROW(SplitIntoVolumes(10, 0), Exception);
    EXPECT_THROW(SplitIntoVolumes(10, 11), Exception);
}

TEST(TPackageWriterTest, SplitPackageCarriesTheSamePatchData)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(30000));
    Bytes segments;
    const TUpdate update = TwoPatchUpdate(segments);

    const std::string single = folder.File("single.exe");
    const TPatchHeader singleHeader = WritePackage(stub, single, update, segments, {});
    const std::string split = folder.File("setup.exe");
    TPackageFiles files;
    const TPatchHeader splitHeader =
        WritePackage(stub, split, update, segments, SplitIntoVolumes(segments.size(), 3), &files);

    EXPECT_EQ(splitHeader.PackageDigest, singleHeader.PackageDigest);
    EXPECT_EQ(splitHeader.PackageSize, singleHeader.PackageSize);
    ASSERT_EQ(files.VolumeFileNames.size(), 3u);
    EXPECT_EQ(files.VolumeFileNames[0], folder.File("setup.1"));
    EXPECT_EQ(files.VolumeFileNames[2], folder.File("setup.3"));

    // What the archive stage gathers: the description from the executable, then each volume.
    const TPatchDataEngine engine(split);
    EXPECT_EQ(engine.Header.VolumeCount, 3);
    const Bytes exe = ReadWholeFile(split);
    ASSERT_EQ(exe.size(), 30000u + static_cast<std::size_t>(engine.Header.PackageSize));
    Bytes patchData(exe.begin() + 30000 + kPatchHeaderSize, exe.end());
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const Bytes volume = ReadWholeFile(files.VolumeFileNames[i]);
        EXPECT_EQ(static_cast<std::int32_t>(volume.size()), engine.Header.VolumeSizes[i]);
        EXPECT_EQ(FileMD5Text(files.VolumeFileNames[i]), engine.Header.VolumeDigests[i]);
        patchData.insert(patchData.end(), volume.begin(), volume.end());
    }
    EXPECT_EQ(engine.Header.VolumeSizes[3], 0);
    EXPECT_EQ(MD5Text(patchData.data(), patchData.size()), engine.Header.PackageDigest);

    // Each segment lies where its record says, counted from the end of the description.
    const std::size_t base = static_cast<std::size_t>(engine.Header.PackageSize) - kPatchHeaderSize;
    for (const auto& patch : engine.Update->PatchSets) {
        const auto& segment = patch->Segment;
        const std::uint8_t* start = patchData.data() + base + segment.Offset;
        EXPECT_EQ(MD5Text(start, static_cast<std::size_t>(segment.Size)), segment.Hash);
    }
}

TEST(TPackageWriterTest, RefusesAStubThatIsAlreadyAPackage)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(3000));
    const std::string first = folder.File("first.exe");
    TUpdate update;
    WritePackage(stub, first, update, {}, {});
    EXPECT_THROW(WritePackage(first, folder.File("second.exe"), update, {}, {}), Exception);
    // A stub ending in the signature's first bytes would make the reader stop early.
    Bytes tricky = StubBytes(3000);
    const auto signature = GeneratePackageSignature();
    tricky.insert(tricky.end(), signature.begin(), signature.begin() + 10);
    EXPECT_NO_THROW(WritePackage(folder.Write("tricky.exe", tricky), folder.File("third.exe"), update, {}, {}));
    EXPECT_EQ(TPatchDataEngine(folder.File("third.exe")).HeaderOffset, 3010);
    EXPECT_THROW(WritePackage(stub, folder.File("bad.exe"), update, {1, 2, 3}, {1, 1}), Exception);
}

} // namespace upd::package

namespace upd::package {

TEST(TPackageWriterTest, TargetsThatAreInputsAreRefusedBeforeAnythingIsWritten)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("wizard.exe", StubBytes(3000));
    const std::string input = folder.Write("new.bin", StubBytes(500, 4));
    const std::string previous = folder.Write("setup.1", {9, 9, 9});
    Bytes segments;
    const TUpdate update = TwoPatchUpdate(segments);
    struct TRow {
        const char* name;
        std::string output;
        std::vector<std::int32_t> volumes;
        std::string message;
    } rows[] = {
        {"volume 1 named like the package", folder.File("setup.1"), SplitIntoVolumes(segments.size(), 2),
         "Volumul 1 ar avea acelasi nume ca pachetul: " + folder.File("setup.1")},
        {"the stub", stub, {}, "Fisierul " + stub + " este si fisier de intrare"},
        {"an input", input, {}, "Fisierul " + input + " este si fisier de intrare"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            WritePackage(stub, row.output, update, segments, row.volumes, nullptr, {input});
            ADD_FAILURE() << "written";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), row.message);
        }
        EXPECT_EQ(ReadWholeFile(stub), StubBytes(3000));
        EXPECT_EQ(ReadWholeFile(input), StubBytes(500, 4));
        EXPECT_EQ(ReadWholeFile(previous), (Bytes{9, 9, 9}));
        EXPECT_FALSE(FileOrFolderExists(folder.File("setup.2")));
    }
}

} // namespace upd::package
