// The image's load configuration. The linker points the image's load
// configuration directory at this symbol when it exists. One field matters:
// the flags for the DLLs that the image imports, which newer Windows honours
// (older Windows ignores the field): imports come from the system folder only,
// never from the folder that the program was started from.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstddef>

namespace {

constexpr WORD kSearchSystem32 = 0x0800; // LOAD_LIBRARY_SEARCH_SYSTEM32

#ifdef _WIN64
using TLoadConfig = IMAGE_LOAD_CONFIG_DIRECTORY64;
constexpr DWORD kLoadConfigSize = sizeof(TLoadConfig);
#else
using TLoadConfig = IMAGE_LOAD_CONFIG_DIRECTORY32;
// The 32-bit structure's first 64 bytes, the size every Windows reads (older
// ones insist on it); the flags lie inside them. Without the safe exception
// handler fields the image makes no claim about its handlers.
constexpr DWORD kLoadConfigSize = 64;
static_assert(offsetof(TLoadConfig, Reserved1) + sizeof(WORD) <= kLoadConfigSize);
#endif

constexpr TLoadConfig MakeLoadConfig()
{
    TLoadConfig config{};
    config.Size = kLoadConfigSize;
    config.Reserved1 = kSearchSystem32; // DependentLoadFlags in newer headers
    return config;
}

} // namespace

extern "C" {
// Found by name by the linker, and read by the loader before any code runs:
// constant-initialised.
extern const TLoadConfig _load_config_used;
__attribute__((used)) constinit const TLoadConfig _load_config_used = MakeLoadConfig();
}
