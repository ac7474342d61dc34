// The update stage over real packages: patches made by the builder from
// old and new file versions, an installation in a temporary folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestPaths.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "package/UpdateBuilder.h"
#include "version/FileOps.h"
#include "wizard/ArchiveStage.h"
#include "wizard/UpdateFiles.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"
#include "wizard/StageControl.h"
#include "wizard/UpdateStage.h"

namespace upd::wizard {
namespace {

using test::TTempDir;

class TNoVolumes : public TArchiveStageHost {
public:
    void Progress(std::int64_t, std::int64_t) override {}
    void RequestVolume(const TPath&, const std::string&, TPath&, std::int32_t, std::int32_t) override
    {
        throw TStageAbandoned{};
    }
};

class THost : public TUpdateStageHost {
public:
    void Progress(std::int32_t done, std::int32_t total) override { Reports.emplace_back(done, total); }
    void Status(const std::string& text) override { Statuses.push_back(text); }
    bool AskRetry(const std::string& message) override
    {
        Questions.push_back(message);
        return false;
    }
    std::vector<std::string> Questions;
    std::vector<std::pair<std::int32_t, std::int32_t>> Reports;
    std::vector<std::string> Statuses;
};

std::string Bytes(const std::string& seed, int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += seed + " linia " + std::to_string(i * 37 % 101) + "\n";
    return text;
}

std::string Text(const std::string& path)
{
    auto bytes = ReadWholeFile(path);
    return std::string(bytes.begin(), bytes.end());
}

class TUpdateStageTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_savedTemp = version::TempFolder();
        version::SetTempFolder(m_temp.Path());
        m_manifest.Stub = m_kit.Write("stub.exe", std::string(4096, 'M'));
        m_manifest.Title = "Titlu";
        m_manifest.Release = "7";
        m_manifest.ReleaseDate = "1 decembrie 2026";
        m_manifest.TagFileName = "kp3tag.txt";
        m_tagFolder = m_install.File("Tag");
    }
    void TearDown() override { version::SetTempFolder(m_savedTemp); }

    // A file with versions v1, v2 (installed: `installed`) and a new one.
    void AddFile(const std::string& name, int installed)
    {
        std::string v1 = m_kit.Write(name + ".v1", Bytes(name + "-a", 300));
        std::string v2 = m_kit.Write(name + ".v2", Bytes(name + "-a", 280) + Bytes(name + "-b", 40));
        std::string v3 = m_kit.Write(name + ".v3", Bytes(name + "-c", 20) + Bytes(name + "-a", 310));
        std::string target = m_install.File(name);
        WriteWholeFile(target, ReadWholeFile(installed == 0 ? v1 : v2).data(),
                       ReadWholeFile(installed == 0 ? v1 : v2).size());
        m_manifest.Patches.push_back({target, {v1, v2}, v3, false});
        m_installed.push_back(installed);
        m_new.push_back(Text(v3));
    }

    // Builds the package and runs the archive stage; the validation's choice
    // of old version is filled in as the validation page would.
    void Prepare()
    {
        std::string exe = m_kit.File("setup.exe");
        package::BuildPackage(m_manifest, exe, 0, 0);
        m_engine = std::make_unique<package::TPatchDataEngine>(exe);
        TNoVolumes none;
        RunArchiveStage(*m_engine, none, m_records);
        for (int i = 0; i < m_engine->Update->PatchSets.Count(); ++i) {
            package::TPatchSet& set = m_engine->Update->PatchSets.Items(i);
            set.SourceFileName = set.TargetFileName;
            set.SourceIndex = m_installed[static_cast<std::size_t>(i)];
            m_before.push_back(Text(set.TargetFileName));
        }
    }

    void ExpectInstallationUnchanged()
    {
        for (std::size_t i = 0; i < m_before.size(); ++i) {
            const std::string& target = m_manifest.Patches[i].TargetPath;
            EXPECT_EQ(Text(target), m_before[i]) << target;
            EXPECT_FALSE(FileExists(target + "vf")) << target;
        }
        EXPECT_FALSE(FileExists(m_tagFolder + test::kSeparator + "kp3tag.txt"));
    }

    // Temporary files of the stage still in the temporary folder.
    std::vector<std::string> Leftovers(const std::string& prefix) const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_temp.Path()))
            if (entry.path().filename().string().rfind(prefix, 0) == 0)
                names.push_back(entry.path().filename().string());
        return names;
    }

    std::string Run(THost& host)
    {
        try {
            TUpdateStageOptions options;
            options.TagFolder = m_tagFolder;
            RunUpdateStage(*m_engine, host, m_records, options);
            return "";
        } catch (const Exception& e) {
            return e.what();
        }
    }

    TTempDir m_kit, m_install, m_temp;
    TPath m_savedTemp;
    std::string m_tagFolder;
    package::TBuildManifest m_manifest;
    std::vector<int> m_installed;
    std::vector<std::string> m_new, m_before;
    std::unique_ptr<package::TPatchDataEngine> m_engine;
    TUpdateLog m_log;
    TUpdateJournal m_journal;
    TRunRecords m_records{m_log, m_journal};
};

TEST_F(TUpdateStageTest, EveryFileAndItsTwinGetTheNewVersion)
{
    AddFile("kp3.exe", 0);
    AddFile("date.dll", 1);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    // A read-only installed file is replaced all the same.
    SetReadOnly(m_manifest.Patches[1].TargetPath);
    THost host;
    ASSERT_EQ(Run(host), "");
    for (std::size_t i = 0; i < 2; ++i) {
        const std::string& target = m_manifest.Patches[i].TargetPath;
        SCOPED_TRACE(target);
        EXPECT_EQ(Text(target), m_new[i]);
        EXPECT_EQ(Text(target + "vf"), m_new[i]);
        EXPECT_TRUE(IsReadOnly(target));
        EXPECT_TRUE(IsReadOnly(target + "vf"));
    }
    EXPECT_EQ(host.Statuses, (std::vector<std::string>{"Actualizez kp3.exe", "Actualizez date.dll", "Finalizez"}));
    // The bar ends exactly at its end, after the last file is in place.
    ASSERT_EQ(host.Reports.size(), 30u);
    for (std::size_t i = 0; i < host.Reports.size(); ++i) {
        EXPECT_EQ(host.Reports[i].first, static_cast<std::int32_t>(i + 1));
        EXPECT_EQ(host.Reports[i].second, 30);
    }
    std::string tag = m_tagFolder + test::kSeparator + "kp3tag.txt";
    EXPECT_EQ(Text(tag), TagFileText(m_engine->Update->TagText));
    EXPECT_NE(Text(tag).find("\r\n"), std::string::npos);
    EXPECT_TRUE(Leftovers("Patch_").empty());
    EXPECT_TRUE(Leftovers("Patched_").empty());
    // Nothing of the staging is left beside the installed files.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_install.Path()),
                            std::filesystem::directory_iterator()),
              5);
}

TEST_F(TUpdateStageTest, AnExistingTagFileIsKept)
{
    ASSERT_NO_FATAL_FAILURE(Prepare());
    ForceFolders(m_tagFolder);
    std::string tag = m_tagFolder + test::kSeparator + "kp3tag.txt";
    WriteWholeFile(tag, "vechi", 5);
    THost host;
    ASSERT_EQ(Run(host), "");
    EXPECT_EQ(Text(tag), "vechi");
    // No patch sets: no progress, only the closing status.
    EXPECT_TRUE(host.Reports.empty());
    EXPECT_EQ(host.Statuses, std::vector<std::string>{"Finalizez"});
}

TEST_F(TUpdateStageTest, FirstPassFailuresLeaveTheInstallationAlone)
{
    struct Row {
        const char* name;
        std::function<void(package::TPatchDataEngine&)> damage;
        std::string message;
    };
    const std::string kp3 = m_install.File("kp3.exe");
    const std::string dll = m_install.File("date.dll");
    Row rows[] = {
        {"segment byte changed",
         [](package::TPatchDataEngine& engine) {
             const auto& set = engine.Update->PatchSets.Items(1);
             auto bytes = ReadWholeFile(engine.PatchTotalFileName);
             bytes[static_cast<std::size_t>(engine.Header.PackageSize - 1253 + set.Segment.Offset + 9)] ^= 0x10;
             WriteWholeFile(engine.PatchTotalFileName, bytes.data(), bytes.size());
         },
         CorruptSegmentMessage(dll)},
        {"patch data cut short",
         [](package::TPatchDataEngine& engine) {
             auto bytes = ReadWholeFile(engine.PatchTotalFileName);
             bytes.resize(bytes.size() - 5);
             WriteWholeFile(engine.PatchTotalFileName, bytes.data(), bytes.size());
         },
         "Bug"},
        {"new file not the expected one",
         [](package::TPatchDataEngine& engine) { engine.Update->PatchSets.Items(0).NewHash = std::string(32, '0'); },
         FailedUpdateMessage(kp3)},
        {"copy sets",
         [](package::TPatchDataEngine& engine) { engine.Update->CopySets.Add(std::make_unique<package::TCopySet>()); },
         "Copierea fisierelor NU este implementata!!"},
        {"tag file name outside its folder",
         [](package::TPatchDataEngine& engine) { engine.Update->TagFileName = "..\\..\\x"; },
         BadTagFileNameMessage("..\\..\\x")},
        {"old version the patch does not know",
         [](package::TPatchDataEngine& engine) { engine.Update->PatchSets.Items(1).SourceIndex = 5; },
         FailedUpdateMessage(dll) + "\r\n"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        m_manifest.Patches.clear();
        m_installed.clear();
        m_new.clear();
        m_before.clear();
        AddFile("kp3.exe", 1);
        AddFile("date.dll", 0);
        ASSERT_NO_FATAL_FAILURE(Prepare());
        row.damage(*m_engine);
        THost host;
        std::string message = Run(host);
        // The engine's refusals keep the user's message, their reason after it.
        if (row.message.size() > 2 && row.message.substr(row.message.size() - 2) == "\r\n") {
            EXPECT_GT(message.size(), row.message.size()) << message;
        }
        EXPECT_EQ(message.substr(0, row.message.size()), row.message);
        ExpectInstallationUnchanged();
        EXPECT_TRUE(Leftovers("Patch_").empty()) << "the segment copy is removed";
        m_engine.reset();
        EXPECT_TRUE(Leftovers("Patched_").empty()) << "the engine removes the new files it was given";
    }
}

// Only where read-only files really refuse writing (not for root, not under
// Wine as root) can the clearing of the attribute be shown.
TEST(TUpdateFilesTest, ReadOnlyTargetsAreReplacedAndCopiedOver)
{
    TTempDir dir;
    std::string target = dir.Write("kp3.exe", "vechi");
    std::string fresh = dir.Write("nou.bin", "nou");
    SetReadOnly(target);
    ASSERT_TRUE(IsReadOnly(target));
    TFile probe;
    if (probe.TryOpen(target, TFileMode::ReadWrite))
        GTEST_SKIP() << "read-only files are writable for this user";
    CopyFileOver(fresh, target + "vf");
    SetReadOnly(target + "vf");
    CopyFileOver(fresh, target + "vf");
    EXPECT_EQ(Text(target + "vf"), "nou");
    std::string staged = dir.Write("kp3.exe.nou1", "nou");
    ReplaceWithStaged(staged, target);
    EXPECT_EQ(Text(target), "nou");
    EXPECT_FALSE(FileExists(staged));
}

// A copy that cannot be put beside its target (here: its name grows past
// the file system's limit) stops the stage before any installed file changes.
TEST_F(TUpdateStageTest, ReplacementIsAllOrNothingWhenACopyFails)
{
#ifdef _WIN32
    GTEST_SKIP() << "names this long do not fit the Windows path limit in the first place";
#else
    AddFile("kp3.exe", 0);
    AddFile(std::string(248, 'x') + ".dat", 1);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    THost host;
    EXPECT_NE(Run(host), "");
    ExpectInstallationUnchanged();
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(m_install.Path()),
                            std::filesystem::directory_iterator()),
              2);
#endif
}

// A file that another program holds is asked about before anything changes;
// stopping leaves the installation as it was.
TEST_F(TUpdateStageTest, AFileInUseIsAskedAboutBeforeAnythingChanges)
{
    class THeld : public TFileOps {
    public:
        void CopyDurable(const TPath& f, const std::string& t, bool r) override
        {
            SystemFileOps().CopyDurable(f, t, r);
        }
        void Rename(const std::string& f, const std::string& t) override { SystemFileOps().Rename(f, t); }
        void RenameOver(const std::string& f, const std::string& t) override { SystemFileOps().RenameOver(f, t); }
        void WriteDurable(const std::string& n, const std::string& b) override { SystemFileOps().WriteDurable(n, b); }
        bool CanReplace(const std::string& path, std::string& reason) override
        {
            reason = "Sharing violation.";
            return path != Held || Asked-- <= 0;
        }
        std::string Held;
        int Asked = 0;
    } ops;
    AddFile("kp3.exe", 0);
    AddFile("date.dll", 1);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    ops.Held = m_manifest.Patches[1].TargetPath;
    ops.Asked = 1;
    TUpdateStageOptions options;
    options.TagFolder = m_tagFolder;
    options.Ops = &ops;
    THost host;
    EXPECT_THROW(RunUpdateStage(*m_engine, host, m_records, options), TStageAbandoned);
    ASSERT_EQ(host.Questions.size(), 1u);
    EXPECT_EQ(host.Questions[0], FileInUseMessage(ops.Held, "Sharing violation.", ""));
    ExpectInstallationUnchanged();
}

// Another program rewrites a file of the run at the worst moment: the rebuilt
// file after its check, just before it is copied beside its target, or the
// staged copy once it is written. What it wrote is never installed: the
// stage ends in an error with every file as it was, or, where the system
// refused the rewrite (Windows: the stage holds the rebuilt file open
// against writers), it ends well with the package's files.
TEST_F(TUpdateStageTest, AFileRewrittenAfterItsCheckIsNeverInstalled)
{
    class TRewriting : public TFileOps {
    public:
        explicit TRewriting(bool staged) : m_staged(staged) {}
        void CopyDurable(const TPath& f, const std::string& t, bool r) override
        {
            if (!m_staged)
                Rewrite(f.Text());
            SystemFileOps().CopyDurable(f, t, r);
            if (m_staged)
                Rewrite(t);
        }
        void Rename(const std::string& f, const std::string& t) override { SystemFileOps().Rename(f, t); }
        void RenameOver(const std::string& f, const std::string& t) override { SystemFileOps().RenameOver(f, t); }
        void WriteDurable(const std::string& n, const std::string& b) override { SystemFileOps().WriteDurable(n, b); }
        bool Rewritten = false;

    private:
        void Rewrite(const std::string& name)
        {
            ClearAttributes(name);
            TFile file;
            if (file.TryOpen(name, TFileMode::ReadWrite)) {
                file.Write("MZ atacator", 11);
                Rewritten = true;
            }
        }
        bool m_staged;
    };
    AddFile("kp3.exe", 0);
    AddFile("date.dll", 1);
    ASSERT_NO_FATAL_FAILURE(Prepare());
    // The staged copy first: the second row may end well.
    for (bool staged : {true, false}) {
        SCOPED_TRACE(staged ? "the staged copy" : "the rebuilt file");
        TRewriting ops(staged);
        TUpdateStageOptions options;
        options.TagFolder = m_tagFolder;
        options.Ops = &ops;
        THost host;
        std::string message;
        try {
            RunUpdateStage(*m_engine, host, m_records, options);
        } catch (const Exception& e) {
            message = e.Message();
        }
        if (ops.Rewritten) {
            EXPECT_EQ(message.rfind("Nu am putut inlocui fisierul ", 0), 0u) << message;
            EXPECT_NE(message.find("a fost schimbata de un alt program"), std::string::npos) << message;
            EXPECT_NE(message.find("instalarea a ramas asa cum era"), std::string::npos) << message;
            ExpectInstallationUnchanged();
            for (const auto& entry : std::filesystem::directory_iterator(m_install.Path()))
                EXPECT_EQ(entry.path().string().find(".nou"), std::string::npos) << entry.path();
        } else {
            EXPECT_FALSE(staged) << "a staged copy can be rewritten once it is closed";
            EXPECT_EQ(message, "");
            for (std::size_t i = 0; i < m_new.size(); ++i)
                EXPECT_EQ(Text(m_manifest.Patches[i].TargetPath), m_new[i]);
            return;
        }
    }
}

TEST(TTagFileNameTest, OnlyPlainNamesOfTheTagFolderAreTaken)
{
    for (const char* name : {"kp3tag.txt", "Kp3 Tag 2026", "a.b.c", "console.txt"})
        EXPECT_TRUE(IsPlainFileName(name)) << name;
    for (const char* name : {"", ".", "..", "..\\x", "../x", "C:x", "a\\b", "con", "CON.txt", "con.txt.bak", "nul ", "Lpt1.log",
                             "com9", "CONIN$", "x.", "x ", "a*b", "a\"b", "a|b", "a\tb"})
        EXPECT_FALSE(IsPlainFileName(name)) << name;
    EXPECT_EQ(BadTagFileNameMessage("..\\x").substr(0, 40), "Numele fisierului de marcaj \"..\\x\" din p");
}

TEST(TTagFileTextTest, EveryLineEndsInCrLf)
{
    EXPECT_EQ(TagFileText({}), "");
    EXPECT_EQ(TagFileText({"a", "", "b"}), "a\r\n\r\nb\r\n");
    EXPECT_EQ(UpdatingStatus("C:\\Pravion\\kp3.exe"), "Actualizez kp3.exe");
    EXPECT_EQ(FailedUpdateMessage("C:\\Pravion\\kp3.exe"),
              "Actualizarea fisierului kp3.exe a esuat. Programul de actualizare nu poate continua dupa aceasta "
              "eroare. Va rugam contactati Tarvix sau descarcati de pe internet versiunea de actualizare COMPLETA.");
}

} // namespace
} // namespace upd::wizard
