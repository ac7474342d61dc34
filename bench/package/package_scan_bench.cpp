// The package header scan over a large executable: FindPackageHeader against
// glibc's memmem of the same signature, on the same mapped (cached) file, in
// the same run; also the whole engine construction and, for scale, the plain
// 40-byte compare at every offset. Prints the best of several runs.
//
//   package_scan_bench [SIZE_MB] [RUNS]     (default 200 MB, 7 runs)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "base/File.h"
#include "package/MemMappedFile.h"
#include "package/PackageWriter.h"
#include "package/PatchDataEngine.h"

using namespace upd::package;

namespace {

double Best(int runs, const std::function<std::int64_t()>& scan, std::int64_t expected)
{
    double best = 1e30;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const std::int64_t found = scan();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (found != expected) {
            std::fprintf(stderr, "wrong offset %lld, expected %lld\n", static_cast<long long>(found),
                         static_cast<long long>(expected));
            std::exit(1);
        }
        best = std::min(best, seconds);
    }
    return best;
}

/// Program-like bytes: zero padding, small integers and opcode-like runs, and a
/// stretch of compressed-looking data, repeated.
void FillLikeAProgram(std::vector<std::uint8_t>& bytes)
{
    std::mt19937 random(5);
    for (std::size_t i = 0; i < bytes.size(); i += 4096) {
        const std::size_t end = std::min(bytes.size(), i + 4096);
        switch ((i / 4096) % 4) {
        case 0: std::fill(bytes.begin() + i, bytes.begin() + end, 0); break;
        case 1:
            for (std::size_t k = i; k < end; ++k)
                bytes[k] = static_cast<std::uint8_t>(random() % 16 == 0 ? random() : random() % 8);
            break;
        default:
            for (std::size_t k = i; k < end; ++k)
                bytes[k] = static_cast<std::uint8_t>(random());
        }
    }
}

} // namespace

int main(int argc, char** argv)
{
    const std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 200;
    const int runs = argc > 2 ? std::atoi(argv[2]) : 7;
    const char* tmp = std::getenv("TMPDIR");
    const std::string folder = tmp && *tmp ? tmp : "/tmp";
    const std::string stubName = folder + "/upd-scan-bench-stub.bin";
    const std::string exeName = folder + "/upd-scan-bench.exe";

    std::vector<std::uint8_t> stub(megabytes << 20);
    FillLikeAProgram(stub);
    upd::WriteWholeFile(stubName, stub.data(), stub.size());
    stub.clear();
    stub.shrink_to_fit();
    TUpdate update;
    update.Title = "Bun g@asit";
    WritePackage(stubName, exeName, update, {}, {});
    upd::DeleteFileNamed(stubName);

    const std::int64_t expected = static_cast<std::int64_t>(megabytes << 20);
    const TPackageSignature signature = GeneratePackageSignature();
    double scan = 0, plain = 0, naive = 0;
    {
        const TMemMappedFile file(exeName, true, true);
        const std::uint8_t* data = file.Data();
        const std::size_t size = file.Size();
        const std::size_t room = size - kPatchHeaderSize - 1 + signature.size();
        Best(1, [&] { return FindPackageHeader(data, size); }, expected); // warm the page cache
        scan = Best(runs, [&] { return FindPackageHeader(data, size); }, expected);
        plain = Best(runs, [&] {
            const void* hit = memmem(data, room, signature.data(), signature.size());
            return hit ? static_cast<const std::uint8_t*>(hit) - data : -1;
        }, expected);
        naive = Best(1, [&] {
            for (std::size_t i = 0; i + kPatchHeaderSize < size; ++i) {
                if (std::memcmp(data + i, signature.data(), signature.size()) == 0)
                    return static_cast<std::int64_t>(i);
            }
            return std::int64_t{-1};
        }, expected);
    }
    const double engine = Best(runs, [&] { return std::int64_t{TPatchDataEngine(exeName).HeaderOffset}; }, expected);
    upd::DeleteFileNamed(exeName);

    const double mb = static_cast<double>(megabytes);
    std::printf("file: %zu MB, header at the end, best of %d runs\n", megabytes, runs);
    std::printf("FindPackageHeader   %8.1f ms  %8.0f MB/s\n", scan * 1e3, mb / scan);
    std::printf("memmem (glibc)      %8.1f ms  %8.0f MB/s\n", plain * 1e3, mb / plain);
    std::printf("compare every byte  %8.1f ms  %8.0f MB/s (one run)\n", naive * 1e3, mb / naive);
    std::printf("engine construction %8.1f ms  (map, scan, copy and read the description)\n", engine * 1e3);
    std::printf("ratio scan / memmem: %.2f\n", scan / plain);
    return 0;
}
