#include "version/FileOps.h"

#include "base/Exception.h"
#include "base/File.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "version/Process_win32.h"
#include <fstream>
#include <sstream>
#endif

namespace upd::version {

TEST(FileOpsTest, MakeTempFileNameSkipsFilesAndFolders)
{
    test::TTempDir dir;
    TPath saved = TempFolder();
    SetTempFolder(dir.Path() + test::kSeparator);
    dir.Write("Patch_1.Patch", "x");
    std::filesystem::create_directory(dir.File("Patch_2.Patch"));

    TPath name = MakeTempFileName("Patch", "Patch");
    EXPECT_EQ(name, dir.File("Patch_3.Patch"));
    // The trailing separator is gone from the stored folder, once.
    EXPECT_EQ(TempFolder(), dir.Path());
    EXPECT_EQ(MakeTempFileName("PatchTotal", "bin"), dir.File("PatchTotal_1.bin"));
    // Nothing was created.
    EXPECT_FALSE(FileOrFolderExists(name));
    SetTempFolder(saved);
}

// Whatever holds a name (a file, a folder, a link, even one that leads
// nowhere) makes the creation take the next number; nothing is followed.
TEST(FileOpsTest, CreateTempFileTakesTheNextNameOverAnythingThatExists)
{
    test::TTempDir dir, elsewhere;
    TPath saved = TempFolder();
    SetTempFolder(dir.Path());
    dir.Write("Patched_1.bin", "x");
    std::filesystem::create_directory(dir.File("Patched_2.bin"));
    int next = 3;
#ifndef _WIN32
    // Links are planted from Linux; a Windows program here cannot make one.
    std::filesystem::create_symlink(elsewhere.File("planted"), dir.File("Patched_3.bin"));
    std::filesystem::create_symlink(elsewhere.Write("existing", "old"), dir.File("Patched_4.bin"));
    next = 5;
#endif
    {
        TFile file = CreateTempFile("Patched", "bin");
        EXPECT_EQ(file.Name(), dir.File("Patched_" + std::to_string(next) + ".bin"));
        file.Write("new", 3);
    }
    EXPECT_FALSE(FileOrFolderExists(elsewhere.File("planted")));
#ifndef _WIN32
    auto old = ReadWholeFile(elsewhere.File("existing"));
    EXPECT_EQ(std::string(old.begin(), old.end()), "old");
#endif
    EXPECT_EQ(ReadWholeFile(dir.File("Patched_1.bin")).size(), 1u);
    SetTempFolder(saved);
}

TEST(FileOpsTest, GetFileSizeOf)
{
    test::TTempDir dir;
    std::string file = dir.Write("a.bin", std::string(1025, 'z'));
    EXPECT_EQ(GetFileSizeOf(file), 1025);
    EXPECT_EQ(FindFileSize(file).value_or(-5), 1025);
    EXPECT_FALSE(FindFileSize(dir.File("none.bin")).has_value());
    EXPECT_EQ(FindFileSize(dir.Path()).value_or(-5), 0);
}

#ifdef _WIN32
TEST(FileOpsTest, GetFileSizeOfSeesHiddenAndReadOnlyFiles)
{
    test::TTempDir dir;
    std::string file = dir.Write("h.dll", "hidden");
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(GetFileSizeOf(file), 6);
    SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(FileOpsTest, StartProgramQuotesAPathWithSpaces)
{
    std::string program = test::BinaryDir() + "/tests/version/fixtures/dir with spaces/echo args.exe";
    for (char& c : program)
        if (c == '/')
            c = '\\';
    test::TTempDir dir;
    std::string out = dir.File("args.txt");
    HANDLE process = StartProgram(program, out);
    ASSERT_EQ(WaitForSingleObject(process, 20000), WAIT_OBJECT_0);
    DWORD code = 99;
    GetExitCodeProcess(process, &code);
    CloseHandle(process);
    EXPECT_EQ(code, 0u);

    std::ifstream in(out);
    std::string count, line, argv0, argv1;
    std::getline(in, count);
    std::getline(in, line);
    std::getline(in, argv0);
    std::getline(in, argv1);
    EXPECT_EQ(count, "2");
    EXPECT_EQ(line, "\"" + program + "\" " + out);
    EXPECT_EQ(argv0, program);
    EXPECT_EQ(argv1, out);
}

TEST(FileOpsTest, StartProgramRaisesTheSystemError)
{
    try {
        StartProgram("C:\\no such folder\\kp3.exe", "pregateste_kelmira");
        FAIL() << "no error";
    } catch (const EOSError& e) {
        EXPECT_NE(e.Code(), 0u);
        EXPECT_NE(std::string(e.what()).find("System Error.  Code: "), std::string::npos);
    }
}
#endif

} // namespace upd::version
