#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>

#include "base/Exception.h"
#include "base/File.h"
#include "patch/BitStream.h"
#include "patch/CheckingPass.h"
#include "patch/PatchHeader.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"
#include "patch/CraftedPatches.h"

using namespace upd::patch;

namespace {

const std::vector<std::uint8_t> kExample = {
    0x06, 0x19, 0x51, 0x76, 0x74, 0x4d, 0x75, 0x6c, 0x74, 0x69, 0x56, 0x65, 0x72, 0x73, 0x69, 0x6f, 0x6e,
    0x50, 0x61, 0x74, 0x63, 0x68, 0x46, 0x69, 0x6c, 0x65, 0x1a, 0x06, 0x0d, 0x66, 0x69, 0x72, 0x73, 0x74,
    0x0d, 0x0a, 0x73, 0x65, 0x63, 0x6f, 0x6e, 0x64, 0x06, 0x00, 0x02, 0x04, 0x13, 0x01, 0x21, 0x11, 0x71,
    0x21, 0x51, 0x2d, 0x54, 0x4e, 0x75, 0xfd, 0x12, 0x9f, 0x6b, 0xa0, 0x78, 0x79, 0x7a};

std::vector<std::uint8_t> Bytes(const std::string& text) { return {text.begin(), text.end()}; }

std::string Text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::string Message(const std::function<void()>& action)
{
    try {
        action();
    } catch (const upd::Exception& e) {
        return e.what();
    }
    return "(no error)";
}

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("upd_patch_" + std::to_string(::getpid()) + "_" + name))
        .string();
}

std::vector<std::uint8_t> Applied(const TQvtUnPatchEngine& engine, const std::string& old, int version)
{
    auto bytes = Bytes(old);
    TQvtMemorySource source(bytes);
    TQvtMemoryOutput output;
    engine.Apply(output, source, version);
    return output.Data;
}

// The example image with its header replaced.
std::vector<std::uint8_t> WithHeader(const std::string& magic, const std::string& versions, std::int32_t count)
{
    TQvtTaggedWriter header;
    header.WriteText(magic);
    header.WriteText(versions);
    header.WriteText("");
    header.WriteInteger(count);
    std::vector<std::uint8_t> image = header.Data();
    image.insert(image.end(), kExample.begin() + 46, kExample.end());
    return image;
}

} // namespace

TEST(TQvtUnPatchEngineTest, WorkedExampleLoadsAndApplies)
{
    std::string path = TempPath("example.patch");
    auto file = CompressPatchImage(kExample);
    upd::WriteWholeFile(path, file.data(), file.size());
    TQvtUnPatchEngine engine;
    engine.LoadFromFile(path);
    upd::DeleteFileNamed(path);

    EXPECT_EQ(engine.Versions, (std::vector<std::string>{"first", "second"}));
    EXPECT_EQ(engine.Note, "");
    ASSERT_EQ(engine.Count(), 4);
    std::vector<std::string> lines;
    for (int i = 0; i < engine.Count(); ++i)
        engine.Instructions(i).ListTo(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{"Copy 3", "0 2", "Dump 3", "78797A", "Copy 2", "5 5", "Dump 0", ""}));
    EXPECT_EQ(engine.LengthCodes.Codes(engine.LengthCodes.Counts().IndexOf(1)), "0");
    EXPECT_EQ(engine.CopyOffsets.Codes(engine.CopyOffsets.Counts().IndexOf(5)), "0");

    EXPECT_EQ(Text(Applied(engine, "ABCDEFGH", 0)), "ABCxyzFG");
    EXPECT_EQ(Text(Applied(engine, "ZZABCDEFGH", 1)), "ABCxyzFG");
    EXPECT_EQ(Text(Applied(engine, "ZZABCDEFGH", 1)), "ABCxyzFG"); // the engine applies again

    // Instruction by instruction, as the update stage drives it.
    auto old = Bytes("ZZABCDEFGH");
    TQvtMemorySource source(old);
    TQvtMemoryOutput output;
    std::int32_t position = 0;
    for (int i = 0; i < engine.Count(); ++i)
        engine.Instructions(i).Apply(output, source, 1, position);
    EXPECT_EQ(position, 7);
}

TEST(TQvtUnPatchEngineTest, HeaderRows)
{
    const std::string magic = kPatchMagic;
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> image;
        std::string error; // empty: loads
        int versions;
    } rows[] = {
        {"example", kExample, "", 2},
        {"magic without 0x1A", WithHeader("QvtMultiVersionPatchFile", "a", 4),
         "Fisierul \"p.patch\" a fost modificat si nu mai poate fi utilizat.", 0},
        {"magic in other case", WithHeader("qvtMultiVersionPatchFile\x1A", "a", 4),
         "Fisierul \"p.patch\" a fost modificat si nu mai poate fi utilizat.", 0},
        {"lone CR", WithHeader(magic, "a\rb", 4), "", 2},
        {"lone LF and final break", WithHeader(magic, "a\nb\n", 4), "", 2},
        {"three versions", WithHeader(magic, "a\r\nb\r\nc", 0), "", 3},
        {"empty", {}, "Stream read error", 0},
        {"cut in the magic", std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 10), "Stream read error", 0},
        {"cut after the note", std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 44), "Stream read error", 0},
        {"integer tag where a text is", std::vector<std::uint8_t>{0x02, 0x05}, "Invalid property value", 0},
        {"text where the count is", WithHeader(magic, "a", 0), "", 1},
        {"bit section cut", std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 50), "Incerci sa citesti DUPA eof", 0},
    };
    // A count given as a text.
    rows[10].image = WithHeader(magic, "a", 0);
    rows[10].image[rows[10].image.size() - (kExample.size() - 46) - 2] = 0x06;
    rows[10].error = "Invalid property value";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TQvtUnPatchEngine engine;
        std::string error = Message([&] { engine.LoadFromImage(row.image, "p.patch"); });
        if (row.error.empty()) {
            EXPECT_EQ(error, "(no error)");
            EXPECT_EQ(engine.VersionCount(), row.versions);
        } else {
            EXPECT_EQ(error, row.error);
        }
    }
}

// Loading reads on when a first part of the image ends early, and stops at
// damage that more bytes cannot cure: decided on the error's kind, not its text.
TEST(TQvtUnPatchEngineTest, OnlyTruncationAsksForMoreBytes)
{
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> part;
        bool more;
    } rows[] = {
        {"cut in the magic", std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 10), true},
        {"bit section cut", std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 50), true},
        {"magic in other case", WithHeader("qvtMultiVersionPatchFile\x1A", "a", 4), false},
        {"integer tag where a text is", std::vector<std::uint8_t>{0x02, 0x05}, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        try {
            CheckPatchImage(row.part.data(), row.part.size(), false, "p.patch", TQvtUnPatchLimits{});
            ADD_FAILURE() << "accepted";
        } catch (const upd::Exception& e) {
            EXPECT_EQ(WantsMoreBytes(e), row.more) << e.what();
        }
    }
    EXPECT_FALSE(WantsMoreBytes(upd::Exception(kReadPastEnd))) << "the same text of another kind";
}

TEST(TQvtUnPatchEngineTest, WideTextTagsInTheHeader)
{
    std::vector<std::uint8_t> image = {0x14, 25, 0, 0, 0};
    image.insert(image.end(), kPatchMagic.begin(), kPatchMagic.end());
    // "a" CR "b" as UTF-16.
    for (int b : {0x12, 3, 0, 0, 0, 0x61, 0, 0x0D, 0, 0x62, 0})
        image.push_back(static_cast<std::uint8_t>(b));
    image.insert(image.end(), {0x06, 0x00, 0x03, 0x04, 0x00});
    image.insert(image.end(), kExample.begin() + 46, kExample.end());
    TQvtUnPatchEngine engine;
    engine.LoadFromImage(image, "w");
    EXPECT_EQ(engine.Versions, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Text(Applied(engine, "ZZABCDEFGH", 1)), "ABCxyzFG");
}

TEST(TQvtUnPatchEngineTest, HostileInstructionsAreRejected)
{
    auto make = [](std::vector<std::unique_ptr<TQvtUnPatchInstruction>> list, std::vector<std::string> versions) {
        TQvtUnPatchEngine writer;
        writer.Versions = std::move(versions);
        for (auto& i : list)
            writer.Add(std::move(i));
        return WritePatchImage(writer);
    };
    auto copy = [](std::int32_t length, std::vector<std::int32_t> offsets) {
        return std::make_unique<TQvtUnPatchCopyInstruction>(length, std::move(offsets));
    };
    auto dump = [](const std::string& text) { return std::make_unique<TQvtUnPatchDumpInstruction>(Bytes(text)); };
    auto list = [](auto... items) {
        std::vector<std::unique_ptr<TQvtUnPatchInstruction>> v;
        (v.push_back(std::move(items)), ...);
        return v;
    };

    struct TRow {
        const char* name;
        std::vector<std::uint8_t> image;
        int version;
        std::string error;
    } rows[] = {
        {"copy past the end", make(list(copy(5, {6})), {"a"}), 0,
         "Patch deteriorat: copiere in afara fisierului vechi (pozitia 6)"},
        {"copy before the start", make(list(copy(1, {2}), dump(""), copy(1, {-3})), {"a"}), 0,
         "Patch deteriorat: copiere in afara fisierului vechi (pozitia -1)"},
        {"negative length", make(list(copy(-2, {0})), {"a"}), 0, "Patch deteriorat: lungime negativa (-2)"},
        {"version index too large", make(list(copy(1, {0, 0})), {"a", "b"}), 2, "Versiunea 2 nu este acoperita de patch"},
        {"negative version index", make(list(copy(1, {0})), {"a"}), -1, "Versiunea -1 nu este acoperita de patch"},
        {"no versions", make(list(), {}), 0, "Patch-ul nu numeste nicio versiune veche"},
        {"fine", make(list(copy(3, {1}), dump("xy"), copy(2, {-1})), {"a"}), 0, ""},
        {"empty copies may point anywhere", make(list(copy(0, {-50}), dump(""), copy(0, {150}), dump(""),
                                                      copy(3, {-99}), dump("xy"), copy(2, {-1})), {"a"}), 0, ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        std::string error = Message([&] {
            TQvtUnPatchEngine engine;
            engine.LoadFromImage(row.image, "p");
            EXPECT_EQ(Text(Applied(engine, "ABCDEFGH", row.version)), "BCDxyAB");
        });
        EXPECT_EQ(error, row.error.empty() ? "(no error)" : row.error);
    }

    // A Dump longer than the literal bytes left: cut the literal section short.
    auto image = make(list(copy(0, {0}), dump("literal")), {"a"});
    image.resize(image.size() - 1);
    TQvtUnPatchEngine engine;
    EXPECT_EQ(Message([&] { engine.LoadFromImage(image, "p"); }),
              "Patch deteriorat: lipsesc octetii unei instructiuni Dump (7)");
    // Copies cannot be read at all without versions.
    TQvtUnPatchEngine none;
    EXPECT_EQ(Message([&] { none.LoadFromImage(make(list(copy(0, {0})), {""}), "p"); }), "(no error)");
    auto noVersions = make(list(copy(0, {0})), {"x"});
    noVersions[27] = 0x06;
    noVersions[28] = 0x00;
    noVersions.erase(noVersions.begin() + 29);
    TQvtUnPatchEngine zero;
    EXPECT_EQ(Message([&] { zero.LoadFromImage(noVersions, "p"); }), "Patch-ul nu numeste nicio versiune veche");
}

TEST(TQvtUnPatchEngineTest, FileLevelErrors)
{
    std::string path = TempPath("bad.patch");
    auto good = CompressPatchImage(kExample);

    struct TRow {
        const char* name;
        std::vector<std::uint8_t> file;
        std::string error;
    } rows[] = {
        {"bad zlib header", {0x12, 0x34, 0x56}, "Error"},
        {"wrong Adler-32", good, "Error"},
        {"bytes after the stream", good, ""},
        {"stream cut short", std::vector<std::uint8_t>(good.begin(), good.begin() + 20), "Stream read error"},
    };
    rows[1].file.back() ^= 1;
    rows[2].file.insert(rows[2].file.end(), {1, 2, 3, 4});
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        upd::WriteWholeFile(path, row.file.data(), row.file.size());
        TQvtUnPatchEngine engine;
        std::string error = Message([&] { engine.LoadFromFile(path); });
        EXPECT_EQ(error, row.error.empty() ? "(no error)" : row.error);
    }
    upd::DeleteFileNamed(path);

    TQvtUnPatchEngine engine;
    std::string missing = TempPath("missing.patch");
    std::string error = Message([&] { engine.LoadFromFile(missing); });
    EXPECT_EQ(error.rfind("Cannot open file \"" + missing + "\". ", 0), 0u) << error;
    // Then the system's own text, without the file layer's words around it.
    EXPECT_GT(error.size(), ("Cannot open file \"" + missing + "\". ").size()) << error;
    EXPECT_EQ(error.find("Nu pot deschide"), std::string::npos) << error;
}

TEST(TQvtUnPatchEngineTest, ARefusedLoadLeavesTheEngineAsItWas)
{
    TQvtUnPatchEngine engine;
    engine.LoadFromImage(kExample, "p");
    const std::pair<std::vector<std::uint8_t>, std::string> rows[] = {
        {std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 50), "Incerci sa citesti DUPA eof"},
        {WithHeader("x", "a", 4), "Fisierul \"q\" a fost modificat si nu mai poate fi utilizat."},
        {kExample, "Adaugi valori dupa ce ai construit reprezentarea arborescenta"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.second);
        EXPECT_EQ(Message([&] { engine.LoadFromImage(row.first, "q"); }), row.second);
        EXPECT_EQ(engine.Versions, (std::vector<std::string>{"first", "second"}));
        EXPECT_EQ(engine.Count(), 4);
        EXPECT_EQ(Text(Applied(engine, "ZZABCDEFGH", 1)), "ABCxyzFG");
    }
}

TEST(TQvtUnPatchEngineTest, TheNewFilesSizeBoundsWhatAPatchMayCost)
{
    namespace crafted = upd::patch::crafted;
    std::string path = TempPath("limits.patch");
    auto load = [&](const std::vector<std::uint8_t>& file, TQvtUnPatchLimits limits) {
        upd::WriteWholeFile(path, file.data(), file.size());
        TQvtUnPatchEngine engine;
        return Message([&] {
            engine.LoadFromFile(path, limits);
            EXPECT_EQ(engine.OutputSize(), limits.MaxOutput);
        });
    };
    // The update stage passes the new file's size: 8 bytes for the example.
    TQvtUnPatchLimits eight{8};
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> file;
        TQvtUnPatchLimits limits;
        std::string error;
    } rows[] = {
        {"exactly the new file", CompressPatchImage(kExample), eight, ""},
        {"one byte more than allowed", CompressPatchImage(kExample), {7}, "Patch-ul ar face un fisier nou mai mare de 7 octeti"},
        {"zeros after a sound image", crafted::CompressWithZeros(kExample, 64 << 20), eight,
         "Patch deteriorat: decomprimat depaseste 16777232 octeti"},
        {"a few zeros after it are ignored", crafted::CompressWithZeros(kExample, 1000), eight, ""},
        {"97.7 GiB of copies", crafted::WritesNinetySevenGiB(), {1 << 20},
         "Patch-ul ar face un fisier nou mai mare de 1048576 octeti"},
        {"more instructions than a small file needs", crafted::WritesNinetySevenGiB(), {1000},
         "Patch deteriorat: prea multe instructiuni (199999)"},
        {"copies within the instruction count", crafted::RepeatedCopies(3, 1 << 20), {(3 << 20) - 1},
         "Patch-ul ar face un fisier nou mai mare de 3145727 octeti"},
        {"versions beyond the limit", CompressPatchImage(WithHeader(kPatchMagic, "a\rb\rc", 4)), {8, 2},
         "Patch deteriorat: prea multe versiuni vechi (3)"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(load(row.file, row.limits), row.error.empty() ? "(no error)" : row.error);
    }
    upd::DeleteFileNamed(path);
}

TEST(TQvtUnPatchEngineTest, ApplyFileWritesLargeFilesWholeOrRaisesTheFailedWrite)
{
    // 4.5 MB of new bytes from a 4 KB old file: the native build hands them
    // to a writing thread, whose failure must come back as the same error.
    std::string patch = TempPath("large.patch");
    std::string old = TempPath("large.old");
    std::vector<std::uint8_t> oldBytes(4096);
    for (std::size_t i = 0; i < oldBytes.size(); ++i)
        oldBytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    upd::WriteWholeFile(old, oldBytes.data(), oldBytes.size());
    const auto file = crafted::RepeatedCopies(1100, 4096);
    upd::WriteWholeFile(patch, file.data(), file.size());
    // Fails once it has taken more than `room` bytes.
    struct TFullOutput : TQvtPatchOutput {
        explicit TFullOutput(std::size_t room) : room(room) {}
        void Write(const std::uint8_t* data, std::size_t count) override
        {
            if (count > room)
                throw upd::Exception("Disc plin");
            room -= count;
            Data.insert(Data.end(), data, data + count);
        }
        std::size_t room;
        std::vector<std::uint8_t> Data;
    };
    for (std::size_t room : {std::size_t{1} << 20, std::size_t{64} << 20}) {
        SCOPED_TRACE(room);
        TFullOutput got(room);
        std::string error = Message([&] {
            upd::TFile in(old, upd::TFileMode::ReadShared);
            TQvtFileSource source(in);
            TQvtUnPatchEngine::ApplyFile(patch, source, 0, got, {});
        });
        if (room < (std::size_t{1} << 22)) {
            EXPECT_EQ(error, "Disc plin");
        } else {
            EXPECT_EQ(error, "(no error)");
            ASSERT_EQ(got.Data.size(), 1100u * 4096);
            for (std::size_t at = 0; at < got.Data.size(); at += 4096)
                ASSERT_TRUE(std::equal(oldBytes.begin(), oldBytes.end(), got.Data.begin() + static_cast<std::ptrdiff_t>(at)));
        }
    }
    upd::DeleteFileNamed(patch);
    upd::DeleteFileNamed(old);
}

TEST(TQvtUnPatchEngineTest, ApplyFileWritesAndRefusesAsLoadingThenApplying)
{
    // The one-go rebuild must give the bytes and the messages of the three
    // steps it stands for, in their order.
    std::string patch = TempPath("once.patch");
    std::string old = TempPath("once.old");
    upd::WriteWholeFile(old, "ZZABCDEFGH", 10);
    auto cut = CompressPatchImage(std::vector<std::uint8_t>(kExample.begin(), kExample.end() - 1));
    auto adler = CompressPatchImage(kExample);
    adler.back() ^= 1;
    // Header variants that zlib refuses or stops at, their check bits made right.
    auto withHeader = [](std::uint8_t cmf, std::uint8_t flags) {
        auto file = CompressPatchImage(kExample);
        file[0] = cmf;
        file[1] = static_cast<std::uint8_t>(flags | (31 - (cmf * 256 + flags) % 31) % 31);
        return file;
    };
    auto trailerCut = CompressPatchImage(kExample);
    trailerCut.resize(trailerCut.size() - 4);
    auto trailing = CompressPatchImage(kExample);
    trailing.insert(trailing.end(), {'j', 'u', 'n', 'k'});
    auto badFcheck = CompressPatchImage(kExample);
    badFcheck[1] ^= 1;
    // A stream cut inside a header that names far more instructions than any
    // image holds: the end of the data comes first, as for a whole image.
    auto cutCount = CompressPatchImage(WithHeader(kPatchMagic, "old", 0x6F6F0D3F));
    cutCount.resize(cutCount.size() - 6);
    // The same beyond 64 KB: loading has looked at the first part by then.
    auto cutLong = upd::patch::crafted::CompressWithZeros(WithHeader(kPatchMagic, "a", 1 << 28), 100000);
    cutLong.resize(cutLong.size() - 6);
    // Whole streams of images cut inside their codes: what lies past the end
    // must not count, however far decoding got while the rest was inflated.
    auto codesCut = CompressPatchImage(std::vector<std::uint8_t>(kExample.begin(), kExample.begin() + 61));
    const auto repeated = upd::patch::crafted::RepeatedCopies(360000, 1);
    auto longCodesCut = upd::patch::InflateBytes(repeated.data(), repeated.size());
    longCodesCut.resize(longCodesCut.size() / 2);
    longCodesCut = CompressPatchImage(longCodesCut);
    auto damaged = CompressPatchImage(kExample);
    damaged[damaged.size() / 2] ^= 0x55;
    // More new bytes than an output holds back before it writes to its file,
    // then a literal byte that the image lacks.
    const auto longCut = [] {
        TQvtUnPatchEngine writer;
        writer.Versions = {"old"};
        for (int i = 0; i < 40000; ++i) {
            writer.Add(std::make_unique<upd::patch::TQvtUnPatchCopyInstruction>(8, std::vector<std::int32_t>{0}));
            writer.Add(std::make_unique<upd::patch::TQvtUnPatchDumpInstruction>(
                std::vector<std::uint8_t>(i + 1 < 40000 ? 0 : 1, '!')));
        }
        auto image = upd::patch::WritePatchImage(writer);
        image.pop_back();
        return CompressPatchImage(image);
    }();
    const TQvtUnPatchLimits small = [] {
        TQvtUnPatchLimits limits;
        limits.MaxOutput = 7;
        return limits;
    }();
    // Three old versions: each rebuilds the same new file from its own bytes.
    const std::string threeOld[] = {"ZZABCDEFGH", "ABCDEFGH", "QQQQABCDEFGHxx"};
    auto bytesOf = [](const std::string& text) { return std::vector<std::uint8_t>(text.begin(), text.end()); };
    auto three = MakePatchFile({bytesOf(threeOld[0]), bytesOf(threeOld[1]), bytesOf(threeOld[2])},
                               bytesOf("ABCDEFGHxyzABCDEFGH"), {"a", "b", "c"}, "");
    // A header longer than the first bytes decoding alongside inflating
    // waits for; and one that the image ends inside.
    std::string longNote(100000, ' ');
    for (std::size_t i = 0; i < longNote.size(); ++i)
        longNote[i] = static_cast<char>('a' + (i * 7919 + i / 13) % 26);
    auto longHeader = MakePatchFile({bytesOf("ZZABCDEFGH")}, bytesOf("ABCxyzFG"), {"old"}, longNote);
    auto headerCut = WithHeader(kPatchMagic, longNote.substr(0, 20000), 4);
    headerCut.resize(10000);
    headerCut = CompressPatchImage(headerCut);
    // Over 4 MB of new bytes from runs all over a 3 MB old file, literal
    // bytes between them and runs of no bytes that only move the position:
    // large enough to be written in two halves at once. The Copies numbered
    // in `outside` start past the old file's end.
    std::string bigOld(3000000, ' ');
    for (std::size_t i = 0; i < bigOld.size(); ++i)
        bigOld[i] = static_cast<char>(i * 2654435761u >> 13);
    const auto wandering = [&bigOld](std::vector<int> outside) {
        TQvtUnPatchEngine writer;
        writer.Versions = {"old"};
        std::uint32_t seed = 7;
        auto next = [&seed] { return (seed = seed * 1103515245u + 12345u) >> 8; };
        std::int64_t position = 0;
        for (int i = 0; i < 24000; ++i) {
            const auto length = static_cast<std::int32_t>(i % 7 == 3 ? 0 : next() % 400);
            auto start = static_cast<std::int64_t>(next() % (bigOld.size() - 400));
            if (std::find(outside.begin(), outside.end(), i) != outside.end())
                start = static_cast<std::int64_t>(bigOld.size()) - length / 2;
            writer.Add(std::make_unique<upd::patch::TQvtUnPatchCopyInstruction>(
                length, std::vector<std::int32_t>{static_cast<std::int32_t>(start - position)}));
            position = start;
            writer.Add(std::make_unique<upd::patch::TQvtUnPatchDumpInstruction>(
                std::vector<std::uint8_t>(next() % 40, static_cast<std::uint8_t>(i))));
        }
        return CompressPatchImage(upd::patch::WritePatchImage(writer));
    };
    // A few KB that inflate to megabytes: the image outgrows every first
    // guess of its size many times over.
    const auto zeros = [] {
        TQvtUnPatchEngine writer;
        writer.Versions = {"old"};
        writer.Add(std::make_unique<upd::patch::TQvtUnPatchCopyInstruction>(2, std::vector<std::int32_t>{2}));
        writer.Add(std::make_unique<upd::patch::TQvtUnPatchDumpInstruction>(std::vector<std::uint8_t>(6 << 20)));
        return CompressPatchImage(upd::patch::WritePatchImage(writer));
    }();
    struct TRow {
        const char* name;
        std::vector<std::uint8_t> file;
        int version;
        TQvtUnPatchLimits limits;
        std::string oldText = "ZZABCDEFGH";
    } rows[] = {
        {"version 1", CompressPatchImage(kExample), 1, {}},
        {"version 0 of another old file", CompressPatchImage(kExample), 0, {}},
        {"version index outside", CompressPatchImage(kExample), 2, {}},
        {"literals cut short", cut, 1, {}},
        {"wrong Adler-32", adler, 1, {}},
        {"wrong magic", CompressPatchImage(WithHeader("x", "a", 4)), 0, {}},
        {"larger than the limit", CompressPatchImage(kExample), 1, small},
        {"not zlib", {1, 2, 3}, 0, {}},
        {"check value cut off", trailerCut, 1, {}},
        {"bytes after the stream", trailing, 1, {}},
        {"header check wrong", badFcheck, 1, {}},
        {"preset dictionary asked for", withHeader(0x78, 0x20), 1, {}},
        {"64 KB window", withHeader(0x88, 0), 1, {}},
        {"smallest window", withHeader(0x08, 0), 1, {}},
        {"damaged deflate data", damaged, 1, {}},
        {"an image far larger than its file", upd::patch::crafted::CompressWithZeros(kExample, 4 << 20), 1, {}},
        {"instructions past a cut stream", cutCount, 0, {}},
        {"instructions past a cut stream beyond 64 KB", cutLong, 0, {1 << 20}},
        {"an image past the limit, refused by its header first",
         upd::patch::crafted::CompressWithZeros(WithHeader(kPatchMagic, "a", 1 << 28), 32 << 20), 0, {1 << 20}},
        {"three versions, the last", three, 2, {}, threeOld[2]},
        {"three versions, the middle", three, 1, {}, threeOld[1]},
        {"more instructions than are kept between the passes", upd::patch::crafted::RepeatedCopies(360000, 1), 0, {}},
        {"codes cut short, the stream whole", codesCut, 1, {}},
        {"codes cut short beyond 64 KB, the stream whole", longCodesCut, 0, {}},
        // Writing may start while the literals are inflated; its errors still
        // come after those of the checks.
        {"a run outside the old file, then literals cut short", cut, 1, {}, "ZZ"},
        {"literals cut short after 320 KB of new bytes", longCut, 0, {}},
        {"a header of 100 KB", longHeader, 0, {}},
        {"a patch of a few KB whose image is 6 MB", zeros, 0, {}},
        {"a long header cut short", headerCut, 0, {}},
        {"over 4 MB of new bytes from all over the old file", wandering({}), 0, {}, bigOld},
        // Whichever half fails first, the verdict is the first failing run's.
        {"a run outside the old file in the second half", wandering({20000}), 0, {}, bigOld},
        {"runs outside the old file in both halves", wandering({2000, 20000}), 0, {}, bigOld},
    };
    std::string written = TempPath("once.new");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        upd::WriteWholeFile(patch, row.file.data(), row.file.size());
        upd::WriteWholeFile(old, row.oldText.data(), row.oldText.size());
        TQvtMemoryOutput expected;
        std::string expectedError = Message([&] {
            TQvtUnPatchEngine engine;
            engine.LoadFromFile(patch, row.limits);
            engine.CheckVersionIndex(row.version);
            upd::TFile file(old, upd::TFileMode::ReadShared);
            TQvtFileSource source(file);
            engine.Apply(expected, source, row.version);
        });
        TQvtMemoryOutput got;
        std::string error = Message([&] {
            upd::TFile file(old, upd::TFileMode::ReadShared);
            TQvtFileSource source(file);
            TQvtUnPatchEngine::ApplyFile(patch, source, row.version, got, row.limits);
        });
        EXPECT_EQ(error, expectedError);
        // A file written again from its start holds nothing of the first try.
        // Progress only grows, up to every instruction written.
        struct TTold : upd::patch::TQvtUnPatchProgress {
            void Applied(std::int32_t done, std::int32_t count) override
            {
                grows = grows && done >= last && done <= count;
                last = done;
                all = count;
            }
            bool grows = true;
            std::int32_t last = 0;
            std::int32_t all = -1;
        } told;
        std::string fileError = Message([&] {
            upd::TFile file(old, upd::TFileMode::ReadShared);
            TQvtFileSource source(file);
            upd::TFile out(written, upd::TFileMode::Create);
            TQvtFileOutput sink(out);
            TQvtUnPatchEngine::ApplyFile(patch, source, row.version, sink, row.limits, &told);
        });
        EXPECT_EQ(fileError, expectedError);
        if (expectedError == "(no error)") {
            // Compared whole: the files of a few rows are megabytes long.
            EXPECT_TRUE(got.Data == expected.Data);
            EXPECT_TRUE(upd::ReadWholeFile(written) == expected.Data);
            EXPECT_TRUE(told.grows);
            EXPECT_EQ(told.last, told.all);
            // A progress that stops the rebuild (a closing wizard) stops it,
            // whichever thread was writing.
            struct TStop {};
            struct TStopping : upd::patch::TQvtUnPatchProgress {
                void Applied(std::int32_t, std::int32_t) override { throw TStop{}; }
            } stopping;
            upd::TFile file(old, upd::TFileMode::ReadShared);
            TQvtFileSource source(file);
            upd::TFile out(written, upd::TFileMode::Create);
            TQvtFileOutput sink(out);
            EXPECT_THROW(TQvtUnPatchEngine::ApplyFile(patch, source, row.version, sink, row.limits, &stopping), TStop);
        } else if (std::string(row.name).find("outside the old file in") == std::string::npos) {
            EXPECT_TRUE(got.Data.empty()); // refused: nothing of the new file is left
            EXPECT_EQ(Text(upd::ReadWholeFile(written)), "");
        }
    }
    upd::DeleteFileNamed(patch);
    upd::DeleteFileNamed(old);
    upd::DeleteFileNamed(written);
}
