// Gathering the patch data: real packages written by the package writer,
// volume answers scripted by the test.
#include <gtest/gtest.h>

#include <functional>
#include <set>

#include "TestPaths.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"
#include "package/PatchDataEngine.h"
#include "package/PackageTestFiles.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "version/FileOps.h"
#include "wizard/ArchiveStage.h"

namespace upd::wizard {
namespace {

using test::TTempDir;

struct TRequest {
    std::string FileName, Message, Path;
    std::int32_t Volume, Attempt;
};

class THost : public TArchiveStageHost {
public:
    void Progress(std::int64_t done, std::int64_t total) override
    {
        Reports.emplace_back(done, total);
        if (OnProgress)
            OnProgress(done);
    }
    void RequestVolume(const TPath& fileName, const std::string& message, TPath& path, std::int32_t volumeNumber,
                       std::int32_t attempt) override
    {
        Requests.push_back({fileName.Text(), message, path.Text(), volumeNumber, attempt});
        path = Answer(Requests.back());
    }
    std::function<std::string(const TRequest&)> Answer;
    std::function<void(std::int64_t)> OnProgress;
    std::vector<std::pair<std::int64_t, std::int64_t>> Reports;
    std::vector<TRequest> Requests;
    // Without files: the stage's records live in memory only.
    TUpdateLog Log;
    TUpdateJournal Journal;
    TRunRecords Records{Log, Journal};
};

class TArchiveStageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedTemp = version::TempFolder();
        version::SetTempFolder(m_temp.Path());
        m_stub = m_dir.Write("stub.exe", std::string(4096, 'M'));
        m_update.Title = "Titlu";
        m_update.TagFileName = "tag.txt";
        for (int i = 0; i < 5000; ++i)
            m_segments.push_back(static_cast<std::uint8_t>(i * 7 + i / 13));
    }
    void TearDown() override { version::SetTempFolder(m_savedTemp); }

    // Writes the package and opens it as the wizard would. `othersMayWrite`:
    // held letting others write, so that a test can change the file under
    // the engine (the wizard's own file refuses them; POSIX does not).
    std::unique_ptr<package::TPatchDataEngine> Write(const std::vector<std::int32_t>& volumes,
                                                     bool othersMayWrite = false)
    {
        m_exe = m_dir.File("setup.exe");
        package::WritePackage(m_stub, m_exe, m_update, m_segments, volumes, &m_files);
        if (othersMayWrite)
            return std::make_unique<package::TPatchDataEngine>(std::make_shared<TFile>(m_exe, TFileMode::ReadShared),
                                                               std::nullopt);
        return std::make_unique<package::TPatchDataEngine>(m_exe);
    }

    // What the PatchTotal file must hold: the description, then the segments.
    std::vector<std::uint8_t> Expected(const package::TPatchDataEngine& engine) const
    {
        auto exe = ReadWholeFile(m_exe);
        auto begin = exe.begin() + engine.HeaderOffset + package::kPatchHeaderSize;
        std::vector<std::uint8_t> bytes(begin, exe.begin() + engine.HeaderOffset + engine.Header.PackageSize);
        bytes.insert(bytes.end(), m_segments.begin(), m_segments.end());
        return bytes;
    }

    TTempDir m_dir, m_temp;
    std::string m_stub, m_exe;
    TPath m_savedTemp;
    package::TUpdate m_update;
    std::vector<std::uint8_t> m_segments;
    package::TPackageFiles m_files;
};

TEST_F(TArchiveStageTest, SingleFilePackageCopiesEverythingAfterTheHeader)
{
    auto engine = Write({});
    THost host;
    RunArchiveStage(*engine, host, host.Records);
    EXPECT_EQ(engine->PatchTotalFileName, m_temp.Path() + test::kSeparator + "PatchTotal_1.bin");
    EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));
    EXPECT_EQ(host.Journal.TempFiles, std::vector<std::string>{engine->PatchTotalFileName.Text()});
    // No volume, no progress: the bar stays where the stage began.
    EXPECT_TRUE(host.Requests.empty());
    EXPECT_TRUE(host.Reports.empty());
    TPath total = engine->PatchTotalFileName;
    engine.reset();
    EXPECT_FALSE(FileExists(total)) << "the engine removes the PatchTotal file";
}

// The data comes through the file the engine holds: a package of other
// segments put under the program's name meanwhile is never read. (On
// Windows the held file refuses the rename itself.)
TEST_F(TArchiveStageTest, DataComesThroughTheHeldFileNotTheName)
{
    for (bool split : {false, true}) {
        SCOPED_TRACE(split);
        auto engine = Write(split ? std::vector<std::int32_t>{2500, 2500} : std::vector<std::int32_t>{});
        const std::string original = m_exe;
        const std::vector<std::uint8_t> expected = Expected(*engine);
        std::vector<std::uint8_t> saved = m_segments;
        for (auto& b : m_segments)
            b ^= 0x55;
        m_update.Title += "x";
        const std::string other = m_dir.File("other.exe");
        package::WritePackage(m_stub, other, m_update, m_segments, {});
        m_segments = saved;
        m_update.Title.pop_back();
        bool renamed = true;
        try {
            RenameFileOver(original, m_dir.File("moved.exe"));
            RenameFileOver(other, original);
        } catch (const EOSError&) {
            renamed = false;
        }
#ifdef _WIN32
        EXPECT_FALSE(renamed);
#else
        EXPECT_TRUE(renamed);
#endif
        THost host;
        host.Answer = [&](const TRequest& r) { return m_files.VolumeFileNames[static_cast<std::size_t>(r.Volume - 1)]; };
        RunArchiveStage(*engine, host, host.Records);
        EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), expected);
    }
}

TEST_F(TArchiveStageTest, DamagedExecutableFailsOnTheDigest)
{
    auto engine = Write({}, true);
    auto exe = ReadWholeFile(m_exe);
    exe.back() ^= 1;
    WriteWholeFile(m_exe, exe.data(), exe.size());
    THost host;
    try {
        RunArchiveStage(*engine, host, host.Records);
        FAIL() << "no error";
    } catch (const Exception& e) {
        EXPECT_STREQ(e.what(), "Fisierul EXE este corupt - nu corespunde semnatura. Nu pot continua.");
    }
}

// A program signed after its package was appended: the certificate table
// stays out of the patch data, and damage done after signing is still found.
TEST_F(TArchiveStageTest, SignedSingleFilePackageStopsAtTheCertificateTable)
{
    const auto pe = package::testing::PeStubBytes(4099);
    m_stub = m_dir.Write("stub.exe", std::string(pe.begin(), pe.end()));
    for (bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged after signing" : "signed");
        m_exe = m_dir.File("signed.exe");
        package::WritePackage(m_stub, m_exe, m_update, m_segments, {});
        auto exe = ReadWholeFile(m_exe);
        const std::int64_t unsignedSize = static_cast<std::int64_t>(exe.size());
        package::testing::AppendCertificateTable(exe, 1500);
        if (damaged)
            exe[static_cast<std::size_t>(unsignedSize) - 100] ^= 1;
        WriteWholeFile(m_exe, exe.data(), exe.size());
        auto engine = std::make_unique<package::TPatchDataEngine>(m_exe);
        EXPECT_EQ(engine->DataEnd, unsignedSize) << "the writer leaves no room for a signer's padding";
        THost host;
        if (damaged) {
            EXPECT_THROW(
                {
                    try {
                        RunArchiveStage(*engine, host, host.Records);
                    } catch (const Exception& e) {
                        EXPECT_STREQ(e.what(), kCorruptExeMessage);
                        throw;
                    }
                },
                Exception);
        } else {
            RunArchiveStage(*engine, host, host.Records);
            EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));
        }
    }
}

// Packages from builders that do not pad, signed afterwards: the signer puts
// up to 7 zeros before its table. Whatever the package's length modulo 8, and
// also when its own last bytes are zeros, the patch data is the package's to
// the byte; damage after signing is still refused.
TEST_F(TArchiveStageTest, SignersZerosNeverReachThePatchData)
{
    const auto pe = package::testing::PeStubBytes(4099);
    m_stub = m_dir.Write("stub.exe", std::string(pe.begin(), pe.end()));
    const std::vector<std::uint8_t> base = m_segments;
    std::set<std::size_t> residues;
    for (bool endsInZeros : {false, true}) {
        for (std::size_t extra = 0; extra < 8; ++extra) {
            for (bool damaged : {false, true}) {
                SCOPED_TRACE(::testing::Message() << "extra " << extra << (endsInZeros ? ", ends in zeros" : "")
                                                << (damaged ? ", damaged" : ""));
                m_segments = base;
                m_segments.insert(m_segments.end(), extra, 0x5A);
                if (endsInZeros)
                    std::fill(m_segments.end() - 3, m_segments.end(), 0);
                m_exe = m_dir.File("signed.exe");
                package::WritePackage(m_stub, m_exe, m_update, m_segments, {});
                auto written = ReadWholeFile(m_exe);
                const auto headerOffset = package::TPatchDataEngine(m_exe).HeaderOffset;
                // As another builder writes it: the package right after the program.
                std::vector<std::uint8_t> exe(pe);
                exe.insert(exe.end(), written.begin() + headerOffset, written.end());
                residues.insert(exe.size() % 8);
                const std::size_t lastByte = exe.size() - 1;
                package::testing::AppendCertificateTable(exe, 1500);
                if (damaged)
                    exe[lastByte] ^= 1;
                WriteWholeFile(m_exe, exe.data(), exe.size());

                auto engine = std::make_unique<package::TPatchDataEngine>(m_exe);
                THost host;
                if (damaged) {
                    EXPECT_THROW(RunArchiveStage(*engine, host, host.Records), Exception);
                    continue;
                }
                RunArchiveStage(*engine, host, host.Records);
                EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));
            }
        }
    }
    EXPECT_EQ(residues.size(), 8u) << "every length modulo 8";
}

// A volume is checked and copied through one handle: another file put
// under its name while it is copied is never read. (On Windows the held
// volume refuses the rename itself.)
TEST_F(TArchiveStageTest, VolumeReplacedDuringItsCopyIsNotRead)
{
    auto engine = Write({3000, 2000});
    const std::vector<std::uint8_t> expected = Expected(*engine);
    const std::int64_t description = engine->Header.PackageSize - 1253;
    THost host;
    host.Answer = [&](const TRequest& r) { return m_files.VolumeFileNames[static_cast<std::size_t>(r.Volume - 1)]; };
    int tries = 0;
    bool renamed = false;
    host.OnProgress = [&](std::int64_t done) {
        if (done <= description || tries++ > 0)
            return;
        const std::string other = m_dir.Write("other.1", std::string(3000, 'x'));
        try {
            RenameFileOver(other, m_files.VolumeFileNames[0]);
            renamed = true;
        } catch (const EOSError&) {
        }
    };
    RunArchiveStage(*engine, host, host.Records);
    ASSERT_GE(tries, 1) << "the copy of the volume was never reported";
    EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), expected);
#ifdef _WIN32
    EXPECT_FALSE(renamed);
#else
    EXPECT_TRUE(renamed);
#endif
}

TEST_F(TArchiveStageTest, VolumesAreCopiedInTurnWithProgress)
{
    auto engine = Write({3000, 2000});
    ASSERT_EQ(m_files.VolumeFileNames.size(), 2u);
    THost host;
    host.Answer = [&](const TRequest& r) { return m_files.VolumeFileNames[static_cast<std::size_t>(r.Volume - 1)]; };
    RunArchiveStage(*engine, host, host.Records);
    EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));

    ASSERT_EQ(host.Requests.size(), 2u);
    EXPECT_EQ(host.Requests[0].FileName, "setup.1");
    EXPECT_EQ(host.Requests[0].Message, "Programul de actualizare are nevoie de urmatorul fisier");
    EXPECT_EQ(host.Requests[0].Path, "");
    EXPECT_EQ(host.Requests[0].Attempt, 0);
    // The next request starts from the answer to the last one.
    EXPECT_EQ(host.Requests[1].FileName, "setup.2");
    EXPECT_EQ(host.Requests[1].Path, m_files.VolumeFileNames[0]);
    EXPECT_EQ(host.Requests[1].Volume, 2);

    // Blocks of 1024 bytes; the bar ends at its end: the header that stays
    // in the executable is not counted.
    const std::int64_t total = engine->Header.PackageSize - 1253 + 5000;
    ASSERT_FALSE(host.Reports.empty());
    EXPECT_EQ(host.Reports.back(), std::make_pair(total, total));
    for (std::size_t i = 1; i < host.Reports.size(); ++i) {
        std::int64_t step = host.Reports[i].first - host.Reports[i - 1].first;
        EXPECT_GT(step, 0);
        EXPECT_LE(step, 1024);
    }
}

TEST_F(TArchiveStageTest, RejectedAnswersAreAskedAgainWithTheirReason)
{
    auto engine = Write({5000});
    std::string stranger = m_dir.Write("strain.1", "altceva");
    std::string missing = m_dir.File("lipsa.1");
    std::vector<std::string> answers = {"", missing, stranger, m_files.VolumeFileNames[0]};
    THost host;
    host.Answer = [&](const TRequest& r) { return answers[static_cast<std::size_t>(r.Attempt)]; };
    RunArchiveStage(*engine, host, host.Records);
    ASSERT_EQ(host.Requests.size(), 4u);
    const char* wrong = " nu este cel cautat. Este posibil sa fi aparut o eroare in timpul copierii de pe internet "
                        "sau este posibil sa fi indicat un fisier care nu este parte din aceasta actualizare";
    std::vector<std::string> reasons = {"Programul de actualizare are nevoie de urmatorul fisier",
                                        "Fisierul \"\" nu exista", "Fisierul \"" + missing + "\" nu exista",
                                        std::string("Fisierul strain.1") + wrong};
    for (std::size_t i = 0; i < reasons.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(host.Requests[i].Message, reasons[i]);
        EXPECT_EQ(host.Requests[i].Attempt, static_cast<std::int32_t>(i));
    }
    EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));
}

TEST_F(TArchiveStageTest, VolumeLengthAgainstItsDeclaredSize)
{
    struct Row {
        const char* name;
        std::size_t keep;     // bytes of the volume kept (its declared size is 5000)
        std::string extra;    // bytes appended
        const char* message;  // expected error, or nullptr
    };
    Row rows[] = {
        {"longer: only the declared bytes count", 5000, "coada", nullptr},
        {"short in the first block", 700, "", "Date insuficiente in stream"},
        {"short in a later block", 3000, "", "Data insuficiente in stream"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        auto engine = Write({5000});
        const std::string& volume = m_files.VolumeFileNames[0];
        auto bytes = ReadWholeFile(volume);
        bytes.resize(row.keep);
        bytes.insert(bytes.end(), row.extra.begin(), row.extra.end());
        WriteWholeFile(volume, bytes.data(), bytes.size());
        // The header names the whole file's digest.
        engine->Header.VolumeDigests[0] = package::FileMD5Text(volume);
        THost host;
        host.Answer = [&](const TRequest&) { return volume; };
        if (!row.message) {
            RunArchiveStage(*engine, host, host.Records);
            EXPECT_EQ(ReadWholeFile(engine->PatchTotalFileName), Expected(*engine));
            continue;
        }
        try {
            RunArchiveStage(*engine, host, host.Records);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), row.message);
        }
    }
}

TEST_F(TArchiveStageTest, DamagedDescriptionIsFoundOnlyAfterEveryVolume)
{
    auto engine = Write({2500, 2500}, true);
    // The copy in memory is what the stage checks against; the file's
    // description bytes are what it copies.
    auto exe = ReadWholeFile(m_exe);
    exe[static_cast<std::size_t>(engine->HeaderOffset) + package::kPatchHeaderSize + 3] ^= 0x40;
    WriteWholeFile(m_exe, exe.data(), exe.size());
    THost host;
    host.Answer = [&](const TRequest& r) { return m_files.VolumeFileNames[static_cast<std::size_t>(r.Volume - 1)]; };
    EXPECT_THROW(RunArchiveStage(*engine, host, host.Records), Exception);
    EXPECT_EQ(host.Requests.size(), 2u);
}

TEST_F(TArchiveStageTest, ClosingDuringARequestEndsTheStage)
{
    auto engine = Write({5000});
    THost host;
    host.Answer = [](const TRequest&) -> std::string { throw TStageAbandoned{}; };
    EXPECT_THROW(RunArchiveStage(*engine, host, host.Records), TStageAbandoned);
}

TEST(TRejectedVolumeTextTest, DisketteLooksAtTheFirstLetterOnly)
{
    const std::string head = "Fisierul setup.1 nu este cel cautat. Este posibil sa fi aparut o eroare in timpul "
                             "copierii de pe internet sau este posibil sa ";
    EXPECT_EQ(RejectedVolumeText("a:\\setup.1", true), head + "fie defecta discheta");
    EXPECT_EQ(RejectedVolumeText("B:\\k\\setup.1", true), head + "fie defecta discheta");
    EXPECT_EQ(RejectedVolumeText("Bani\\setup.1", true), head + "fie defecta discheta");
    EXPECT_EQ(RejectedVolumeText("C:\\k\\setup.1", true),
              head + "fi indicat un fisier care nu este parte din aceasta actualizare");
    EXPECT_EQ(RejectedVolumeText("C:\\k\\setup.1", false), "Fisierul \"C:\\k\\setup.1\" nu exista");
}

} // namespace
} // namespace upd::wizard
