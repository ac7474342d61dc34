// Finding the package in an executable and reading its header and description.
#include "package/PatchDataEngine.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/MemMappedFile.h"
#include "package/TaggedValues.h"

#include <algorithm>
#include <cstring>

namespace upd::package {

std::int64_t FindPackageHeader(const std::uint8_t* data, std::size_t size)
{
    if (size < kPatchHeaderSize + 1)
        return -1;
    const TPackageSignature signature = GeneratePackageSignature();
    constexpr std::size_t n = kPackageSignatureSize;
    // Offsets 0 .. size - 1254; the last compare reads up to offset size - 1254 + 39.
    const std::size_t lastStart = size - kPatchHeaderSize - 1;
    const std::uint8_t* const end = data + lastStart + n;

    // Horspool on a hash of two bytes (the pair ending at p). distance[h] is how
    // far from the signature's start the last pair of hash h ends (0 = no such
    // pair). The inner loop moves by a fixed n - 1, so its next load does not
    // wait for the table: on a program image most pairs are not in the
    // signature and the loop runs at memory speed. Windows are tried left to
    // right, so the first match is the one found.
    auto hashAt = [](const std::uint8_t* p) {
        return (static_cast<std::size_t>(p[0]) - (static_cast<std::size_t>(p[-1]) << 3)) & 255;
    };
    std::uint8_t distance[256] = {};
    for (std::size_t i = 1; i < n - 1; ++i)
        distance[hashAt(&signature[i])] = static_cast<std::uint8_t>(i);
    // After a failed compare: on to the previous pair with the last pair's hash.
    const std::size_t afterMismatch = n - 1 - distance[hashAt(&signature[n - 1])];
    distance[hashAt(&signature[n - 1])] = static_cast<std::uint8_t>(n - 1);

    const std::uint8_t* const lastWindow = end - n; // start of the last window tried
    const std::uint8_t* window = data;
    while (window <= lastWindow) {
        std::size_t found;
        do {
            window += n - 1;
            found = distance[hashAt(window)];
        } while (found == 0 && window <= lastWindow);
        // `window` is n - 1 bytes further on: align the pair with its place in the signature.
        window -= found;
        if (found < n - 1)
            continue;
        if (window <= lastWindow && std::memcmp(window, signature.data(), n) == 0)
            return window - data;
        window += afterMismatch;
    }
    return -1;
}

namespace {

std::uint32_t Le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

} // namespace

std::optional<TCertificateTable> TrailingCertificateTable(const std::uint8_t* data, std::size_t size)
{
    // DOS header -> "PE\0\0" -> COFF header (24 bytes with the signature) ->
    // optional header: magic, then the data directories at 96 (PE32) or 112
    // (PE32+), entry 4 being the certificate table as a file offset and a size.
    constexpr std::size_t kSecurityDirectory = 4;
    if (size < 64 || data[0] != 'M' || data[1] != 'Z')
        return std::nullopt;
    const std::uint64_t pe = Le32(data + 0x3C);
    if (pe > size || size - pe < 24 + 2 || std::memcmp(data + pe, "PE\0\0", 4) != 0)
        return std::nullopt;
    const std::uint64_t optionalSize = static_cast<std::uint64_t>(data[pe + 20] | (data[pe + 21] << 8));
    const std::uint64_t optional = pe + 24;
    const unsigned magic = static_cast<unsigned>(data[optional] | (data[optional + 1] << 8));
    const std::uint64_t countAt = magic == 0x20B ? 108 : magic == 0x10B ? 92 : 0;
    if (countAt == 0)
        return std::nullopt;
    const std::uint64_t entry = countAt + 4 + 8 * kSecurityDirectory;
    if (optionalSize < entry + 8 || size - optional < entry + 8 ||
        Le32(data + optional + countAt) <= kSecurityDirectory)
        return std::nullopt;
    const std::uint64_t offset = Le32(data + optional + entry);
    const std::uint64_t length = Le32(data + optional + entry + 4);
    if (offset == 0 || length == 0 || offset > size || size - offset != length)
        return std::nullopt;
    return TCertificateTable{static_cast<std::int64_t>(offset), static_cast<std::int64_t>(length)};
}

namespace {

struct TRunningImage {
    std::shared_ptr<TFile> File;
    std::optional<TSlotDigest> Identity;
};

TRunningImage& RunningImage()
{
    static TRunningImage image;
    return image;
}

} // namespace

EForeignPackage::EForeignPackage(const TPath& exeFileName)
    : Exception("Pachetul de actualizare din " + exeFileName.Text() +
                " nu este cel al acestui program: fisierul a fost inlocuit dupa pornirea programului. "
                "Actualizarea s-a oprit si niciun fisier instalat nu a fost schimbat.")
{
}

void HoldRunningImage(TFile exeFile, const std::optional<TSlotDigest>& identity)
{
    RunningImage() = {std::make_shared<TFile>(std::move(exeFile)), identity};
}

TPatchDataEngine::TPatchDataEngine()
    : TPatchDataEngine(RunningImage().File ? RunningImage().File
                                           : std::make_shared<TFile>(RunningExeFileName(), TFileMode::ReadDenyWrite),
                       RunningImage().Identity)
{
}

TPatchDataEngine::TPatchDataEngine(const TPath& exeFileName)
    : TPatchDataEngine(std::make_shared<TFile>(exeFileName, TFileMode::ReadDenyWrite), std::nullopt)
{
}

TPatchDataEngine::TPatchDataEngine(std::shared_ptr<TFile> exeFile, const std::optional<TSlotDigest>& identity)
    : Update(std::make_unique<TUpdate>()), m_exeFileName(exeFile->Name()), m_exeFile(std::move(exeFile))
{
    Open(identity);
}

std::int32_t LocatePackage(const std::uint8_t* data, std::size_t size, std::vector<std::uint8_t>& package)
{
    const std::int64_t offset = FindPackageHeader(data, size);
    if (offset < 0 || offset > INT32_MAX)
        throw Exception(kNoHeaderMessage);
    // The size is the package's own claim: it must at least cover the header
    // and must not reach past the end of the file.
    const std::int32_t packageSize = PackageSizeAt(data + offset);
    if (packageSize < static_cast<std::int32_t>(kPatchHeaderSize) ||
        static_cast<std::uint64_t>(packageSize) > size - static_cast<std::size_t>(offset))
        throw Exception(kCannotReadDataDirMessage);
    package.assign(data + offset, data + offset + packageSize);
    return static_cast<std::int32_t>(offset);
}

void TPatchDataEngine::Open(const std::optional<TSlotDigest>& identity)
{
    std::vector<std::uint8_t> package;
    std::int32_t zerosBeforeTable = 0;
    const std::int64_t descriptionEnd = [&] {
        const TMemMappedFile file(*m_exeFile);
        HeaderOffset = LocatePackage(file.Data(), file.Size(), package);
        // Checked before anything of the package is believed: another
        // package's texts and digests would all agree with each other.
        if (identity && PackageIdentity(package.data(), package.size()) != *identity)
            throw EForeignPackage(m_exeFileName);
        const std::int64_t end = static_cast<std::int64_t>(HeaderOffset) + static_cast<std::int64_t>(package.size());
        // A table that would start inside the package is not a signature over it.
        CertificateTable = TrailingCertificateTable(file.Data(), file.Size());
        if (CertificateTable && CertificateTable->Offset < end)
            CertificateTable.reset();
        DataEnd = CertificateTable ? CertificateTable->Offset : static_cast<std::int64_t>(file.Size());
        // A signer pads the file to a multiple of 8 bytes with zeros before
        // its table: up to 7 of them, after the update description.
        while (CertificateTable && zerosBeforeTable < 7 && DataEnd - zerosBeforeTable > end &&
               file.Data()[DataEnd - zerosBeforeTable - 1] == 0)
            ++zerosBeforeTable;
        return end;
    }();
    Header = TPatchHeader::Parse(package.data());
    // The header has room for ten volumes; a count outside that would send the
    // archive stage past the end of the volume tables.
    if (Header.VolumeCount < 0 || Header.VolumeCount > kMaxVolumes)
        throw Exception(kCannotReadDataDirMessage);
    TTaggedValueReader reader(package.data() + kPatchHeaderSize, package.size() - kPatchHeaderSize);
    Update->ReadFrom(reader);
    if (Header.VolumeCount == 0 && zerosBeforeTable > 0) {
        std::int64_t segmentsEnd = descriptionEnd;
        auto reach = [&](const TUpdateData& segment) {
            segmentsEnd = std::max(segmentsEnd, descriptionEnd + static_cast<std::int64_t>(segment.Offset) +
                                                    static_cast<std::int64_t>(segment.Size));
        };
        for (const auto& set : Update->PatchSets)
            reach(set->Segment);
        for (const auto& set : Update->CopySets)
            reach(set->Segment);
        SignerPadding =
            static_cast<std::int32_t>(std::clamp<std::int64_t>(DataEnd - segmentsEnd, 0, zerosBeforeTable));
    }
}

TPatchDataEngine::~TPatchDataEngine()
{
    TempFiles.push_back(PatchTotalFileName);
    for (const TPath& name : TempFiles) {
        if (!name.Empty() && FileExists(name))
            DeleteFileNamed(name);
    }
}

TPath VolumeBaseName(const TPath& exeFileName)
{
    const TPath::TNative& name = exeFileName.Native();
    const std::size_t dot = name.find_last_of(TPath(".\\/:").Native());
    if (dot == TPath::TNative::npos || name[dot] != '.')
        return exeFileName;
    return TPath::FromNative(name.substr(0, dot + 1));
}

TPath TPatchDataEngine::GetVolumeBaseName() const
{
    return VolumeBaseName(m_exeFileName);
}

TPath TPatchDataEngine::GetVolumeFileName(int n) const
{
    return GetVolumeBaseName() + std::to_string(n);
}

namespace {

std::unique_ptr<TPatchDataEngine>& TheEngine()
{
    static std::unique_ptr<TPatchDataEngine> engine;
    return engine;
}

} // namespace

TPatchDataEngine& GetPatchDataEngine()
{
    auto& engine = TheEngine();
    if (!engine)
        engine = std::make_unique<TPatchDataEngine>();
    if (!engine)
        throw Exception(kNoDataEngineMessage);
    return *engine;
}

void FreePatchDataEngine() noexcept
{
    TheEngine().reset();
}

std::unique_ptr<TPatchDataEngine> ReplacePatchDataEngine(std::unique_ptr<TPatchDataEngine> engine)
{
    std::swap(TheEngine(), engine);
    return engine;
}

} // namespace upd::package
