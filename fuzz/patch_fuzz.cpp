// Loading and applying a patch from hostile bytes. The first byte picks the
// layer under attack: 0 feeds the rest as a compressed patch file, anything
// else as an already inflated patch image (so that the mutations reach the
// bit section directly). Every failure must be a clean upd::Exception.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/Exception.h"
#include "patch/PatchIo.h"
#include "patch/UnPatchEngine.h"

namespace {

// Inflated images beyond this would only measure the allocator.
constexpr std::size_t kMaxImage = 1 << 20;

const std::vector<std::uint8_t>& OldFile()
{
    static const std::vector<std::uint8_t> old = [] {
        std::vector<std::uint8_t> bytes(4096);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        return bytes;
    }();
    return old;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    try {
        std::vector<std::uint8_t> image;
        if (data[0] == 0) {
            image = upd::patch::InflateBytes(data + 1, size - 1, kMaxImage);
        } else {
            image.assign(data + 1, data + size);
        }
        // The output is collected in memory: a new file of at most 1 MiB.
        upd::patch::TQvtUnPatchLimits limits;
        limits.MaxOutput = 1 << 20;
        upd::patch::TQvtUnPatchEngine engine;
        engine.LoadFromImage(std::move(image), "fuzz.patch", limits);
        int versions = engine.VersionCount() < 4 ? engine.VersionCount() : 4;
        for (int v = -1; v <= versions; ++v) {
            try {
                upd::patch::TQvtMemorySource source(OldFile());
                upd::patch::TQvtMemoryOutput output;
                engine.Apply(output, source, v);
            } catch (const upd::Exception&) {
            }
        }
        std::vector<std::string> lines;
        for (int i = 0; i < engine.Count() && i < 64; ++i)
            engine.Instructions(i).ListTo(lines);
    } catch (const upd::Exception&) {
    }
    return 0;
}
