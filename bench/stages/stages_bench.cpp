// The archive reading and update stages over a large file, against the
// shell doing the same file work, in the same run.
//
//   stages_bench [SIZE_MB]     (default 64)
//
// The package (one patch, split over three volumes) is built first. Each
// stage then runs in a child process of its own, so that its peak memory is
// its own and not the patch builder's:
//   archive: the volumes copied into PatchTotal in 1 KB blocks with progress,
//            then its digest; baseline `cat` of the same bytes and `md5sum`.
//   update:  per file: segment copy and digest, rebuild from the old file,
//            digest, two copies beside the targets and the renames; baseline
//            per file `cp` of the new file three times and `md5sum` twice.
// Two files: one mostly copied from its old version, one replaced whole.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "package/UpdateBuilder.h"
#include "version/FileOps.h"
#include "wizard/ArchiveStage.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/UpdateStage.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

long PeakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

double TimeShell(const std::string& command)
{
    auto start = Clock::now();
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "failed: %s\n", command.c_str());
    return Seconds(Clock::now() - start);
}

class TVolumes : public upd::wizard::TArchiveStageHost {
public:
    explicit TVolumes(std::string folder) : m_folder(std::move(folder)) {}
    void Progress(std::int64_t, std::int64_t) override { ++Reports; }
    void RequestVolume(const upd::TPath& fileName, const std::string&, upd::TPath& path, std::int32_t,
                       std::int32_t attempt) override
    {
        if (attempt > 0)
            throw upd::Exception("volume refused");
        path = m_folder + "/" + fileName;
    }
    long Reports = 0;

private:
    std::string m_folder;
};

class TQuiet : public upd::wizard::TUpdateStageHost {
public:
    void Progress(std::int32_t, std::int32_t) override {}
    void Status(const std::string&) override {}
    bool AskRetry(const std::string&) override { return false; }
};

// Runs both stages on the built package in `dir`; prints one line per stage.
int RunStages(const std::string& dir)
{
    upd::version::SetTempFolder(dir + "/temp");
    upd::package::TPatchDataEngine engine(dir + "/setup.exe");
    TVolumes volumes(dir);
    upd::wizard::TUpdateLog log;
    upd::wizard::TUpdateJournal journal;
    const upd::wizard::TRunRecords records{log, journal};
    auto start = Clock::now();
    upd::wizard::RunArchiveStage(engine, volumes, records);
    double archive = Seconds(Clock::now() - start);
    long archiveKb = PeakKilobytes();

    for (int i = 0; i < engine.Update->PatchSets.Count(); ++i) {
        auto& set = engine.Update->PatchSets.Items(i);
        set.SourceFileName = set.TargetFileName;
        set.SourceIndex = 0;
    }
    TQuiet quiet;
    start = Clock::now();
    upd::wizard::TUpdateStageOptions options;
    options.TagFolder = dir + "/tag";
    upd::wizard::RunUpdateStage(engine, quiet, records, options);
    double update = Seconds(Clock::now() - start);
    std::printf("archive %.3f s, %ld progress reports, peak %ld KB\n", archive, volumes.Reports, archiveKb);
    std::printf("update %.3f s, peak %ld KB\n", update, PeakKilobytes());
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--stages")
        return RunStages(argv[2]);
    std::size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = std::string(tmp && *tmp ? tmp : "/tmp") + "/upd-stages-bench";
    fs::remove_all(dir);
    fs::create_directories(dir + "/temp");
    fs::create_directories(dir + "/install");

    // An old file of random bytes; the new one moves, changes and inserts blocks.
    std::mt19937_64 random(7);
    std::vector<std::uint8_t> old(megabytes << 20);
    for (auto& b : old)
        b = static_cast<std::uint8_t>(random());
    std::vector<std::uint8_t> fresh;
    for (std::size_t at = 0; at < old.size(); at += 1 << 20) {
        fresh.insert(fresh.end(), old.begin() + static_cast<std::ptrdiff_t>(at),
                     old.begin() + static_cast<std::ptrdiff_t>(std::min(old.size(), at + (1 << 20))));
        for (int i = 0; i < 4096; ++i)
            fresh.push_back(static_cast<std::uint8_t>(random()));
        fresh[fresh.size() - 10000] ^= 0xFF;
    }
    std::string stub(4096, 'M');
    upd::WriteWholeFile(dir + "/stub.exe", stub.data(), stub.size());
    upd::WriteWholeFile(dir + "/old.bin", old.data(), old.size());
    upd::WriteWholeFile(dir + "/new.bin", fresh.data(), fresh.size());
    upd::WriteWholeFile(dir + "/install/data.bin", old.data(), old.size());
    // A file replaced whole: its patch is all literal bytes, so the volumes are large.
    std::vector<std::uint8_t> blob(old.size() / 4);
    for (auto& b : blob)
        b = static_cast<std::uint8_t>(random());
    upd::WriteWholeFile(dir + "/blob-old.bin", stub.data(), 1024);
    upd::WriteWholeFile(dir + "/install/blob.bin", stub.data(), 1024);
    upd::WriteWholeFile(dir + "/blob-new.bin", blob.data(), blob.size());
    upd::package::TBuildManifest manifest;
    manifest.Stub = dir + "/stub.exe";
    manifest.Title = "Bench";
    manifest.TagFileName = "tag.txt";
    manifest.Patches.push_back({dir + "/install/data.bin", {dir + "/old.bin"}, dir + "/new.bin", false});
    manifest.Patches.push_back({dir + "/install/blob.bin", {dir + "/blob-old.bin"}, dir + "/blob-new.bin", false});
    auto start = Clock::now();
    upd::package::TPackageFiles files;
    upd::package::BuildPackage(manifest, dir + "/setup.exe", 3, 0, &files);
    std::printf("package built in %.1f s: %zu MB old, %zu MB new, volumes of %lld bytes in all\n",
                Seconds(Clock::now() - start), old.size() >> 20, fresh.size() >> 20,
                static_cast<long long>(fs::file_size(files.VolumeFileNames[0]) * 3));
    std::fflush(stdout);

    std::system(("'" + std::string(argv[0]) + "' --stages '" + dir + "'").c_str());
    double cat = TimeShell("cd '" + dir + "' && cat setup.1 setup.2 setup.3 > temp/cat.bin && md5sum temp/cat.bin "
                           ">/dev/null");
    double cp = 0;
    for (const char* name : {"new.bin", "blob-new.bin"}) {
        std::string n = name;
        cp += TimeShell("cd '" + dir + "' && cp " + n + " temp/a && md5sum temp/a >/dev/null && cp " + n +
                        " temp/b && cp " + n + " temp/c && md5sum temp/c >/dev/null");
    }
    std::printf("baseline archive (cat + md5sum) %.3f s\nbaseline update (3 x cp + 2 x md5sum) %.3f s\n", cat, cp);
    fs::remove_all(dir);
    return 0;
}
