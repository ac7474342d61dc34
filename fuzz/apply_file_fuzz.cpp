// The one-go rebuild of a patch file against the three steps it stands for:
// loading, checking the version index and applying. Both must give the same
// message, or the same bytes, for any file: the fast inflater and its zlib
// fallback, the instructions kept between the passes and the codes decoded
// again all sit on this path. The first byte picks the input's form: 0 takes
// the rest as the patch file, anything else as a patch image that is
// compressed first (so that the mutations reach the bit section), with the
// byte's low bits as the version index.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "patch/PatchIo.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"

namespace {

const std::string& Scratch(const char* name)
{
    static const std::string folder = "/tmp/upd_apply_file_fuzz_" + std::to_string(::getpid());
    static std::string paths[2] = {folder + "_patch", folder + "_old"};
    return paths[name[0] == 'o'];
}

const std::string& OldFile()
{
    static const std::string& path = [] () -> const std::string& {
        std::vector<std::uint8_t> bytes(4096);
        for (std::size_t i = 0; i < bytes.size(); ++i)
            bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
        upd::WriteWholeFile(Scratch("old"), bytes.data(), bytes.size());
        return Scratch("old");
    }();
    return path;
}

template <class F>
std::string Outcome(F&& run)
{
    try {
        run();
        return "";
    } catch (const upd::Exception& e) {
        return e.Message();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    std::vector<std::uint8_t> file(data + 1, data + size);
    if (data[0] != 0)
        file = upd::patch::CompressPatchImage(file);
    const int version = data[0] == 0 ? 0 : (data[0] & 3) - 1;
    upd::WriteWholeFile(Scratch("patch"), file.data(), file.size());
    upd::patch::TQvtUnPatchLimits limits;
    limits.MaxOutput = 1 << 20; // the new file: at most 1 MiB, kept in memory

    upd::patch::TQvtMemoryOutput expected;
    const std::string expectedError = Outcome([&] {
        upd::patch::TQvtUnPatchEngine engine;
        engine.LoadFromFile(Scratch("patch"), limits);
        engine.CheckVersionIndex(version);
        upd::TFile old(OldFile(), upd::TFileMode::ReadShared);
        upd::patch::TQvtFileSource source(old);
        engine.Apply(expected, source, version);
    });
    upd::patch::TQvtMemoryOutput got;
    const std::string error = Outcome([&] {
        upd::TFile old(OldFile(), upd::TFileMode::ReadShared);
        upd::patch::TQvtFileSource source(old);
        upd::patch::TQvtUnPatchEngine::ApplyFile(Scratch("patch"), source, version, got, limits);
    });
    // A run outside the old file is found while writing, by both alike: the
    // bytes written before it must agree too.
    if (error != expectedError || got.Data != expected.Data) {
        std::fprintf(stderr, "one-go rebuild differs: \"%s\" against \"%s\"\n", error.c_str(),
                     expectedError.c_str());
        std::abort();
    }
    return 0;
}
