#include <gtest/gtest.h>

#include <random>

#include "base/Exception.h"
#include "base/TextLines.h"
#include "patch/Differ.h"
#include "patch/PatchHeader.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"

using namespace upd::patch;

namespace {

using TBytes = std::vector<std::uint8_t>;

TBytes Random(std::mt19937& random, std::size_t size, unsigned alphabet = 256)
{
    TBytes bytes(size);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random() % alphabet);
    return bytes;
}

// A new version: pieces of the old one moved around, edited and extended.
TBytes Edited(std::mt19937& random, const TBytes& old)
{
    TBytes result;
    std::size_t at = 0;
    while (at < old.size()) {
        std::size_t run = std::min<std::size_t>(old.size() - at, 20 + random() % 400);
        result.insert(result.end(), old.begin() + static_cast<std::ptrdiff_t>(at),
                      old.begin() + static_cast<std::ptrdiff_t>(at + run));
        switch (random() % 4) {
        case 0: { // a few new bytes
            auto extra = Random(random, random() % 30);
            result.insert(result.end(), extra.begin(), extra.end());
            break;
        }
        case 1: // skip some old bytes
            at += random() % 50;
            break;
        case 2: // repeat an earlier run
            if (at > 100)
                result.insert(result.end(), old.begin() + 10, old.begin() + 60);
            break;
        default:
            break;
        }
        at += run;
    }
    return result;
}

// Makes, loads and applies a patch for every version; returns the patch size.
std::size_t CheckRoundTrip(const std::vector<TBytes>& olds, const TBytes& newFile)
{
    std::vector<TQvtBytes> views(olds.begin(), olds.end());
    std::vector<std::string> names;
    for (std::size_t v = 0; v < olds.size(); ++v)
        names.push_back("v" + std::to_string(v));
    auto file = MakePatchFile(views, newFile, names, "note");
    TQvtUnPatchEngine engine;
    engine.LoadFromImage(InflateBytes(file.data(), file.size()), "p");
    EXPECT_EQ(engine.Versions, names);
    EXPECT_EQ(engine.Note, "note");
    for (std::size_t v = 0; v < olds.size(); ++v) {
        SCOPED_TRACE(v);
        TQvtMemorySource source(olds[v]);
        TQvtMemoryOutput output;
        engine.Apply(output, source, static_cast<int>(v));
        EXPECT_TRUE(output.Data == newFile) << "sizes " << output.Data.size() << " " << newFile.size();
    }
    return file.size();
}

} // namespace

TEST(PatchWriterTest, RoundTripsForOneToFourVersions)
{
    std::mt19937 random(11);
    for (std::size_t versions = 1; versions <= 4; ++versions) {
        for (int round = 0; round < 4; ++round) {
            SCOPED_TRACE(versions * 100 + static_cast<std::size_t>(round));
            TBytes base = Random(random, 2000 + random() % 20000, round % 2 ? 4 : 256);
            std::vector<TBytes> olds;
            for (std::size_t v = 0; v < versions; ++v)
                olds.push_back(Edited(random, base));
            TBytes newFile = Edited(random, base);
            CheckRoundTrip(olds, newFile);
        }
    }
}

TEST(PatchWriterTest, EdgeFiles)
{
    std::mt19937 random(5);
    TBytes some = Random(random, 5000);
    TBytes other = Random(random, 3000);
    for (auto& b : other)
        b |= 0x80;
    for (auto& b : some)
        b &= 0x7F;
    struct TRow {
        const char* name;
        std::vector<TBytes> olds;
        TBytes newFile;
    } rows[] = {
        {"all empty", {{}}, {}},
        {"empty new", {some, other}, {}},
        {"empty old", {{}, some}, some},
        {"identical", {some}, some},
        {"identical, three versions", {some, some, some}, some},
        {"no common bytes", {some}, other},
        {"short files", {{1, 2, 3}}, {3, 2, 1}},
        {"new is old twice", {some}, [&] {
             TBytes twice = some;
             twice.insert(twice.end(), some.begin(), some.end());
             return twice;
         }()},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        CheckRoundTrip(row.olds, row.newFile);
    }
}

TEST(PatchWriterTest, SimilarFilesGiveSmallPatches)
{
    std::mt19937 random(3);
    TBytes base = Random(random, 100000);
    TBytes newFile = Edited(random, base);
    std::size_t one = CheckRoundTrip({Edited(random, base)}, newFile);
    std::size_t three = CheckRoundTrip({Edited(random, base), Edited(random, base), Edited(random, base)}, newFile);
    EXPECT_LT(one, newFile.size() / 4);
    EXPECT_LT(three, newFile.size() / 3);
    // Identical versions share every offset.
    std::size_t same = CheckRoundTrip({base}, base);
    EXPECT_LT(same, 200u);
}

TEST(PatchWriterTest, DifferFindsRunsHeldByEveryVersion)
{
    // The shared run is long enough to pay for a new offset in both versions.
    const std::string run = "HELLO-WIDE-WORLD-0123456789abcd";
    auto bytes = [](const std::string& text) { return TBytes(text.begin(), text.end()); };
    TBytes a = bytes("xx" + run + "!!");
    TBytes b = bytes(run + "???");
    TBytes n = bytes("-" + run + "!");
    auto matches = FindMatches({a, b}, n);
    ASSERT_EQ(matches.size(), 1u);
    EXPECT_EQ(matches[0].newStart, 1u);
    EXPECT_EQ(matches[0].length, run.size());
    EXPECT_EQ(matches[0].sources, (std::vector<std::size_t>{2, 0}));
}

TEST(PatchWriterTest, RunsThatGoOnAFewBytesOffAreCopied)
{
    // Short pieces of the old file, each followed by two changed bytes, the old
    // file moving on by one byte more than the new one each time: no piece is
    // long enough to be looked up on its own, none continues its previous one
    // in step, and each goes on a few bytes off it.
    std::mt19937 random(23);
    TBytes old = Random(random, 30000);
    TBytes newFile;
    for (std::size_t at = 0; at + 12 <= old.size(); at += 13) {
        newFile.insert(newFile.end(), old.begin() + static_cast<std::ptrdiff_t>(at),
                       old.begin() + static_cast<std::ptrdiff_t>(at + 10));
        newFile.push_back(static_cast<std::uint8_t>(random()));
        newFile.push_back(static_cast<std::uint8_t>(random()));
    }
    std::size_t size = CheckRoundTrip({old}, newFile);
    EXPECT_LT(size, newFile.size() / 2);
}

TEST(PatchWriterTest, LargeImagesInflateWithZlib)
{
    // Big enough for the compressor to split it into many blocks of both kinds.
    std::mt19937 random(29);
    TBytes image;
    while (image.size() < 600000) {
        auto piece = Random(random, 1 + random() % 5000, random() % 2 ? 256 : 3);
        image.insert(image.end(), piece.begin(), piece.end());
    }
    auto stream = CompressPatchImage(image);
    EXPECT_LT(stream.size(), image.size());
    EXPECT_TRUE(InflateBytes(stream.data(), stream.size()) == image);
}

TEST(PatchWriterTest, EmptyInstructionListEncodes)
{
    TQvtUnPatchEngine writer;
    writer.Versions = {"a", "b", "c"};
    auto image = WritePatchImage(writer);
    TQvtUnPatchEngine engine;
    engine.LoadFromImage(image, "p");
    EXPECT_EQ(engine.Count(), 0);
    EXPECT_EQ(engine.VersionCount(), 3);
    EXPECT_GE(engine.CopyLengths.Count(), 2);
}

TEST(PatchWriterTest, OffsetLayoutsRoundTrip)
{
    // Shared, two-valued and distinct offsets for V = 1..5, coded and plain.
    for (int versions = 1; versions <= 5; ++versions) {
        std::vector<std::vector<std::int32_t>> offsetRows = {std::vector<std::int32_t>(versions, 4)};
        std::vector<std::int32_t> two, each;
        for (int v = 0; v < versions; ++v) {
            two.push_back(v % 2 ? -7 : 9);
            each.push_back(v * 3 - 2);
        }
        offsetRows.push_back(two);
        offsetRows.push_back(each);
        TQvtUnPatchEngine writer;
        for (int v = 0; v < versions; ++v)
            writer.Versions.push_back(std::string(1, static_cast<char>('a' + v)));
        for (auto& offsets : offsetRows) {
            writer.Add(std::make_unique<TQvtUnPatchCopyInstruction>(2, offsets));
            writer.Add(std::make_unique<TQvtUnPatchDumpInstruction>(TBytes{1, 2, 3}));
        }
        TQvtUnPatchEngine engine;
        engine.LoadFromImage(WritePatchImage(writer), "p");
        ASSERT_EQ(engine.Count(), writer.Count());
        for (int i = 0; i < engine.Count(); ++i) {
            SCOPED_TRACE(versions * 100 + i);
            std::vector<std::string> expected, got;
            writer.Instructions(i).ListTo(expected);
            engine.Instructions(i).ListTo(got);
            EXPECT_EQ(got, expected);

            TQvtMemoryStream stream;
            {
                TQvtBitStream bits(stream);
                writer.Instructions(i).WritePlain(bits);
            }
            std::unique_ptr<TQvtUnPatchInstruction> plain;
            if (i % 2 == 0)
                plain = std::make_unique<TQvtUnPatchCopyInstruction>(versions);
            else
                plain = std::make_unique<TQvtUnPatchDumpInstruction>();
            stream.Seek(0);
            TQvtBitStream bits(stream);
            plain->ReadPlain(bits);
            got.clear();
            plain->ListTo(got);
            EXPECT_EQ(got, expected);
        }
    }
}

TEST(PatchWriterTest, ListToBreaksDumpLinesAfter65Bytes)
{
    TBytes bytes(131, 0xAB);
    TQvtUnPatchDumpInstruction dump(bytes);
    std::vector<std::string> lines;
    dump.ListTo(lines);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "Dump 131");
    EXPECT_EQ(lines[1].size(), 130u);
    EXPECT_EQ(lines[2].size(), 130u);
    EXPECT_EQ(lines[3], "AB");
}

TEST(PatchWriterTest, VersionNamesKeepTheirCount)
{
    const std::vector<std::vector<std::string>> rows = {{""}, {"a", ""}, {"", "", "x"}, {"one"}};
    for (const auto& names : rows) {
        SCOPED_TRACE(names.size());
        EXPECT_EQ(upd::SplitLines(JoinLines(names)), names);
    }
    std::vector<TQvtBytes> none;
    TBytes empty;
    EXPECT_THROW(MakePatchFile(none, empty, {}, ""), upd::Exception);
    std::vector<TQvtBytes> one = {empty};
    EXPECT_THROW(MakePatchFile(one, empty, {"a\nb"}, ""), upd::Exception);
}

TEST(PatchWriterTest, DamagedPatchesFailCleanly)
{
    std::mt19937 random(17);
    TBytes base = Random(random, 3000, 16);
    std::vector<TBytes> olds = {Edited(random, base), Edited(random, base), Edited(random, base)};
    TBytes newFile = Edited(random, base);
    std::vector<TQvtBytes> views(olds.begin(), olds.end());
    auto file = MakePatchFile(views, newFile, {"a", "b", "c"}, "");
    auto image = InflateBytes(file.data(), file.size());
    for (int round = 0; round < 3000; ++round) {
        TBytes damaged = image;
        int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits; ++e) {
            std::size_t at = random() % damaged.size();
            if (random() % 5 == 0)
                damaged.resize(at);
            else if (!damaged.empty())
                damaged[at % damaged.size()] ^= static_cast<std::uint8_t>(1 + random() % 255);
            if (damaged.empty())
                break;
        }
        try {
            TQvtUnPatchEngine engine;
            engine.LoadFromImage(damaged, "p");
            for (int v = 0; v < 3; ++v) {
                TQvtMemorySource source(olds[static_cast<std::size_t>(v)]);
                TQvtMemoryOutput output;
                engine.Apply(output, source, v);
            }
        } catch (const upd::Exception&) {
        }
    }
}
