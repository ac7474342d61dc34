// Locating and reading a package in hostile executable bytes. The input follows
// a package signature, so every run reaches the header and description code.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "package/PatchDataEngine.h"
#include "package/TaggedValues.h"

using namespace upd::package;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const TPackageSignature signature = GeneratePackageSignature();
    std::vector<std::uint8_t> exe(signature.begin(), signature.end());
    exe.insert(exe.end(), data, data + size);
    std::vector<std::uint8_t> package;
    try {
        const std::int32_t offset = LocatePackage(exe.data(), exe.size(), package);
        if (offset != 0 || package.size() < kPatchHeaderSize || package.size() > exe.size())
            std::abort();
        const TPatchHeader header = TPatchHeader::Parse(package.data());
        // Texts are UTF-8 in memory: the capacities count letters.
        if (upd::Utf8Letters(header.Title) > kTitleCapacity || upd::Utf8Letters(header.PackageDigest) > kDigestCapacity)
            std::abort();
        if (header.Serialize().size() != kPatchHeaderSize)
            std::abort();
        TTaggedValueReader reader(package.data() + kPatchHeaderSize, package.size() - kPatchHeaderSize);
        TUpdate update;
        update.ReadFrom(reader);
    } catch (const upd::Exception&) {
    }
    return 0;
}
