// MD5 throughput over a large file: this implementation against md5sum, in
// the same run, on the same (cached) file. Prints MB/s for both and the ratio.
//
//   md5_bench [SIZE_MB] [FILE]     (default 256 MB in the temporary folder)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "package/Md5Hash.h"

namespace {

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

std::string RunMd5sum(const std::string& file)
{
    std::string command = "md5sum '" + file + "'";
    FILE* pipe = popen(command.c_str(), "r");
    char line[256] = {};
    if (!pipe || !std::fgets(line, sizeof line, pipe)) {
        if (pipe)
            pclose(pipe);
        return {};
    }
    pclose(pipe);
    std::string digest(line, 32);
    for (auto& c : digest)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 256;
    const char* tmp = std::getenv("TMPDIR");
    std::string file = argc > 2 ? argv[2] : std::string(tmp && *tmp ? tmp : "/tmp") + "/upd-md5-bench.bin";
    bool made = argc <= 2;
    if (made) {
        FILE* out = std::fopen(file.c_str(), "wb");
        if (!out) {
            std::perror(file.c_str());
            return 1;
        }
        std::mt19937_64 random(42);
        std::vector<std::uint64_t> block(1 << 17);
        for (std::size_t written = 0; written < megabytes << 20; written += block.size() * 8) {
            for (auto& w : block)
                w = random();
            std::fwrite(block.data(), 8, block.size(), out);
        }
        std::fclose(out);
    }
    double mb = static_cast<double>(megabytes);

    // Best of three for each, alternating, with the file in the page cache.
    double ours = 1e9, theirs = 1e9;
    std::string a, b;
    RunMd5sum(file);
    for (int round = 0; round < 3; ++round) {
        auto t0 = std::chrono::steady_clock::now();
        a = upd::package::FileMD5Text(file);
        auto t1 = std::chrono::steady_clock::now();
        b = RunMd5sum(file);
        auto t2 = std::chrono::steady_clock::now();
        ours = std::min(ours, Seconds(t1 - t0));
        theirs = std::min(theirs, Seconds(t2 - t1));
    }
    if (made)
        std::remove(file.c_str());
    if (a != b) {
        std::fprintf(stderr, "digests differ: %s vs %s\n", a.c_str(), b.c_str());
        return 1;
    }
    std::printf("file            %.0f MB\n", mb);
    std::printf("FileMD5Text     %8.1f MB/s\n", mb / ours);
    std::printf("md5sum          %8.1f MB/s\n", mb / theirs);
    std::printf("ratio           %8.2f (ours / md5sum)\n", theirs / ours);
    return 0;
}
