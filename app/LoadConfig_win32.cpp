// The image's load configuration. The linker points the image's load
// configuration directory at this symbol when it exists. One field matters:
// the flags for the DLLs that the image imports, which newer Windows honours
// (older Windows ignores the field): imports come from the system folder only,
// never from the folder that the program was started from.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

namespace {

constexpr WORD kSearchSystem32 = 0x0800; // LOAD_LIBRARY_SEARCH_SYSTEM32

constexpr IMAGE_LOAD_CONFIG_DIRECTORY64 MakeLoadConfig()
{
    IMAGE_LOAD_CONFIG_DIRECTORY64 config{};
    config.Size = sizeof(config);
    config.Reserved1 = kSearchSystem32; // DependentLoadFlags in newer headers
    return config;
}

} // namespace

extern "C" {
// Found by name by the linker, and read by the loader before any code runs:
// constant-initialised.
extern const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used;
__attribute__((used)) constinit const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = MakeLoadConfig();
}
