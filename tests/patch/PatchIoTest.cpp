#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <thread>

#include "base/Exception.h"
#include "base/File.h"
#include "patch/PatchHeader.h"
#include "patch/PatchIo.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"

using namespace upd::patch;

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("upd_patchio_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

} // namespace

TEST(TQvtFileSourceTest, RunsAnywhereInTheFileMatchMemory)
{
    // Runs that jump around a file larger than the block cache, across block
    // edges, while the cache grows to its largest and past it; and around a
    // file small enough to be read whole. A second reader of the same file
    // runs its own runs on another thread at the same time.
    for (std::size_t size : {std::size_t{6 * 1024 * 1024 + 123}, std::size_t{2 * 1024 * 1024}, std::size_t{100001}}) {
        SCOPED_TRACE(size);
        std::mt19937 fill(23);
        std::vector<std::uint8_t> data(size);
        for (auto& b : data)
            b = static_cast<std::uint8_t>(fill());
        std::string path = TempPath("old.bin");
        upd::WriteWholeFile(path, data.data(), data.size());
        auto runs = [&data](TQvtPatchSource& source, unsigned seed) {
            std::mt19937 random(seed);
            TQvtMemoryOutput got;
            std::vector<std::uint8_t> expected;
            for (int i = 0; i < 3000; ++i) {
                std::size_t length = random() % (i % 50 == 0 ? 100000 : 300) % data.size();
                std::size_t start = random() % (data.size() - length + 1);
                if (i % 3 == 0)
                    start = data.size() - length; // up to the very end
                if (i % 300 == 299)
                    source.MayUseMore(1 << 20);
                source.CopyTo(static_cast<std::int64_t>(start), length, got);
                expected.insert(expected.end(), data.begin() + static_cast<std::ptrdiff_t>(start),
                                data.begin() + static_cast<std::ptrdiff_t>(start + length));
            }
            return got.Data == expected;
        };
        {
            upd::TFile file(path, upd::TFileMode::ReadShared);
            TQvtFileSource source(file);
            EXPECT_EQ(source.Size(), static_cast<std::int64_t>(data.size()));
            std::unique_ptr<TQvtPatchSource> beside = source.Beside();
            ASSERT_TRUE(beside);
            EXPECT_EQ(beside->Size(), source.Size());
            bool besideRight = false;
            std::thread other([&] { besideRight = runs(*beside, 29); });
            EXPECT_TRUE(runs(source, 23));
            other.join();
            EXPECT_TRUE(besideRight);
        }
        upd::DeleteFileNamed(path);
    }
}

TEST(TQvtFileSourceTest, FileOutputRestartsWhereItStarted)
{
    // Bytes before the output's start stay; whatever it wrote, flushed to
    // the file or still held back, goes.
    std::string path = TempPath("restart.bin");
    for (std::size_t first : {std::size_t{0}, std::size_t{1000}, std::size_t{300000}}) {
        SCOPED_TRACE(first);
        {
            upd::TFile file(path, upd::TFileMode::Create);
            file.Write("head", 4);
            TQvtFileOutput output(file);
            std::vector<std::uint8_t> piece(first, 'x');
            output.Write(piece.data(), piece.size());
            ASSERT_TRUE(output.Restart());
            output.Write(reinterpret_cast<const std::uint8_t*>("new"), 3);
            output.Flush();
        }
        EXPECT_TRUE(upd::ReadWholeFile(path) == (std::vector<std::uint8_t>{'h', 'e', 'a', 'd', 'n', 'e', 'w'}));
    }
    upd::DeleteFileNamed(path);
}

TEST(TQvtFileSourceTest, FileOutputBesideWritesItsOwnPart)
{
    // The part beside lands at its offset from the output's start whatever
    // the order of the writes; one dropped unflushed writes nothing, and a
    // restart cuts what the part beside wrote too.
    std::string path = TempPath("beside.bin");
    {
        upd::TFile file(path, upd::TFileMode::Create);
        file.Write("head", 4);
        TQvtFileOutput output(file);
        auto tail = output.Beside(5);
        ASSERT_TRUE(tail);
        tail->Write(reinterpret_cast<const std::uint8_t*>("world"), 5);
        tail->Flush();
        output.Write(reinterpret_cast<const std::uint8_t*>("hello"), 5);
        output.Flush();
        auto dropped = output.Beside(10);
        dropped->Write(reinterpret_cast<const std::uint8_t*>("!!"), 2);
        dropped.reset();
        EXPECT_EQ(Text(upd::ReadWholeFile(path)), "headhelloworld");
        ASSERT_TRUE(output.Restart());
    }
    EXPECT_EQ(Text(upd::ReadWholeFile(path)), "head");
    upd::DeleteFileNamed(path);
}

TEST(TQvtFileSourceTest, FileOutputKeepsOrderAcrossItsBuffer)
{
    std::string path = TempPath("out.bin");
    std::vector<std::uint8_t> expected;
    {
        upd::TFile file(path, upd::TFileMode::Create);
        TQvtFileOutput output(file);
        for (std::size_t size : {10u, 300000u, 5u, 262144u, 1u, 70000u}) {
            std::vector<std::uint8_t> piece(size, static_cast<std::uint8_t>(size));
            output.Write(piece.data(), piece.size());
            expected.insert(expected.end(), piece.begin(), piece.end());
        }
        output.Flush();
    }
    EXPECT_TRUE(upd::ReadWholeFile(path) == expected);
    upd::DeleteFileNamed(path);
}

TEST(TQvtUnPatchEngineTest, InstructionObjectsDecodeLikeTheEngine)
{
    // The slots the engine does not use itself: coded reading into objects,
    // the tagged form, and random access to a loaded patch's instructions.
    TQvtUnPatchEngine writer;
    writer.Versions = {"a", "b", "c"};
    writer.Add(std::make_unique<TQvtUnPatchCopyInstruction>(4, std::vector<std::int32_t>{1, 2, 1}));
    writer.Add(std::make_unique<TQvtUnPatchDumpInstruction>(std::vector<std::uint8_t>{9, 8}));
    writer.Add(std::make_unique<TQvtUnPatchCopyInstruction>(0, std::vector<std::int32_t>{-1, 5, 7}));
    writer.Add(std::make_unique<TQvtUnPatchDumpInstruction>(std::vector<std::uint8_t>{}));
    auto image = WritePatchImage(writer);

    TQvtUnPatchEngine engine;
    engine.LoadFromImage(image, "p");
    ASSERT_EQ(engine.Count(), 4);
    for (int i : {3, 0, 2, 1, 1, 3}) {
        SCOPED_TRACE(i);
        std::vector<std::string> a, b;
        writer.Instructions(i).ListTo(a);
        engine.Instructions(i).ListTo(b);
        EXPECT_EQ(a, b);

        TQvtTaggedWriter tagged;
        writer.Instructions(i).WriteTo(tagged);
        TQvtTaggedReader reader(tagged.Data().data(), tagged.Data().size());
        std::unique_ptr<TQvtUnPatchInstruction> copy;
        if (i % 2 == 0)
            copy = std::make_unique<TQvtUnPatchCopyInstruction>(3);
        else
            copy = std::make_unique<TQvtUnPatchDumpInstruction>();
        copy->ReadFrom(reader);
        EXPECT_EQ(reader.Position(), tagged.Data().size());
        std::vector<std::string> c;
        copy->ListTo(c);
        EXPECT_EQ(a, c);
    }
}

TEST(TQvtUnPatchEngineTest, HugeCountsEndAtTheEndOfTheData)
{
    // Counts far beyond what the data holds must end in a read error, without
    // reserving anything for them.
    TQvtUnPatchEngine writer;
    writer.Versions.assign(100000, "v");
    std::vector<std::int32_t> offsets(100000, 0);
    offsets[7] = 3;
    writer.Add(std::make_unique<TQvtUnPatchCopyInstruction>(1, offsets));
    auto image = WritePatchImage(writer);
    {
        TQvtUnPatchEngine engine;
        engine.LoadFromImage(image, "p");
        std::vector<std::uint8_t> old = {1, 2, 3, 4};
        TQvtMemorySource source(old);
        TQvtMemoryOutput output;
        engine.Apply(output, source, 7);
        EXPECT_EQ(output.Data, (std::vector<std::uint8_t>{4}));
    }
    // The instruction count is the last header value: make it 2^31 - 1.
    TQvtTaggedReader header(image.data(), image.size());
    header.ReadText();
    header.ReadText();
    header.ReadText();
    std::size_t countAt = header.Position();
    header.ReadInteger();
    std::vector<std::uint8_t> huge(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(countAt));
    for (std::uint8_t b : {0x04, 0xFF, 0xFF, 0xFF, 0x7F})
        huge.push_back(b);
    huge.insert(huge.end(), image.begin() + static_cast<std::ptrdiff_t>(header.Position()), image.end());
    TQvtUnPatchEngine engine;
    try {
        engine.LoadFromImage(huge, "p");
        FAIL();
    } catch (const upd::Exception& e) {
        EXPECT_STREQ(e.what(), "Incerci sa citesti DUPA eof");
    }
}
