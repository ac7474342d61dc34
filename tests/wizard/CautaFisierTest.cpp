// The page's side of a volume request: where it looks by itself, when it asks
// for a diskette, and what the dialog is given.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "package/CautaFisier.h"

namespace upd::package {
namespace {

// A file system of Windows paths, a user who answers as scripted, and a
// record of everything asked.
class TFakeHost : public TVolumeSearchHost {
public:
    bool FileExists(const TPath& path) override { return Files.count(path.Text()) > 0; }
    std::vector<TPath> FolderEntries(const TPath& folder) override
    {
        ListedFolders.push_back(folder.Text());
        auto found = Folders.find(folder.Text());
        if (found == Folders.end())
            return {};
        return std::vector<TPath>(found->second.begin(), found->second.end());
    }
    bool PromptForDiskette(const std::string& text) override
    {
        Prompts.push_back(text);
        return !AbortDiskette;
    }
    bool RequestClose() override
    {
        ++CloseRequests;
        return AcceptClose;
    }
    bool ShowDialog(const std::string& explanation, const TPath& startPath, const TPath& filter, TPath& path,
                    bool& closed) override
    {
        ++Dialogs;
        Explanation = explanation;
        StartPath = startPath.Text();
        Filter = filter.Text();
        path = DialogAnswer;
        closed = DialogClosed;
        return DialogOk;
    }

    std::set<std::string> Files;
    std::map<std::string, std::vector<std::string>> Folders;
    bool AbortDiskette = false;
    bool AcceptClose = false;
    bool DialogOk = true;
    bool DialogClosed = false;
    std::string DialogAnswer = "D:\\ales\\setup.1";

    std::vector<std::string> ListedFolders;
    std::vector<std::string> Prompts;
    int CloseRequests = 0;
    int Dialogs = 0;
    std::string Explanation, StartPath, Filter;
};

TRequestVolume Request(std::int32_t attempt = 0, const std::string& path = "")
{
    TRequestVolume request;
    request.FileName = "setup.1";
    request.VolumeNumber = 1;
    request.Attempt = attempt;
    request.Path = path;
    request.Message = "Programul de actualizare are nevoie de urmatorul fisier";
    return request;
}

const std::string kPlainExplanation =
    "Programul de actualizare are nevoie de fisierul setup.1 Va rugam indicati calea catre fisierul solicitat.";
const std::string kDisketteExplanation =
    "Programul de actualizare are nevoie de fisierul setup.1 Acest fisier se gaseste pe discheta nr 1. Va rugam "
    "introduceti aceasta discheta in unitate sau indicati calea catre fisierul respectiv";

TEST(TCautaFisierTest, SearchOrderAndDialog)
{
    struct Row {
        const char* name;
        std::string exe;
        std::set<std::string> files;
        std::map<std::string, std::vector<std::string>> folders;
        std::int32_t attempt;
        std::string expectedPath;
        int dialogs;
        std::string startPath;
        std::string explanation;
        std::vector<std::string> listed;
    };
    const std::string chosen = "D:\\ales\\setup.1";
    Row rows[] = {
        {"beside the executable", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit1\\setup.1"}, {}, 0,
         "C:\\Down\\Kit1\\setup.1", 0, "", "", {}},
        {"first sibling folder that has it", "C:\\Down\\Kit1\\setup.exe",
         {"C:\\Down\\Kit3\\setup.1", "C:\\Down\\Kit2\\setup.1"}, {{"C:\\Down", {"Kit1", "x.txt", "Kit3", "Kit2"}}},
         0, "C:\\Down\\Kit3\\setup.1", 0, "", "", {"C:\\Down"}},
        {"no sibling search under a drive root", "C:\\Kit\\setup.exe", {"C:\\Other\\setup.1"},
         {{"C:", {"Other"}}}, 0, chosen, 1, "C:\\Kit\\setup.1", kPlainExplanation, {}},
        {"a repeat goes straight to the dialog, its reason first", "C:\\Down\\Kit1\\setup.exe",
         {"C:\\Down\\Kit1\\setup.1"}, {}, 2, chosen, 1, "C:\\Down\\Kit1\\setup.1",
         "Programul de actualizare are nevoie de urmatorul fisier. " + kPlainExplanation, {}},
        {"nothing found", "C:\\Down\\Kit1\\setup.exe", {}, {{"C:\\Down", {"Kit1"}}}, 0, chosen, 1,
         "C:\\Down\\Kit1\\setup.1", kPlainExplanation, {"C:\\Down"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TFakeHost host;
        host.Files = row.files;
        host.Folders = row.folders;
        TRequestVolume request = Request(row.attempt, "old");
        ServeVolumeRequest(request, row.exe, host);
        EXPECT_EQ(request.Path, row.expectedPath);
        EXPECT_FALSE(request.Abandoned);
        EXPECT_EQ(host.Dialogs, row.dialogs);
        EXPECT_EQ(host.ListedFolders, row.listed);
        EXPECT_TRUE(host.Prompts.empty());
        if (row.dialogs) {
            EXPECT_EQ(host.StartPath, row.startPath);
            EXPECT_EQ(host.Explanation, row.explanation);
            EXPECT_EQ(host.Filter, "Fisiere setup.1|setup.1|Orice fel de fisier|*.*");
        }
    }
}

TEST(TCautaFisierTest, DisketteIsAskedForTwiceThenTheDialogIsPrefilled)
{
    for (const char* exe : {"A:\\setup.exe", "b:\\setup.exe"}) {
        SCOPED_TRACE(exe);
        TFakeHost host;
        TRequestVolume request = Request();
        request.VolumeNumber = 1;
        ServeVolumeRequest(request, exe, host);
        EXPECT_EQ(host.Prompts,
                  std::vector<std::string>(2, "Va rog introduceti in unitate discheta 1"));
        EXPECT_EQ(host.Dialogs, 1);
        EXPECT_EQ(host.StartPath, std::string(exe[0] == 'A' ? "A:" : "B:") + "\\setup.1");
        EXPECT_EQ(host.Explanation, kDisketteExplanation);
        EXPECT_EQ(request.Path, "D:\\ales\\setup.1");
    }
}

TEST(TCautaFisierTest, VolumeOnTheStartDisketteIsTakenAtOnce)
{
    TFakeHost host;
    host.Files = {"A:\\setup.1"};
    host.DialogAnswer = "A:\\setup.1";
    TRequestVolume request = Request();
    ServeVolumeRequest(request, "A:\\setup.exe", host);
    // Found beside the executable: that is the diskette itself.
    EXPECT_EQ(host.Dialogs, 0);
    EXPECT_EQ(request.Path, "A:\\setup.1");
}

TEST(TCautaFisierTest, AbortAtTheDisketteClosesOnlyWhenTheUserAgrees)
{
    TFakeHost host;
    host.AbortDiskette = true;
    host.AcceptClose = true;
    TRequestVolume request = Request(0, "before");
    ServeVolumeRequest(request, "A:\\setup.exe", host);
    EXPECT_TRUE(request.Abandoned);
    EXPECT_EQ(request.Path, "before");
    EXPECT_EQ(host.Dialogs, 0);
    EXPECT_EQ(host.Prompts.size(), 1u);

    TFakeHost refused;
    refused.AbortDiskette = true;
    TRequestVolume kept = Request();
    ServeVolumeRequest(kept, "A:\\setup.exe", refused);
    EXPECT_FALSE(kept.Abandoned);
    EXPECT_EQ(refused.Prompts.size(), 2u);
    EXPECT_EQ(refused.CloseRequests, 2);
    EXPECT_EQ(refused.Dialogs, 1);
}

TEST(TCautaFisierTest, CancelledDialogAnswersAnEmptyPath)
{
    TFakeHost host;
    host.DialogOk = false;
    host.DialogClosed = true;
    TRequestVolume request = Request(1, "C:\\x\\setup.1");
    ServeVolumeRequest(request, "C:\\Down\\Kit1\\setup.exe", host);
    EXPECT_EQ(request.Path, "");
    EXPECT_TRUE(request.Abandoned);
}

TEST(TCautaFisierTest, OkNeedsAnExistingFile)
{
    TFakeHost host;
    host.Files = {"C:\\k\\setup.1"};
    EXPECT_EQ(CheckChosenFile("", host), "Nu ati completat numele fisierului");
    EXPECT_EQ(CheckChosenFile("C:\\k\\setup.2", host), "Fisierul C:\\k\\setup.2 nu exista");
    EXPECT_EQ(CheckChosenFile("C:\\k\\setup.1", host), "");
}

} // namespace
// An unattended run looks where the wizard looks by itself and asks nobody:
// no diskette prompt, no dialog, no close; what it cannot find stops the run.
TEST(TCautaFisierTest, UnattendedRunLooksWithoutAsking)
{
    const std::string stop = "Actualizarea s-a oprit si niciun fisier instalat nu a fost schimbat.";
    const std::string notFound = "Programul de actualizare are nevoie de fisierul setup.1, dar nu l-a gasit nici "
                                 "langa el, nici in folderele alaturate";
    struct Row {
        const char* name;
        std::string exe;
        std::set<std::string> files;
        std::int32_t attempt;
        std::string expectedPath;
        std::string expectedError;
    };
    const Row rows[] = {
        {"beside the executable", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit1\\setup.1"}, 0,
         "C:\\Down\\Kit1\\setup.1", ""},
        {"in a sibling folder", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit2\\setup.1"}, 0,
         "C:\\Down\\Kit2\\setup.1", ""},
        {"on the diskette the program runs from", "A:\\kit\\setup.exe", {"A:\\setup.1"}, 0, "A:\\setup.1", ""},
        {"nowhere", "C:\\Down\\Kit1\\setup.exe", {}, 0, "", notFound + ". " + stop},
        {"not on the diskette", "b:\\setup.exe", {}, 0, "", notFound + ", nici pe discheta. " + stop},
        // A repeat means the file found was not the volume: the next place,
        // while there is one (the program's own folder is not tried twice).
        {"repeat", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit1\\setup.1"}, 1, "",
         "Programul de actualizare are nevoie de urmatorul fisier. " + stop},
        {"decoy beside, first", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit1\\setup.1", "C:\\Down\\Kit2\\setup.1"}, 0,
         "C:\\Down\\Kit1\\setup.1", ""},
        {"decoy beside, then the sibling", "C:\\Down\\Kit1\\setup.exe",
         {"C:\\Down\\Kit1\\setup.1", "C:\\Down\\Kit2\\setup.1"}, 1, "C:\\Down\\Kit2\\setup.1", ""},
        {"decoys everywhere", "C:\\Down\\Kit1\\setup.exe", {"C:\\Down\\Kit1\\setup.1", "C:\\Down\\Kit2\\setup.1"}, 2, "",
         "Programul de actualizare are nevoie de urmatorul fisier. " + stop},
        {"the diskette after the folders", "A:\\Down\\Kit1\\setup.exe",
         {"A:\\Down\\Kit2\\setup.1", "A:\\setup.1"}, 1, "A:\\setup.1", ""},
        {"the program's folder named in another case", "C:\\Down\\KIT2\\setup.exe", {"C:\\Down\\KIT2\\setup.1", "C:\\Down\\Kit2\\setup.1"}, 1,
         "", "Programul de actualizare are nevoie de urmatorul fisier. " + stop},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TFakeHost host;
        host.Files = row.files;
        host.Folders = {{"C:\\Down", {"Kit1", "Kit2"}}, {"A:\\Down", {"Kit1", "Kit2"}}};
        TRequestVolume request = Request(row.attempt, "old");
        FindVolumeUnattended(request, row.exe, host);
        EXPECT_EQ(request.Path, row.expectedPath);
        EXPECT_EQ(request.Error, row.expectedError);
        EXPECT_FALSE(request.Abandoned);
        EXPECT_TRUE(host.Prompts.empty());
        EXPECT_EQ(host.Dialogs, 0);
        EXPECT_EQ(host.CloseRequests, 0);
    }
}

} // namespace upd::package
