// updkit verify run as support staff run it: a real package, an installation
// inside a folder that stands for drive C:, the events on stdout.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "base/File.h"
#include "package/Md5Hash.h"
#include "package/PackageWriter.h"

namespace upd::wizard {
namespace {

namespace fs = std::filesystem;

struct TResult {
    int Status = -1;
    std::string Output;
};

class TVerifyCommandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // <build>/tests/wizard/verify_command_tests -> <build>/tools/updkit/updkit
        fs::path build = fs::read_symlink("/proc/self/exe").parent_path().parent_path().parent_path();
        m_updkit = build / "tools" / "updkit" / "updkit";
        m_dir = fs::temp_directory_path() /
                ("upd-verify-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir / "root" / "drive_c" / "Pravion");
        // Any program image will do as the stub: the package only follows it.
        std::string stub(4096, 'M');
        WriteWholeFile((m_dir / "stub.exe").string(), stub.data(), stub.size());
        m_update.Title = "Test";
        m_update.Description = "Test";
    }
    void TearDown() override { fs::remove_all(m_dir); }

    // A file of the installation and the signature that knows it as `known`.
    std::unique_ptr<package::TFileSignature> File(const std::string& windowsName, const std::string& installed,
                                                  const std::string& known)
    {
        std::string local = windowsName.substr(3);
        for (char& c : local)
            if (c == '\\')
                c = '/';
        if (!installed.empty())
            WriteWholeFile((m_dir / "root" / "drive_c" / local).string(), installed.data(), installed.size());
        auto s = std::make_unique<package::TFileSignature>();
        s->FileName = windowsName;
        s->Hash = package::MD5Text(known.data(), known.size());
        s->Size = static_cast<std::int32_t>(known.size());
        return s;
    }

    TResult Verify(bool withRoot = true)
    {
        std::string exe = (m_dir / "setup.exe").string();
        std::vector<std::uint8_t> segments(2048, 1);
        package::WritePackage((m_dir / "stub.exe").string(), exe, m_update, segments, {});
        std::string command = "\"" + m_updkit.string() + "\" verify \"" + exe + "\"";
        if (withRoot)
            command += " --root \"" + (m_dir / "root").string() + "\"";
        TResult result;
        FILE* pipe = ::popen(command.c_str(), "r");
        if (!pipe)
            return result;
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            result.Output.append(buffer, n);
        int status = ::pclose(pipe);
        result.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return result;
    }

    fs::path m_updkit, m_dir;
    package::TUpdate m_update;
};

TEST_F(TVerifyCommandTest, MatchingInstallationPrintsSourcesAndOk)
{
    auto set = std::make_unique<package::TMustHaveSet>();
    set->Add(File("C:\\Pravion\\a.txt", "aaa", "aaa"));
    m_update.MustHaveSets.Add(std::move(set));
    auto patch = std::make_unique<package::TPatchSet>();
    patch->OldFiles.Add(File("C:\\Pravion\\old.txt", "", "old"));
    // A letter of code page 1250, stored as its byte, comes out as UTF-8.
    patch->OldFiles.Add(File("C:\\Pravion\\b\xC4\x83.txt", "bbb", "bbb"));
    patch->TargetFileName = "C:\\Pravion\\b\xC4\x83.txt";
    m_update.PatchSets.Add(std::move(patch));

    TResult r = Verify();
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Output, "progress 0/2\nprogress 1/2\nprogress 2/2\nsource 1 1 C:\\Pravion\\b\xC4\x83.txt\nok\n");
}

TEST_F(TVerifyCommandTest, FindingsAndErrorsSetTheStatus)
{
    {
        SCOPED_TRACE("fatal finding: a missing file to patch");
        auto patch = std::make_unique<package::TPatchSet>();
        patch->OldFiles.Add(File("C:\\Pravion\\gone.txt", "", "x"));
        patch->TargetFileName = "C:\\Pravion\\gone.txt";
        m_update.PatchSets.Add(std::move(patch));
        TResult r = Verify();
        EXPECT_EQ(r.Status, 1);
        EXPECT_EQ(r.Output, "progress 0/1\nprogress 1/1\nfatal Fisierul C:\\Pravion\\gone.txt nu exista, nu pot "
                            "continua actualizarea. Va rugam contactati Tarvix. (1/1/Patch/7)\n");
    }
    {
        SCOPED_TRACE("fatal finding: a changed text file");
        m_update = package::TUpdate{};
        auto set = std::make_unique<package::TMustHaveSet>();
        set->Add(File("C:\\Pravion\\a.txt", "changed", "aaa"));
        m_update.MustHaveSets.Add(std::move(set));
        TResult r = Verify();
        EXPECT_EQ(r.Status, 1);
        EXPECT_NE(r.Output.find("fatal Fisierul C:\\Pravion\\a.txt a fost corupt"), std::string::npos) << r.Output;
    }
    {
        SCOPED_TRACE("error: no package in the executable");
        std::string command = "\"" + m_updkit.string() + "\" verify \"" + (m_dir / "stub.exe").string() + "\"";
        FILE* pipe = ::popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char buffer[256] = {};
        std::size_t n = std::fread(buffer, 1, sizeof buffer - 1, pipe);
        int status = ::pclose(pipe);
        EXPECT_EQ(WEXITSTATUS(status), 2);
        EXPECT_EQ(std::string(buffer, n), "error Exception: Nu gasesc header!\n");
    }
}

} // namespace
} // namespace upd::wizard
