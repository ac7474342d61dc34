#include "package/PatchDataEngine.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/MemMappedFile.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"
#include "package/TaggedValues.h"
#include "PackageTestFiles.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>

namespace upd::package {

using testing::StubBytes;
using testing::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

std::int64_t NaiveFind(const Bytes& data)
{
    const auto signature = GeneratePackageSignature();
    for (std::size_t i = 0; i + kPatchHeaderSize < data.size(); ++i) {
        if (std::memcmp(data.data() + i, signature.data(), signature.size()) == 0)
            return static_cast<std::int64_t>(i);
    }
    return -1;
}

void Plant(Bytes& data, std::size_t offset, std::size_t length = kPackageSignatureSize)
{
    const auto signature = GeneratePackageSignature();
    std::memcpy(data.data() + offset, signature.data(), length);
}

TUpdate SmallUpdate()
{
    TUpdate update;
    update.Title = "Bun g@asit @in expertul pentru actualizat Pravion";
    update.Description = "Se va actualiza programul *b*Pravion*/b* " + std::string(150, 'd');
    update.TagFileName = "sig-174.txt";
    auto& set = update.MustHaveSets.Add(std::make_unique<TMustHaveSet>());
    auto signature = std::make_unique<TFileSignature>();
    signature->FileName = "C:\\Pravion\\borlndmm.dll";
    signature->Hash = "0123456789ABCDEF0123456789ABCDEF";
    signature->Size = 21504;
    set.Add(std::move(signature));
    update.TagText = MakeTagText("174", "7 decembrie 2026", update.MustHaveSets);
    return update;
}

std::string ErrorOf(const std::string& exe)
{
    try {
        TPatchDataEngine engine(exe);
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

} // namespace

TEST(TPatchDataEngineTest, ScanFindsTheFirstSignatureWithAHeaderAfterIt)
{
    struct Row {
        const char* name;
        std::size_t size;
        std::vector<std::size_t> planted;
        std::int64_t found;
    };
    const Row rows[] = {
        {"none", 5000, {}, -1},
        {"at the start", 5000, {0}, 0},
        {"1254 before the end", 5000, {5000 - 1254}, 5000 - 1254},
        {"1253 before the end", 5000, {5000 - 1253}, -1},
        {"the first of two", 9000, {4000, 100}, 100},
        {"too small for any header", 1253, {0}, -1},
        {"just large enough", 1254, {0}, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes data = StubBytes(row.size);
        for (std::size_t offset : row.planted)
            Plant(data, offset, std::min(kPackageSignatureSize, row.size - offset));
        EXPECT_EQ(FindPackageHeader(data.data(), data.size()), row.found);
    }
    EXPECT_EQ(FindPackageHeader(nullptr, 0), -1);
}

TEST(TPatchDataEngineTest, ScanAgreesWithAPlainSearch)
{
    // Near misses (signature prefixes and suffixes, the last byte alone) are where a
    // skipping search goes wrong; compare with the plain byte-by-byte scan.
    std::mt19937 random(7);
    for (int round = 0; round < 600; ++round) {
        SCOPED_TRACE(round);
        Bytes data = StubBytes(1300 + random() % 6000, round);
        const auto signature = GeneratePackageSignature();
        // Every third round the bytes come from the signature alone, so that
        // nearly every pair is one the search has to look at closely.
        if (round % 3 == 0) {
            for (auto& byte : data)
                byte = signature[random() % (1 + round % kPackageSignatureSize)];
        }
        for (int k = random() % 12; k > 0; --k) {
            std::size_t offset = random() % (data.size() - kPackageSignatureSize);
            std::size_t length = 1 + random() % kPackageSignatureSize;
            std::size_t from = random() % 2 ? 0 : kPackageSignatureSize - length;
            std::memcpy(data.data() + offset, signature.data() + from, length);
        }
        ASSERT_EQ(FindPackageHeader(data.data(), data.size()), NaiveFind(data));
    }
}

TEST(TPatchDataEngineTest, ReadsBackWhatTheWriterWrote)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(70000));
    const TUpdate update = SmallUpdate();
    Bytes segments;
    AppendSegment(segments, Bytes(3000, 0x5A));
    const std::string exe = folder.File("update.exe");
    const TPatchHeader written = WritePackage(stub, exe, update, segments, {});

    TPatchDataEngine engine(exe);
    EXPECT_EQ(engine.HeaderOffset, 70000);
    EXPECT_EQ(engine.GetExeFileName(), exe);
    EXPECT_EQ(engine.Header.Title, update.Title);
    EXPECT_EQ(engine.Header.Description, update.Description.substr(0, 128));
    EXPECT_EQ(engine.Header.PackageSize, written.PackageSize);
    EXPECT_EQ(engine.Header.VolumeCount, 0);
    EXPECT_EQ(engine.Header.VolumeDigests[3], std::string(1, '\0'));
    EXPECT_EQ(engine.Update->Title, update.Title);
    EXPECT_EQ(engine.Update->Description, update.Description);
    EXPECT_EQ(engine.Update->TagText, update.TagText);
    ASSERT_EQ(engine.Update->MustHaveSets.Count(), 1);
    EXPECT_EQ(engine.Update->MustHaveSets.Items(0).Items(0).Size, 21504);

    // The patch data is everything after the header; its digest is the header's.
    const Bytes file = ReadWholeFile(exe);
    ASSERT_EQ(file.size(), 70000 + static_cast<std::size_t>(written.PackageSize) + 3000);
    EXPECT_EQ(MD5Text(file.data() + 70000 + kPatchHeaderSize, file.size() - 70000 - kPatchHeaderSize),
              engine.Header.PackageDigest);
}

TEST(TPatchDataEngineTest, RefusesDamagedPackages)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(5000));
    const std::string good = folder.File("good.exe");
    WritePackage(stub, good, SmallUpdate(), {}, {});
    const Bytes package = ReadWholeFile(good);
    const std::size_t packageSize = package.size() - 5000;

    struct Row {
        const char* name;
        std::function<void(Bytes&)> damage;
        std::string message;
    };
    auto setPackageSize = [](std::int64_t value) {
        return [value](Bytes& bytes) {
            for (int i = 0; i < 4; ++i)
                bytes[5000 + 298 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(value) >> (8 * i));
        };
    };
    const Row rows[] = {
        {"no package", [](Bytes& bytes) { bytes.resize(5000); }, "Nu gasesc header!"},
        {"signature damaged", [](Bytes& bytes) { bytes[5039] ^= 1; }, "Nu gasesc header!"},
        {"size beyond the file", setPackageSize(static_cast<std::int64_t>(packageSize) + 1), "Nu pot citi DataDir"},
        {"size far beyond the file", setPackageSize(0x7FFFFFFF), "Nu pot citi DataDir"},
        {"negative size", setPackageSize(-5), "Nu pot citi DataDir"},
        {"size below the header", setPackageSize(1252), "Nu pot citi DataDir"},
        {"size of the header alone", setPackageSize(1253),
         "Descrierea actualizarii este deteriorata (pozitia 0)"},
        {"description cut", setPackageSize(static_cast<std::int64_t>(packageSize) - 1),
         // The last value, the copy set count 02 00, loses its payload.
         Format(kTaggedReadError, static_cast<long long>(packageSize - kPatchHeaderSize - 2))},
        {"eleven volumes", [](Bytes& bytes) { bytes[5000 + 318] = 11; }, "Nu pot citi DataDir"},
        {"negative volume count", [](Bytes& bytes) { bytes[5000 + 321] = 0x80; }, "Nu pot citi DataDir"},
        {"foreign tag", [](Bytes& bytes) { bytes[5000 + kPatchHeaderSize] = 0x02; },
         "Descrierea actualizarii este deteriorata (pozitia 0)"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes bytes = package;
        row.damage(bytes);
        const std::string exe = folder.Write("damaged.exe", bytes);
        EXPECT_EQ(ErrorOf(exe), row.message);
    }
    EXPECT_EQ(ErrorOf(good), "no error");
    EXPECT_THROW(TPatchDataEngine(folder.File("missing.exe")), EOSError);
}

TEST(TPatchDataEngineTest, CertificateTableCountsOnlyAtTheEndOfAProgramImage)
{
    struct Row {
        const char* name;
        bool pe32Plus;
        bool sign;
        std::function<void(Bytes&)> change;
        bool found;
    };
    const Row rows[] = {
        {"unsigned", true, false, nullptr, false},
        {"signed", true, true, nullptr, true},
        {"signed PE32", false, true, nullptr, true},
        {"bytes after the table", true, true, [](Bytes& exe) { exe.push_back(0); }, false},
        {"no security directory", true, true, [](Bytes& exe) { exe[0x80 + 24 + 108] = 4; }, false},
        {"not a program image", true, true, [](Bytes& exe) { exe[1] = 'X'; }, false},
        {"headers past the end", true, true, [](Bytes& exe) { exe[0x3D] = 0x7F; }, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes exe = testing::PeStubBytes(3001, row.pe32Plus);
        if (row.sign)
            testing::AppendCertificateTable(exe, 700, row.pe32Plus);
        if (row.change)
            row.change(exe);
        const auto table = TrailingCertificateTable(exe.data(), exe.size());
        ASSERT_EQ(table.has_value(), row.found);
        if (row.found) {
            EXPECT_EQ(table->Offset, 3008);
            EXPECT_EQ(table->Size, 700);
        }
    }
}

TEST(TPatchDataEngineTest, DestructionDeletesTheTemporaryFiles)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(2000));
    const std::string exe = folder.File("setup.exe");
    WritePackage(stub, exe, SmallUpdate(), {}, {});
    const std::string total = folder.Write("PatchTotal_1.bin", {1, 2, 3});
    const std::string other = folder.Write("Patch_1.Patch", {4});
    {
        TPatchDataEngine engine(exe);
        engine.TempFiles = {other, folder.File("never-made.bin"), ""};
        engine.PatchTotalFileName = total;
    }
    EXPECT_FALSE(FileExists(total));
    EXPECT_FALSE(FileExists(other));
    EXPECT_TRUE(FileExists(exe));
}

TEST(TPatchDataEngineTest, VolumeNamesFollowTheExecutable)
{
    struct Row {
        const char* exe;
        const char* base;
    };
    const Row rows[] = {
        {"C:\\Kit\\setup.exe", "C:\\Kit\\setup."},
        {"C:\\Kit\\update.EXE", "C:\\Kit\\update."},
        {"C:\\Kit\\setup.tar.exe", "C:\\Kit\\setup.tar."},
        {"C:\\Kit.d\\setup", "C:\\Kit.d\\setup"},
        {"/srv/kit.d/setup", "/srv/kit.d/setup"},
        {"setup.", "setup."},
        {"A:setup.exe", "A:setup."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.exe);
        EXPECT_EQ(VolumeBaseName(row.exe), row.base);
    }
}

TEST(TPatchDataEngineTest, ProcessWideEngineIsMadeOnce)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("stub.exe", StubBytes(2000));
    const std::string exe = folder.File("update.exe");
    WritePackage(stub, exe, SmallUpdate(), {}, {});
    auto previous = ReplacePatchDataEngine(std::make_unique<TPatchDataEngine>(exe));
    TPatchDataEngine& first = GetPatchDataEngine();
    EXPECT_EQ(&GetPatchDataEngine(), &first);
    EXPECT_EQ(first.GetVolumeFileName(2), folder.File("update.2"));
    FreePatchDataEngine();
    // The test program carries no package: the accessor fails and leaves no engine behind.
    for (int attempt = 0; attempt < 2; ++attempt) {
        try {
            GetPatchDataEngine();
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "Nu gasesc header!");
        }
    }
    ReplacePatchDataEngine(std::move(previous));
}

TEST(TMemMappedFileTest, MappingAndCopyGiveTheSameBytes)
{
    TScratchFolder folder;
    const Bytes content = StubBytes(100000, 3);
    const std::string name = folder.Write("data.bin", content);
    for (bool useMapping : {true, false}) {
        SCOPED_TRACE(useMapping);
        const TMemMappedFile file(name, true, useMapping);
        EXPECT_EQ(file.IsMapped(), useMapping);
        ASSERT_EQ(file.Size(), content.size());
        EXPECT_EQ(std::memcmp(file.Data(), content.data(), content.size()), 0);
    }
    for (bool useMapping : {true, false}) {
        SCOPED_TRACE(useMapping);
        const TMemMappedFile empty(folder.Write("empty.bin", {}), true, useMapping);
        EXPECT_EQ(empty.Size(), 0u);
        EXPECT_THROW(TMemMappedFile(folder.File("missing.bin"), true, useMapping), EOSError);
    }
    {
        TMemMappedFile writable(name, false, true);
        writable.MutableData()[0] ^= 0xFF;
    }
    EXPECT_EQ(ReadWholeFile(name)[0], content[0] ^ 0xFF);
}

} // namespace upd::package
