#include "package/FileSignature.h"
#include "package/Md5Hash.h"
#include "version/VersionText.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include "base/Win32_win32.h"
#endif

namespace upd::package {

namespace {

std::string Fixture(const std::string& name)
{
    return test::BinaryDir() + "/tests/version/fixtures/" + name;
}

TFileSignature SignatureOf(const std::string& file, const std::string& version)
{
    TFileSignature s;
    s.FileName = file;
    s.Hash = FileMD5Text(file);
    s.Size = static_cast<std::int32_t>(std::filesystem::file_size(file));
    s.Version = version;
    return s;
}

} // namespace

TEST(SignatureMatchesTest, SizeVersionAndDigestMustAllAgree)
{
    test::TTempDir dir;
    std::string file = dir.Write("kp3.dat", "continut");
    TFileSignature good = SignatureOf(file, "");
    EXPECT_TRUE(SignatureMatches(good));

    TFileSignature bad = good;
    bad.Size += 1;
    EXPECT_FALSE(SignatureMatches(bad));
    bad = good;
    bad.Hash[0] = bad.Hash[0] == 'A' ? 'B' : 'A';
    EXPECT_FALSE(SignatureMatches(bad));
    // Digest texts compare case-sensitively.
    bad = good;
    for (auto& c : bad.Hash)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    EXPECT_FALSE(SignatureMatches(bad));
    // A text file has no version resource.
    bad = good;
    bad.Version = "1.0.0.0";
    EXPECT_FALSE(SignatureMatches(bad));
    TFileSignature na = good;
    na.Version = version::kInfoNotAvailable;
    EXPECT_TRUE(SignatureMatches(na));
}

TEST(SignatureMatchesTest, MissingOrUnreadableFilesNeverMatch)
{
    test::TTempDir dir;
    // Even a description that stores the "no file" answers must not match.
    TFileSignature ghost;
    ghost.FileName = dir.File("absent.exe");
    ghost.Size = -1;
    ghost.Hash = "";
    EXPECT_FALSE(SignatureMatches(ghost));
    ghost.Size = 0;
    EXPECT_FALSE(SignatureMatches(ghost));
}

#ifdef UPD_HAVE_PE_FIXTURES
TEST(SignatureMatchesTest, VersionTextsOfProgramFiles)
{
    std::string versioned = Fixture("dots.exe");
    EXPECT_TRUE(SignatureMatches(SignatureOf(versioned, "")));
    EXPECT_TRUE(SignatureMatches(SignatureOf(versioned, "2.0.16.389")));
    EXPECT_FALSE(SignatureMatches(SignatureOf(versioned, "2.0.16.390")));
    EXPECT_FALSE(SignatureMatches(SignatureOf(versioned, version::kInfoNotAvailable)));

    std::string plain = Fixture("nores.exe");
    EXPECT_TRUE(SignatureMatches(SignatureOf(plain, version::kInfoNotAvailable)));
    EXPECT_TRUE(SignatureMatches(SignatureOf(plain, "")));
}
#endif

#ifdef _WIN32
// A file of the wrong size is never opened: a file locked against every
// reader still gives a plain "no match" and no error.
TEST(SignatureMatchesTest, LockedFileWithRightSizeDoesNotMatch)
{
    test::TTempDir dir;
    std::string file = dir.Write("locked.dll", "abc");
    TFileSignature s = SignatureOf(file, "");
    HANDLE lock = CreateFileA(file.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(lock, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(SignatureMatches(s));
    CloseHandle(lock);
    EXPECT_TRUE(SignatureMatches(s));
}
#endif

} // namespace upd::package
