// Version texts on arbitrary bytes: the parser, the validity test and the
// comparison (which raises for an invalid text and must order valid ones).
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Exception.h"
#include "version/VersionText.h"

using namespace upd::version;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Two texts, split at the first NUL byte.
    const std::string_view all(reinterpret_cast<const char*>(data), size);
    const std::size_t split = all.find('\0');
    const std::string_view a = all.substr(0, split);
    const std::string_view b = split == std::string_view::npos ? std::string_view() : all.substr(split + 1);
    TVersionNumber number{};
    if (ParseVersion(a, number) != IsVersionText(a))
        std::abort();
    try {
        CompareVersions(a, b);
        if (!IsVersionText(a) || !IsVersionText(b) || CompareVersions(a, a) != 0)
            std::abort();
    } catch (const upd::Exception&) {
        if (IsVersionText(a) && IsVersionText(b))
            std::abort();
    }
    return 0;
}
