// The package's identity in the wizard's image: found by the builder, written
// into its copy of the stub only, and the only package the engine accepts.
#include "package/ImageSlot.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/PackageWriter.h"
#include "package/PatchDataEngine.h"

#include "PackageTestFiles.h"

#include <gtest/gtest.h>

#include <memory>

namespace upd::package {

using testing::PeStubBytes;
using testing::TScratchFolder;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::size_t kSlotAt = 0x1000;

/// A program image with the wizard's slot, empty, at kSlotAt.
Bytes StubWithSlot(unsigned seed = 1)
{
    Bytes stub = PeStubBytes(20000, true, seed);
    const TSlotMarker marker = ImageSlotMarker();
    std::copy(marker.begin(), marker.end(), stub.begin() + kSlotAt);
    std::fill_n(stub.begin() + kSlotAt + kImageSlotMarkerSize, kImageSlotDigestSize, 0);
    return stub;
}

TUpdate UpdateTitled(const std::string& title, Bytes& segments)
{
    TUpdate update;
    update.Title = title;
    update.TagFileName = "sig.txt";
    auto& patch = update.PatchSets.Add(std::make_unique<TPatchSet>());
    patch.Segment = AppendSegment(segments, testing::StubBytes(3000, 7));
    patch.TargetFileName = "C:\\Pravion\\kp3.exe";
    return update;
}

/// The slot state of a built package, as `updkit info` tells it.
TSlotState StateOf(const Bytes& exe)
{
    const std::int64_t header = FindPackageHeader(exe.data(), exe.size());
    const std::int32_t size = PackageSizeAt(exe.data() + header);
    return SlotStateOf(exe.data(), static_cast<std::size_t>(header), exe.data() + header,
                       static_cast<std::size_t>(size));
}

} // namespace

TEST(TImageSlotTest, FoundOnlyWhenThereIsExactlyOne)
{
    const TSlotMarker marker = ImageSlotMarker();
    struct Row {
        const char* name;
        std::vector<std::size_t> markers;
        std::int64_t expected; // -2: refused
    };
    const Row rows[] = {
        {"none", {}, -1},
        {"one", {kSlotAt}, static_cast<std::int64_t>(kSlotAt)},
        {"two", {kSlotAt, 3 * kSlotAt}, -2},
        {"no room for the digest after it", {20000 - kImageSlotSize + 1}, -1},
        {"just room", {20000 - kImageSlotSize}, static_cast<std::int64_t>(20000 - kImageSlotSize)},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes image = PeStubBytes(20000);
        for (std::size_t at : row.markers)
            std::copy(marker.begin(), marker.end(), image.begin() + static_cast<std::ptrdiff_t>(at));
        if (row.expected == -2)
            EXPECT_THROW(FindImageSlot(image.data(), image.size()), Exception);
        else
            EXPECT_EQ(FindImageSlot(image.data(), image.size()), row.expected);
    }
}

// The image checksum covers the slot, so a builder that writes it computes
// the checksum again, as the system does (the value below is that of a
// reference implementation); an image without one keeps none.
TEST(TImageSlotTest, ChecksumIsMadeAgainOnlyWhenTheImageHasOne)
{
    for (std::uint8_t field : {0, 1}) {
        SCOPED_TRACE(static_cast<int>(field));
        Bytes image(0x301, 0);
        image[0] = 'M';
        image[1] = 'Z';
        image[0x3C] = 0x80;
        const std::uint8_t pe[] = {'P', 'E', 0, 0};
        std::copy(std::begin(pe), std::end(pe), image.begin() + 0x80);
        image[0x98] = 0x0B;
        image[0x99] = 0x02;
        image[0x100] = 0xFF; // words that carry past 16 bits
        image[0x101] = 0xFF;
        image[0x102] = 0x34;
        image[0x300] = 0xAB; // an odd length: the last byte counts alone
        image[0xD8] = field;
        UpdatePeChecksum(image);
        const std::uint32_t checksum = image[0xD8] | (image[0xD9] << 8) | (image[0xDA] << 16) | (image[0xDB] << 24);
        EXPECT_EQ(checksum, field ? 0xA608u : 0u);
    }
}

// One stub, two packages: each carries its own identity, the stub file keeps
// its empty slot, and an image with another package's data is told apart.
TEST(TImageSlotTest, BuilderWritesTheIdentityIntoItsCopyOfTheStub)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("setup-stub.exe", StubWithSlot());
    Bytes segmentsA, segmentsB;
    WritePackage(stub, folder.File("a.exe"), UpdateTitled("A", segmentsA), segmentsA, {});
    WritePackage(stub, folder.File("b.exe"), UpdateTitled("B", segmentsB), segmentsB, {});
    const Bytes a = ReadWholeFile(folder.File("a.exe"));
    const Bytes b = ReadWholeFile(folder.File("b.exe"));

    EXPECT_EQ(ReadWholeFile(stub), StubWithSlot());
    EXPECT_EQ(StateOf(a), TSlotState::Matches);
    EXPECT_EQ(StateOf(b), TSlotState::Matches);
    EXPECT_NE(SlotDigest(a.data() + kSlotAt), SlotDigest(b.data() + kSlotAt));

    // A's program with B's package after it: what a user who replaced the
    // file after the start would hand the wizard.
    const std::int64_t headerA = FindPackageHeader(a.data(), a.size());
    const std::int64_t headerB = FindPackageHeader(b.data(), b.size());
    Bytes mixed(a.begin(), a.begin() + headerA);
    mixed.insert(mixed.end(), b.begin() + headerB, b.end());
    EXPECT_EQ(StateOf(mixed), TSlotState::Differs);

    Bytes emptied = a;
    std::fill_n(emptied.begin() + kSlotAt + kImageSlotMarkerSize, kImageSlotDigestSize, 0);
    EXPECT_EQ(StateOf(emptied), TSlotState::Empty);

    const std::string plain = folder.Write("plain.exe", PeStubBytes(20000));
    WritePackage(plain, folder.File("c.exe"), UpdateTitled("A", segmentsA), segmentsA, {});
    EXPECT_EQ(StateOf(ReadWholeFile(folder.File("c.exe"))), TSlotState::Absent);
}

// The engine takes the identity the running image carries: the package with
// that identity only; none given (an empty slot) takes any package.
TEST(TImageSlotTest, EngineAcceptsOnlyThePackageOfItsImage)
{
    TScratchFolder folder;
    const std::string stub = folder.Write("setup-stub.exe", StubWithSlot());
    Bytes segmentsA, segmentsB;
    WritePackage(stub, folder.File("a.exe"), UpdateTitled("A", segmentsA), segmentsA, {});
    WritePackage(stub, folder.File("b.exe"), UpdateTitled("B", segmentsB), segmentsB, {});
    const std::optional<TSlotDigest> identityA = SlotDigest(ReadWholeFile(folder.File("a.exe")).data() + kSlotAt);
    ASSERT_TRUE(identityA);
    auto open = [&](const char* name) { return std::make_shared<TFile>(folder.File(name), TFileMode::ReadDenyWrite); };

    EXPECT_EQ(TPatchDataEngine(open("a.exe"), identityA).Header.Title, "A");
    EXPECT_EQ(TPatchDataEngine(open("b.exe"), std::nullopt).Header.Title, "B");
    try {
        TPatchDataEngine engine(open("b.exe"), identityA);
        ADD_FAILURE() << "another package was taken";
    } catch (const EForeignPackage& e) {
        EXPECT_EQ(e.Message(), "Pachetul de actualizare din " + folder.File("b.exe") +
                                   " nu este cel al acestui program: fisierul a fost inlocuit dupa pornirea "
                                   "programului. Actualizarea s-a oprit si niciun fisier instalat nu a fost schimbat.");
    }
}

} // namespace upd::package
