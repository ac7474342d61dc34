#include "wizard/ValidationStage.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "package/DuplicateNames.h"

namespace upd::wizard {
namespace {

// A machine with a few files: a file matches a signature when it exists and
// has the signature's digest (the real check also compares size and version;
// that belongs to SignatureMatches' own tests).
struct TFakeFile {
    std::string Version; // what its version resource says
    std::string Hash;
};

class TFakeProbe : public TFileProbe {
public:
    std::map<std::string, TFakeFile> Files;
    mutable std::vector<std::string> VersionReads;

    bool SignatureMatches(const TFileSignature& s) const override
    {
        auto it = Files.find(s.FileName);
        return it != Files.end() && it->second.Hash == s.Hash;
    }
    bool FileExists(const std::string& path) const override { return Files.count(path) != 0; }
    std::string FileVersionText(const std::string& path) const override
    {
        VersionReads.push_back(path);
        return Files.at(path).Version;
    }
};

class TRecorder : public TValidationSink {
public:
    std::vector<std::string> Events;
    void Progress(std::int32_t done, std::int32_t total) override
    {
        Events.push_back("progress " + std::to_string(done) + "/" + std::to_string(total));
    }
    void Warning(const TFinding& finding) override { Events.push_back("warning " + finding.Text); }
    void Fatal(const TFinding& finding) override { Events.push_back("fatal " + finding.Text); }
    void AlreadyUpdated() override { ++AlreadyUpdatedCalls; }
    int AlreadyUpdatedCalls = 0;
    void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) override
    {
        Events.push_back("source " + std::to_string(n) + " " + std::to_string(index) + " " + path);
    }
    std::vector<std::string> Findings() const
    {
        std::vector<std::string> out;
        for (const auto& e : Events)
            if (e.rfind("progress", 0) != 0)
                out.push_back(e);
        return out;
    }
};

// Owns the signatures that the input points at.
struct TScenario {
    std::vector<std::unique_ptr<TFileSignature>> Store;
    TValidationInput Input;
    TFakeProbe Probe;
    TRecorder Sink;

    const TFileSignature* Sig(const std::string& file, const std::string& version, const std::string& hash)
    {
        auto s = std::make_unique<TFileSignature>();
        s->FileName = file;
        s->Version = version;
        s->Hash = hash;
        Store.push_back(std::move(s));
        return Store.back().get();
    }
    bool Run() { return RunValidation(Input, Sink, Probe); }
};

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

const std::string kExe = "C:\\Pravion\\kp3.exe";
const std::string kTxt = "C:\\Pravion\\date.txt";

TEST(ValidationStageTest, MessagesWordForWord)
{
    const std::string p = "C:\\P\\a.exe";
    struct Row {
        std::string actual;
        std::string expected;
    } rows[] = {
        {MustHaveMessage(TVerdict::Modified, p, "1.2.3.4", 3, 25),
         "Fisierul C:\\P\\a.exe cu versiunea 1.2.3.4, fisier necesar bunei functionari a programului a fost "
         "modificat - cel mai probabil din cauza unui virus. Programul de actualizare va ignora aceasta problema "
         "dar este necesar sa va verificati calculatorul cu un program antivirus cat mai curand cu putinta.  "
         "(3/25/Test/1)"},
        {MustHaveMessage(TVerdict::Missing, p, "", 3, 25),
         "Fisierul C:\\P\\a.exe ar fi trebuit sa existe pe calculatorul dumneavoastra dar NU exista. Acest "
         "fisier este necesar bunei functionari a programelor si fara el nu se poate face actualizarea. Va rugam "
         "contactati Tarvix si solicitati reinstalarea programului (3/25/Test/7)"},
        {PatchMessage(TVerdict::Between, p, "2.0", 1, 2),
         "Versiunea fisierului C:\\P\\a.exe (2.0) se afla intre cea mai veche si cea mai noua versiune "
         "recunoscuta de acest program de actualizare. Aceasta varianta de actualizare nu poate continua "
         "deoarece integritatea acestui fisier nu poate fi validata. Va rugam contactati Tarvix sau descarcati "
         "de pe internet varianta \"completa\" de actualizare a programului  (1/2/Patch/2)"},
        {MustHaveMessage(TVerdict::Older, p, "1.0", 2, 2),
         "Versiunea fisierului C:\\P\\a.exe (1.0) este mai veche decat cea mai veche versiune recunoscuta de "
         "acest program. Va rugam contactati Tarvix sau descarcati de pe internet versiunea \"completa\" a "
         "programului de actualizare  (2/2/Test/3)"},
        {PatchMessage(TVerdict::Newer, p, "9.0", 1, 1),
         "Versiunea fisierului C:\\P\\a.exe (9.0) este mai NOUA decat versiunea pe care o stie actualiza acest "
         "program. Probabil incercati sa utilizati un program de actualizare mai vechi decat programul deja "
         "instalat!  (1/1/Patch/4)"},
        {PatchMessage(TVerdict::NoVersion, p, "<info not available>", 1, 1),
         "Fisierul C:\\P\\a.exe a fost modificat si nu mai poate fi utilizat in cadrul acestei actualizari. Cel "
         "mai probabil fisierul a fost modificat de catre un virus. Din nefericire aceasta eroare inseamna ca nu "
         "pot continua actualizarea. Va rugam contactati Tarvix pentru informatii suplimentare sau descarcati de "
         "pe internet varianta \"completa\" a programului de actualizare. (1/1/Patch/5)"},
        {MustHaveMessage(TVerdict::Corrupt, p, "<info not available>", 10, 12),
         "Fisierul C:\\P\\a.exe a fost corupt si nu mai poate fi utilizat in cadrul acestei actualizari. Acesta "
         "poate fi primul semn al unor probleme mult mai grave pe care le poate avea calculatorul dumneavoastra, "
         "va rugam contactati Tarvix cat mai curand cu putinta si solicitati verificarea completa a "
         "calculatorului! (10/12/Test/6)"},
        {PatchMessage(TVerdict::Modified, p, "1.0", 1, 1),
         "Fisierul C:\\P\\a.exe cu versiunea 1.0, fisier care urmeaza sa fie actualizat a fost modificat, cel mai "
         "probabil de catre un virus. Aceasta este o eroare foarte serioasa care poate conduce la esecul "
         "intregii actualizari. Programul va incerca sa efectueze actualizarea chiar si pe baza acestui fisier "
         "insa succesul nu poate fi garantat.  (1/1/Patch/1)"},
        {PatchMessage(TVerdict::Missing, p, "", 1, 1),
         "Fisierul C:\\P\\a.exe nu exista, nu pot continua actualizarea. Va rugam contactati Tarvix. (1/1/Patch/7)"},
        {AlreadyUpdatedMessage(p, "3.0"),
         "Fisierul C:\\P\\a.exe a fost deja actualizat la versiunea 3.0 - probabil ati pornit acelasi program de "
         "actualizare a doua oara!"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.expected.substr(0, 60));
        EXPECT_EQ(row.actual, row.expected);
    }
}

TEST(ValidationStageTest, VersionedFileNames)
{
    struct Row {
        const char* path;
        bool versioned;
    } rows[] = {
        {"C:\\a\\kp3.exe", true}, {"C:\\a\\KP3.EXE", true}, {"C:\\a\\x.Dll", true},
        {"C:\\a\\x.txt", false},  {"C:\\a.exe\\x", false},  {"C:\\a\\x.exe.bak", false},
        {"C:\\a\\exe", false},    {"C:x.dll", true},        {"C:\\a\\x.exe ", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.path);
        EXPECT_EQ(IsVersionedFileName(row.path), row.versioned);
    }
}

// One must-have set whose only known state did not match: each installed state
// and its finding.
TEST(ValidationStageTest, MustHaveDecisionTable)
{
    struct Row {
        const char* name;
        std::string file;
        std::vector<std::string> knownVersions; // one signature each, none matches
        bool installed;
        std::string installedVersion;
        std::string finding; // "" = passes without a message
    } rows[] = {
        {"missing", kExe, {"2.0"}, false, "", "fatal:/Test/7)"},
        {"no resource", kExe, {"2.0"}, true, "<info not available>", "fatal:/Test/5)"},
        {"text file", kTxt, {"2.0"}, true, "", "fatal:/Test/6)"},
        {"same", kExe, {"2.0"}, true, "2.0.0.0", "warning:/Test/1)"},
        {"same among others", kExe, {"1.0", "2.0", "3.0"}, true, "2.0", "warning:/Test/1)"},
        {"between", kExe, {"1.0", "3.0"}, true, "2.0", "fatal:/Test/2)"},
        {"older", kExe, {"2.0", "3.0"}, true, "1.9.9.9", "fatal:/Test/3)"},
        {"newer", kExe, {"2.0", "3.0"}, true, "3.0.0.1", "fatal:/Test/4)"},
        {"empty known version is 0.0.0.0", kExe, {""}, true, "1.0", "fatal:/Test/4)"},
        {"zero equals empty", kExe, {""}, true, "0", "warning:/Test/1)"},
        {"known without resource, installed with one", kExe, {"<info not available>"}, true, "5.0", ""},
        {"installed text not a version, none known", kExe, {"<info not available>"}, true, "beta", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TScenario s;
        TSignatureList set;
        for (const auto& v : row.knownVersions)
            set.push_back(s.Sig(row.file, v, "AAAA"));
        s.Input.MustHaveSets.push_back(set);
        if (row.installed)
            s.Probe.Files[row.file] = {row.installedVersion, "BBBB"};
        bool ok = s.Run();
        auto findings = s.Sink.Findings();
        if (row.finding.empty()) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(findings.empty());
            continue;
        }
        ASSERT_EQ(findings.size(), 1u);
        std::string kind = row.finding.substr(0, row.finding.find(':'));
        std::string code = row.finding.substr(row.finding.find(':') + 1);
        EXPECT_EQ(findings[0].substr(0, kind.size()), kind);
        EXPECT_TRUE(EndsWith(findings[0], " (1/1" + code)) << findings[0];
        EXPECT_EQ(ok, kind == "warning");
    }
}

TEST(ValidationStageTest, PatchDecisionTable)
{
    struct Row {
        const char* name;
        std::string file;
        std::vector<std::string> knownVersions;
        bool installed;
        std::string installedVersion;
        std::string finding;    // "warning:..." or "fatal:..."; a tag code or a whole untagged text
        std::string source;     // expected source event after a warning
    } rows[] = {
        {"missing", kExe, {"1.0"}, false, "", "fatal:/Patch/7)", ""},
        {"no resource", kExe, {"1.0"}, true, "<info not available>", "fatal:/Patch/5)", ""},
        {"not a version text", kExe, {"1.0"}, true, "1.0 beta", "fatal:/Patch/5)", ""},
        {"text file", kTxt, {"1.0"}, true, "", "fatal:/Patch/6)", ""},
        {"same", kExe, {"1.0", "2.0"}, true, "2.0", "warning:/Patch/1)", "source 1 1 C:\\Pravion\\kp3.exe"},
        {"between", kExe, {"1.0", "3.0"}, true, "2.0", "fatal:/Patch/2)", ""},
        {"older", kExe, {"2.0"}, true, "1.0", "fatal:/Patch/3)", ""},
        {"newer", kExe, {"1.0", "2.0"}, true, "2.5", "fatal:/Patch/4)", ""},
        {"already updated", kExe, {"1.0", "2.0"}, true, "3.0",
         "fatal:Fisierul C:\\Pravion\\kp3.exe a fost deja actualizat la versiunea 3.0 - probabil ati pornit "
         "acelasi program de actualizare a doua oara!",
         ""},
        // NewVersion is compared as text: an equal number written otherwise is /Patch/4.
        {"already updated needs the same text", kExe, {"1.0"}, true, "3.0.0.0", "fatal:/Patch/4)", ""},
        {"no known version", kExe, {"<info not available>"}, true, "1.0", "fatal:Bug - Contactati Tarvix", ""},
        {"no old files at all", kExe, {}, true, "1.0", "fatal:Bug - Contactati Tarvix", ""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TScenario s;
        TPatchSetView set;
        for (const auto& v : row.knownVersions)
            set.OldFiles.push_back(s.Sig(row.file, v, "AAAA"));
        set.TargetFileName = row.file;
        set.NewVersion = "3.0";
        s.Input.PatchSets.push_back(set);
        if (row.installed)
            s.Probe.Files[row.file] = {row.installedVersion, "BBBB"};
        bool ok = s.Run();
        auto findings = s.Sink.Findings();
        ASSERT_GE(findings.size(), 1u);
        std::string kind = row.finding.substr(0, row.finding.find(':'));
        std::string text = row.finding.substr(row.finding.find(':') + 1);
        EXPECT_EQ(findings[0].substr(0, kind.size()), kind);
        if (text[0] == '/')
            EXPECT_TRUE(EndsWith(findings[0], " (1/1" + text)) << findings[0];
        else
            EXPECT_EQ(findings[0], kind + " " + text);
        EXPECT_EQ(ok, kind == "warning");
        // Only the already-updated finding is told apart (its run ends "up to date").
        EXPECT_EQ(s.Sink.AlreadyUpdatedCalls, std::string(row.name) == "already updated" ? 1 : 0);
        if (row.source.empty()) {
            EXPECT_EQ(findings.size(), 1u);
        } else {
            ASSERT_EQ(findings.size(), 2u);
            EXPECT_EQ(findings[1], row.source);
        }
    }
}

TEST(ValidationStageTest, MatchingSetsReportProgressAndSources)
{
    TScenario s;
    for (int i = 0; i < 25; ++i) {
        std::string f = "C:\\Pravion\\f" + std::to_string(i) + ".dll";
        s.Input.MustHaveSets.push_back({s.Sig(f, "1.0", "H" + std::to_string(i))});
        s.Probe.Files[f] = {"1.0", "H" + std::to_string(i)};
    }
    TPatchSetView patch;
    patch.TargetFileName = kExe;
    patch.OldFiles = {s.Sig(kExe, "1.0", "OLD1"), s.Sig("C:\\Pravion\\kp3old.exe", "1.1", "OLD2")};
    s.Input.PatchSets.push_back(patch);
    s.Probe.Files["C:\\Pravion\\kp3old.exe"] = {"1.1", "OLD2"};

    EXPECT_TRUE(s.Run());
    ASSERT_EQ(s.Sink.Events.size(), 28u);
    for (int i = 0; i <= 26; ++i)
        EXPECT_EQ(s.Sink.Events[i], "progress " + std::to_string(i) + "/26");
    // The source is the matching signature's own file, not the target.
    EXPECT_EQ(s.Sink.Events[27], "source 1 1 C:\\Pravion\\kp3old.exe");
    // Versions are read only for sets that matched nothing.
    EXPECT_TRUE(s.Probe.VersionReads.empty());
}

TEST(ValidationStageTest, EmptyDescriptionSucceedsWithZeroOfZero)
{
    TScenario s;
    EXPECT_TRUE(s.Run());
    EXPECT_EQ(s.Sink.Events, std::vector<std::string>{"progress 0/0"});
}

TEST(ValidationStageTest, FatalEndsTheStageWarningDoesNot)
{
    TScenario s;
    std::string a = "C:\\P\\a.dll", b = "C:\\P\\b.dll", c = "C:\\P\\c.dll";
    s.Input.MustHaveSets = {{s.Sig(a, "1.0", "A")}, {s.Sig(b, "1.0", "B")}, {s.Sig(c, "1.0", "C")}};
    s.Probe.Files[a] = {"1.0", "changed"}; // warning, goes on
    // b is missing: fatal; c is never looked at.
    EXPECT_FALSE(s.Run());
    ASSERT_EQ(s.Sink.Events.size(), 5u);
    EXPECT_EQ(s.Sink.Events[0], "progress 0/3");
    EXPECT_EQ(s.Sink.Events[1], "progress 1/3");
    EXPECT_EQ(s.Sink.Events[2].substr(0, 8), "warning ");
    EXPECT_EQ(s.Sink.Events[3], "progress 2/3");
    EXPECT_NE(s.Sink.Events[4].find(b + " ar fi trebuit"), std::string::npos);
}

TEST(ValidationStageTest, PatchSetsCountFromOneAfterMustHaveSets)
{
    TScenario s;
    s.Input.MustHaveSets = {{s.Sig("C:\\m.dll", "", "M")}};
    s.Probe.Files["C:\\m.dll"] = {"", "M"};
    for (int i = 0; i < 3; ++i) {
        TPatchSetView p;
        p.TargetFileName = "C:\\p" + std::to_string(i) + ".exe";
        p.OldFiles = {s.Sig(p.TargetFileName, "1.0", "P")};
        s.Input.PatchSets.push_back(p);
    }
    s.Probe.Files["C:\\p0.exe"] = {"1.0", "P"};
    EXPECT_FALSE(s.Run());
    auto last = s.Sink.Events.back();
    EXPECT_EQ(last.substr(last.size() - 14), " (2/3/Patch/7)");
    EXPECT_EQ(s.Sink.Events[s.Sink.Events.size() - 2], "progress 3/4");
}

TEST(ValidationStageTest, LastEqualKnownVersionIsTheSource)
{
    TScenario s;
    TPatchSetView p;
    p.TargetFileName = kExe;
    p.OldFiles = {s.Sig("C:\\x0.exe", "2.0", "A"), s.Sig("C:\\x1.exe", "2.0.0.0", "B"),
                  s.Sig("C:\\x2.exe", "1.0", "C")};
    s.Input.PatchSets.push_back(p);
    s.Probe.Files[kExe] = {"2.0", "Z"};
    EXPECT_TRUE(s.Run());
    EXPECT_EQ(s.Sink.Findings().back(), "source 1 1 C:\\x1.exe");
}

TEST(ValidationStageTest, ErrorsPropagate)
{
    {
        SCOPED_TRACE("installed version that is no number, against a known number");
        TScenario s;
        s.Input.MustHaveSets = {{s.Sig(kExe, "1.0", "A")}};
        s.Probe.Files[kExe] = {"1.0 beta", "B"};
        EXPECT_THROW(s.Run(), Exception);
    }
    {
        SCOPED_TRACE("must-have set without signatures");
        TScenario s;
        s.Input.MustHaveSets = {{}};
        try {
            s.Run();
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_STREQ(e.what(), "List index out of bounds (0)");
        }
    }
}

// Two patch sets that replace one file (in another case or with other
// slashes, or one set's target being another's twin) are refused before any
// installed file is looked at.
TEST(ValidationStageTest, OneFileNamedTwiceIsRefusedBeforeAnyFileIsRead)
{
    struct TRow {
        const char* Second;
        const char* Repeated;
    };
    const TRow rows[] = {
        {"C:\\Pravion\\kp3.exe", "C:\\Pravion\\kp3.exe"},
        {"C:\\PRAVION\\KP3.EXE", "C:\\PRAVION\\KP3.EXE"},
        {"C:/Pravion//kp3.exe", "C:/Pravion//kp3.exe"},
        {"C:\\Pravion\\.\\Date\\..\\kp3.exe. ", "C:\\Pravion\\.\\Date\\..\\kp3.exe. "},
        {"C:\\Pravion\\KP3.EXEVF", "C:\\Pravion\\KP3.EXEVF"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.Second);
        TScenario s;
        for (const std::string& target : {kExe, std::string(row.Second)}) {
            TPatchSetView patch;
            patch.TargetFileName = target;
            patch.OldFiles = {s.Sig(target, "1.0", "OLD")};
            s.Input.PatchSets.push_back(patch);
        }
        s.Input.MustHaveSets.push_back({s.Sig(kTxt, "", "T")});
        EXPECT_FALSE(s.Run());
        const std::string first = std::string(row.Repeated).back() == 'F' ? kExe + "vf" : kExe;
        EXPECT_EQ(s.Sink.Findings(), std::vector<std::string>{"fatal Pachetul de actualizare numeste de doua ori "
                                                              "acelasi fisier: " + first + " si " + row.Repeated +
                                                              ". Pachetul de actualizare este deteriorat; va rugam "
                                                              "descarcati de pe internet din nou programul de "
                                                              "actualizare."});
        EXPECT_TRUE(s.Probe.VersionReads.empty());
    }
}

TEST(ValidationStageTest, CanonicalNamesFoldCaseSlashesAndSteps)
{
    using upd::package::CanonicalPathName;
    const std::pair<const char*, const char*> rows[] = {
        {"C:\\Pravion\\Kp3.Exe", "c:\\pravion\\kp3.exe"},
        {"C:/Pravion//Date\\", "c:\\pravion\\date"},
        {"C:\\Pravion\\..\\..\\x.dat", "c:\\x.dat"},
        {"\\\\Server\\Share\\A.DAT", "\\\\server\\share\\a.dat"},
        // Romanian letters (written as code page 1250, folded as texts).
        {"C:\\\xAATEFAN\\\xC3\xCE\xDE\x8A.dat", "c:\\\xBAtefan\\\xE3\xEE\xFE\x9A.dat"},
    };
    for (const auto& [in, out] : rows)
        EXPECT_EQ(CanonicalPathName(Cp1250ToUtf8(in)), Cp1250ToUtf8(out)) << in;
    // Letters the page lacks (a system folder's) are left as they are.
    EXPECT_EQ(CanonicalPathName("C:\\\xC8\x98\xD0\x96\\A"), "c:\\\xC8\x98\xD0\x96\\a");
    EXPECT_FALSE(upd::package::FindSameFileTwice({"C:\\P\\a.dat", "C:\\P\\b.dat", "C:\\Q\\a.dat"}));
}

} // namespace
} // namespace upd::wizard
