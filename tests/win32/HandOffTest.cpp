// The hand-off to the payroll program: what is held from the update's commit
// to the start, and whose rights the start uses. Wine gives every process
// the same administrator token, so the desktop user's side is a stand-in
// that records what the start asked of it.
#include <gtest/gtest.h>

#include <filesystem>

#include "base/File.h"
#include "base/Win32_win32.h"
#include "package/Md5Hash.h"
#include "package/Update.h"
#include "wizard/HandOff_win32.h"

namespace upd::wizard {
namespace {

// A folder of its own per test: ctest runs them side by side.
std::string Folder()
{
    return std::string("C:\\upd-handoff-") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
}
std::string Program()
{
    return Folder() + "\\kp3.exe";
}

// The desktop user: a token that is an event (any handle will do), and a
// record of what the start passed on.
class TRecordingSession : public version::TUserSession {
public:
    bool HasUser = true;
    bool HasEnvironment = true;
    HANDLE Token = nullptr;
    int Starts = 0;
    HANDLE StartedToken = nullptr;
    std::wstring Application, CommandLine, UserEnvironment, Folder;

    TKernelHandle DesktopUserToken() override
    {
        if (!HasUser)
            return TKernelHandle();
        TKernelHandle token(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
        Token = token.Get();
        return token;
    }
    std::wstring Environment(HANDLE token) override
    {
        EXPECT_EQ(token, Token) << "the environment is not the shell user's";
        return HasEnvironment ? std::wstring(L"USERPROFILE=C:\\users\\om\0TEMP=C:\\users\\om\\Temp\0\0", 46)
                              : std::wstring();
    }
    TKernelHandle CreateWithToken(HANDLE token, const std::wstring& application, std::wstring commandLine,
                                  const std::wstring& environment, const std::wstring& folder) override
    {
        ++Starts;
        StartedToken = token;
        Application = application;
        CommandLine = commandLine;
        UserEnvironment = environment;
        Folder = folder;
        return TKernelHandle(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    }
};

class THandOffTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::remove_all(Folder());
        std::filesystem::create_directories(Folder());
        WriteWholeFile(Program(), "MZ kp3 nou", 10);
    }
    void TearDown() override
    {
        m_handOff.Release();
        std::error_code ignored;
        std::filesystem::remove_all(Folder(), ignored);
    }
    bool Hold(const std::string& digest)
    {
        m_why.clear();
        return m_handOff.Hold(Program(), Folder(), digest, m_why);
    }

    THandOff m_handOff;
    TRecordingSession m_session;
    std::string m_why;
};

TEST_F(THandOffTest, StartsTheVerifiedFileAsTheShellsUserInItsFolder)
{
    ASSERT_TRUE(Hold(package::FileMD5Text(Program()))) << m_why;
    EXPECT_EQ(m_handOff.Digest(), package::FileMD5Text(Program()));
    std::string why;
    EXPECT_EQ(m_handOff.Start(kPayrollArgument, m_session, why), THandOffResult::Started) << why;
    EXPECT_EQ(m_session.Starts, 1);
    EXPECT_EQ(m_session.StartedToken, m_session.Token);
    EXPECT_EQ(m_session.Application, Wide(Program()));
    EXPECT_EQ(m_session.CommandLine, L"\"" + Wide(Program()) + L"\" pregateste_kelmira");
    EXPECT_EQ(m_session.UserEnvironment.substr(0, 11), L"USERPROFILE");
    EXPECT_EQ(m_session.Folder, Wide(Folder()));
    // One start per hold.
    EXPECT_FALSE(m_handOff.Held());
    EXPECT_EQ(m_handOff.Start(kPayrollArgument, m_session, why), THandOffResult::NotVerified);
    EXPECT_EQ(m_session.Starts, 1);
}

TEST_F(THandOffTest, WithoutADesktopUserNothingStarts)
{
    ASSERT_TRUE(Hold(std::string())) << m_why;
    m_session.HasUser = false;
    std::string why;
    EXPECT_EQ(m_handOff.Start(kPayrollArgument, m_session, why), THandOffResult::NoDesktopUser);
    EXPECT_EQ(m_session.Starts, 0);
    EXPECT_NE(THandOff::NotStartedMessage(THandOffResult::NoDesktopUser, why).find("Porniti dumneavoastra programul Pravion"),
              std::string::npos);
}

TEST_F(THandOffTest, NoUserEnvironmentIsAnErrorNotTheWizardsOwn)
{
    ASSERT_TRUE(Hold(std::string())) << m_why;
    m_session.HasEnvironment = false;
    std::string why;
    EXPECT_THROW(m_handOff.Start(kPayrollArgument, m_session, why), EOSError);
    EXPECT_EQ(m_session.Starts, 0);
}

// What a program of the user tries against the held file and folder, as
// Windows programs do (through the share modes): every change is refused
// until the start.
TEST_F(THandOffTest, TheHeldFileAndFolderCannotBeExchanged)
{
    ASSERT_TRUE(Hold(std::string())) << m_why;
    const std::string renamedFolder = Folder() + "-alt";
    struct Case {
        const char* Name;
        bool (*Try)();
    };
    const Case cases[] = {
        {"rename the program", [] { return ::MoveFileW(Wide(Program()).c_str(), Wide(Program() + ".old").c_str()) != 0; }},
        {"delete the program", [] { return ::DeleteFileW(Wide(Program()).c_str()) != 0; }},
        {"write the program",
         [] {
             TFileHandle h(::CreateFileW(Wide(Program()).c_str(), GENERIC_WRITE,
                                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                         0, nullptr));
             return static_cast<bool>(h);
         }},
        {"rename the folder",
         [] { return ::MoveFileW(Wide(Folder()).c_str(), Wide(Folder() + "-alt").c_str()) != 0; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_FALSE(c.Try());
        EXPECT_EQ(::GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    }
    std::string why;
    EXPECT_EQ(m_handOff.Start(kPayrollArgument, m_session, why), THandOffResult::Started) << why;
    // Released with the start.
    EXPECT_TRUE(::MoveFileW(Wide(Program()).c_str(), Wide(Program() + ".old").c_str()));
}

TEST_F(THandOffTest, AFileThatIsNotTheVerifiedOneIsNeitherHeldNorStarted)
{
    struct Case {
        const char* Name;
        void (*Prepare)();
        const char* Reason;
    };
    const Case cases[] = {
        {"other content", [] {}, "continutul difera"},
        {"a second hard link",
         [] { ASSERT_TRUE(::CreateHardLinkW(Wide(Folder() + "\\alt.exe").c_str(), Wide(Program()).c_str(), nullptr)); },
         "mai multe nume"},
        {"missing", [] { std::filesystem::remove(Program()); }, "nu poate fi deschis"},
        {"a folder", [] { std::filesystem::remove(Program()); std::filesystem::create_directory(Program()); },
         "nu poate fi deschis"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        SetUp();
        c.Prepare();
        const std::string digest = std::string(c.Name) == "other content" ? std::string(32, 'A') : std::string();
        EXPECT_FALSE(Hold(digest));
        EXPECT_NE(m_why.find(c.Reason), std::string::npos) << m_why;
        EXPECT_FALSE(m_handOff.Held());
        std::string why;
        EXPECT_EQ(m_handOff.Start(kPayrollArgument, m_session, why), THandOffResult::NotVerified);
        EXPECT_EQ(why, m_why);
        EXPECT_EQ(m_session.Starts, 0);
        EXPECT_NE(THandOff::NotStartedMessage(THandOffResult::NotVerified, why).find("nu il pornesc"),
                  std::string::npos);
    }
}

TEST_F(THandOffTest, ThePackagesNewDigestOfThePayrollProgramIsTheOneExpected)
{
    package::TUpdate update;
    EXPECT_EQ(ExpectedDigest(update, kPayrollProgram), "") << "a package that leaves it as it was";
    for (const char* target : {"C:\\Pravion\\salarii.dat", "c:\\PRAVION\\KP3.EXE"}) {
        auto set = std::make_unique<package::TPatchSet>();
        set->TargetFileName = target;
        set->NewHash = std::string(32, target[3] == 'P' ? 'B' : 'C');
        update.PatchSets.Add(std::move(set));
    }
    EXPECT_EQ(ExpectedDigest(update, kPayrollProgram), std::string(32, 'B'));
}

} // namespace
} // namespace upd::wizard
