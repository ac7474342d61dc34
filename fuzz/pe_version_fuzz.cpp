// The portable version-resource reader against arbitrary bytes: whatever the
// file holds, the reader answers or declines without reading out of bounds.
#include <cstddef>
#include <cstdint>

#include "version/PeVersionResource.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    auto block = upd::version::FindVersionResource(data, size);
    if (block) {
        upd::version::TVersionBlock query(std::move(*block));
        std::uint16_t language = 0, codePage = 0;
        query.Translation(language, codePage);
        query.StringValue("041804e2", "FileVersion");
        query.StringValue("040904b0", "CompanyName");
    }
    // The block parser on its own, fed the raw bytes as a version block.
    upd::version::TVersionBlock raw(std::vector<std::uint8_t>(data, data + size));
    std::uint16_t language = 0, codePage = 0;
    raw.Translation(language, codePage);
    raw.StringValue("041804E2", "FileVersion");
    return 0;
}
