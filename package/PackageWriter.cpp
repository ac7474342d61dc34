#include "package/PackageWriter.h"

#include "base/Exception.h"
#include "base/File.h"
#include "package/ImageSlot.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "package/TaggedValues.h"

#include <climits>
#include <memory>

namespace upd::package {

namespace {

std::int32_t CheckedInt32(std::size_t value, const char* what)
{
    if (value > static_cast<std::size_t>(INT32_MAX))
        throw Exception(Format("Pachetul este prea mare: %s nu incape in 32 de biti", std::string(what)));
    return static_cast<std::int32_t>(value);
}

/// MD5 text of several byte ranges taken as one string.
std::string DigestOf(std::initializer_list<std::pair<const std::uint8_t*, std::size_t>> parts)
{
    THashAlgMD5Engine::TContext context;
    THashAlgMD5Engine::Init(context);
    for (const auto& [data, size] : parts) {
        if (size > 0)
            THashAlgMD5Engine::Update(context, data, size);
    }
    THashDigest digest{};
    THashAlgMD5Engine::Final(context, digest.data());
    return THashAlgMD5().DigestToText(digest);
}

} // namespace

TUpdateData AppendSegment(std::vector<std::uint8_t>& segmentData, const std::vector<std::uint8_t>& bytes)
{
    TUpdateData record;
    record.Offset = CheckedInt32(segmentData.size(), "pozitia unui segment");
    record.Size = CheckedInt32(bytes.size(), "marimea unui segment");
    CheckedInt32(segmentData.size() + bytes.size(), "datele de actualizare");
    record.Hash = DigestOf({{bytes.data(), bytes.size()}});
    segmentData.insert(segmentData.end(), bytes.begin(), bytes.end());
    return record;
}

std::vector<std::int32_t> SplitIntoVolumes(std::size_t total, int count)
{
    if (count < 1 || count > kMaxVolumes)
        throw Exception(Format("Un pachet are intre 1 si 10 volume, nu %d", count));
    std::vector<std::int32_t> sizes;
    const std::size_t share = total / static_cast<std::size_t>(count);
    const std::size_t rest = total % static_cast<std::size_t>(count);
    for (int i = 0; i < count; ++i)
        sizes.push_back(CheckedInt32(share + (static_cast<std::size_t>(i) < rest ? 1 : 0), "marimea unui volum"));
    return sizes;
}

std::vector<std::int32_t> SplitByVolumeSize(std::size_t total, std::int64_t maxBytes)
{
    if (maxBytes <= 0)
        throw Exception(Format("Marimea unui volum trebuie sa fie pozitiva, nu %d", maxBytes));
    const std::size_t limit = static_cast<std::size_t>(std::min<std::int64_t>(maxBytes, INT32_MAX));
    const std::size_t count = total == 0 ? 1 : (total + limit - 1) / limit;
    if (count > static_cast<std::size_t>(kMaxVolumes))
        throw Exception(Format("Datele de actualizare ar avea nevoie de %d volume de aceasta marime; "
                               "un pachet are cel mult 10",
                               static_cast<long long>(count)));
    std::vector<std::int32_t> sizes;
    for (std::size_t left = total; sizes.size() < count; left -= std::min(left, limit))
        sizes.push_back(static_cast<std::int32_t>(std::min(left, limit)));
    return sizes;
}

namespace {

void CheckTargets(const TPackageFiles& targets, const std::string& stubFileName, std::vector<std::string> inputs)
{
    std::vector<std::string> names{targets.ExeFileName};
    names.insert(names.end(), targets.VolumeFileNames.begin(), targets.VolumeFileNames.end());
    inputs.insert(inputs.begin(), stubFileName);
    for (std::size_t i = 0; i < names.size(); ++i) {
        const std::string& name = names[i];
        for (std::size_t j = 0; j < i; ++j) {
            if (names[j] == name || SameFile(names[j], name))
                throw Exception("Volumul " + std::to_string(i) + " ar avea acelasi nume ca " +
                                (j == 0 ? "pachetul: " + name : "volumul " + std::to_string(j) + ": " + name));
        }
        if (FileOrFolderExists(name) && !IsRegularFile(name))
            throw Exception(Format("Fisierul %s exista si nu este un fisier obisnuit", name));
        for (const std::string& input : inputs) {
            if (input == name || SameFile(input, name))
                throw Exception(Format("Fisierul %s este si fisier de intrare", name));
        }
    }
}

} // namespace

TPatchHeader WritePackage(const std::string& stubFileName, const std::string& outputFileName, const TUpdate& update,
                          const std::vector<std::uint8_t>& segmentData,
                          const std::vector<std::int32_t>& volumeSizes, TPackageFiles* files,
                          const std::vector<std::string>& inputs)
{
    if (volumeSizes.size() > static_cast<std::size_t>(kMaxVolumes))
        throw Exception("Un pachet are cel mult 10 volume");
    std::size_t volumeTotal = 0;
    for (std::int32_t size : volumeSizes) {
        if (size < 0)
            throw Exception("Marimea unui volum nu poate fi negativa");
        volumeTotal += static_cast<std::size_t>(size);
    }
    if (!volumeSizes.empty() && volumeTotal != segmentData.size())
        throw Exception("Marimile volumelor nu insumeaza marimea segmentelor");

    TTaggedValueWriter writer;
    update.WriteTo(writer);
    const std::vector<std::uint8_t>& description = writer.Data();

    TPatchHeader header;
    header.Signature = GeneratePackageSignature();
    header.Title = update.Title.substr(0, kTitleCapacity);
    header.Description = update.Description.substr(0, kTitleCapacity);
    header.PackageSize = CheckedInt32(kPatchHeaderSize + description.size(), "marimea pachetului");
    CheckedInt32(kPatchHeaderSize + description.size() + segmentData.size(), "datele de actualizare");
    header.VolumeCount = static_cast<std::int32_t>(volumeSizes.size());
    header.PackageDigest =
        DigestOf({{description.data(), description.size()}, {segmentData.data(), segmentData.size()}});
    // Digests of volumes that do not exist hold one zero byte, as builders always wrote them.
    header.VolumeDigests.fill(std::string(1, '\0'));

    TPackageFiles written;
    written.ExeFileName = outputFileName;
    std::size_t position = 0;
    for (std::size_t i = 0; i < volumeSizes.size(); ++i) {
        const std::uint8_t* part = segmentData.data() + position;
        const auto size = static_cast<std::size_t>(volumeSizes[i]);
        header.VolumeSizes[i] = volumeSizes[i];
        header.VolumeDigests[i] = DigestOf({{part, size}});
        written.VolumeFileNames.push_back((VolumeBaseName(outputFileName) + std::to_string(i + 1)).Text());
        position += size;
    }

    CheckTargets(written, stubFileName, inputs);

    std::vector<std::uint8_t> exe = ReadWholeFile(stubFileName);
    // A signer pads a program image to a multiple of 8 bytes before the
    // certificate table it appends; in a single-file package those bytes would
    // follow the segments and be read as patch data. Zeros between the program
    // and the header make the file end on such a multiple by itself, and leave
    // the patch data as it is.
    const bool programImage = exe.size() >= 2 && exe[0] == 'M' && exe[1] == 'Z';
    if (volumeSizes.empty() && programImage) {
        const std::size_t end = exe.size() + kPatchHeaderSize + description.size() + segmentData.size();
        exe.resize(exe.size() + (8 - end % 8) % 8);
    }
    const std::size_t headerOffset = exe.size();
    const auto headerBytes = header.Serialize();
    exe.insert(exe.end(), headerBytes.begin(), headerBytes.end());
    exe.insert(exe.end(), description.begin(), description.end());
    // The wizard accepts only the package whose identity its own image
    // carries: written into this copy of the stub (the stub may serve other
    // packages), before a signer covers it. A stub without the slot (another
    // program) is appended to as it is.
    WriteImageSlot(exe.data(), headerOffset, PackageIdentity(exe.data() + headerOffset, exe.size() - headerOffset));
    // The reader takes the first signature it meets: one inside the stub (a stub
    // that is already a package), or one made of the stub's last bytes and the
    // header's first, would hide ours.
    if (FindPackageHeader(exe.data(), exe.size()) != static_cast<std::int64_t>(headerOffset))
        throw Exception("Programul de baza contine deja un pachet: " + stubFileName);
    if (volumeSizes.empty())
        exe.insert(exe.end(), segmentData.begin(), segmentData.end());
    UpdatePeChecksum(exe);

    // The old package stays whole until the new one is: every file is written
    // aside first and replaces its target at the end.
    std::vector<std::unique_ptr<TPendingFile>> pending;
    pending.push_back(std::make_unique<TPendingFile>(outputFileName));
    WriteWholeFile(pending.back()->Name(), exe.data(), exe.size());
    position = 0;
    for (std::size_t i = 0; i < volumeSizes.size(); ++i) {
        const auto size = static_cast<std::size_t>(volumeSizes[i]);
        pending.push_back(std::make_unique<TPendingFile>(written.VolumeFileNames[i]));
        WriteWholeFile(pending.back()->Name(), segmentData.data() + position, size);
        position += size;
    }
    for (auto& file : pending)
        file->Commit();
    if (files)
        *files = std::move(written);
    return header;
}

} // namespace upd::package
