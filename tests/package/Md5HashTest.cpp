#include "package/Md5Hash.h"

#include "TestPaths.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <random>

#ifdef _WIN32
#include "base/Win32_win32.h"
#endif

namespace upd::package {

namespace {

std::string RandomBytes(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& b : bytes)
        b = static_cast<char>(random());
    return bytes;
}

} // namespace

TEST(Md5HashTest, Rfc1321TestSuite)
{
    struct Row {
        const char* input;
        const char* digest;
    } rows[] = {
        {"", "D41D8CD98F00B204E9800998ECF8427E"},
        {"a", "0CC175B9C0F1B6A831C399E269772661"},
        {"abc", "900150983CD24FB0D6963F7D28E17F72"},
        {"message digest", "F96B697D7CB7938D525A2F31AAF161D0"},
        {"abcdefghijklmnopqrstuvwxyz", "C3FCD3D76192E4007DFB496CCA67E13B"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "D174AB98D277D9F5A5611C2C9F419D9F"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57EDF4A22BE3C955AC49DA2E2107B67A"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.input);
        EXPECT_EQ(MD5Text(row.input, std::strlen(row.input)), row.digest);
    }
    // An empty range may come as a null pointer.
    EXPECT_EQ(MD5Text(nullptr, 0), "D41D8CD98F00B204E9800998ECF8427E");
}

TEST(Md5HashTest, SplitUpdatesEqualOneShot)
{
    std::string data = RandomBytes(3000, 7);
    std::string whole = MD5Text(data.data(), data.size());
    for (std::size_t split : {0, 1, 55, 56, 63, 64, 65, 127, 128, 1000, 2999, 3000}) {
        SCOPED_TRACE(split);
        THashAlgMD5Engine::TContext context;
        THashAlgMD5Engine::Init(context);
        THashAlgMD5Engine::Update(context, data.data(), split);
        // A third piece of one byte at a time crosses block edges unaligned.
        std::size_t second = (data.size() - split) / 2;
        THashAlgMD5Engine::Update(context, data.data() + split, second);
        for (std::size_t i = split + second; i < data.size(); ++i)
            THashAlgMD5Engine::Update(context, data.data() + i, 1);
        THashDigest digest{};
        THashAlgMD5Engine::Final(context, digest.data());
        THashAlgMD5 md5;
        EXPECT_EQ(md5.DigestToText(digest), whole);
        // The finishing step clears the context.
        EXPECT_EQ(context.State[0], 0u);
        EXPECT_EQ(context.CountLow, 0u);
    }
}

TEST(Md5HashTest, DigestTextIsUpperCaseHexOfTheDigestSize)
{
    THashAlgMD5 md5;
    EXPECT_EQ(md5.DigestSize(), 128);
    THashDigest digest{};
    for (int i = 0; i < 40; ++i)
        digest[i] = static_cast<std::uint8_t>(0xA0 + i);
    EXPECT_EQ(md5.DigestToText(digest), "A0A1A2A3A4A5A6A7A8A9AAABACADAEAF");
}

TEST(Md5HashTest, FileMD5TextOfMissingFileIsEmpty)
{
    test::TTempDir dir;
    EXPECT_EQ(FileMD5Text(dir.File("missing.bin")), "");
    // A folder cannot be hashed either.
    EXPECT_EQ(FileMD5Text(dir.Path()), "");
}

#ifndef _WIN32
// The system's md5sum agrees around every block boundary and on a few MB.
TEST(Md5HashTest, AgreesWithMd5sum)
{
    test::TTempDir dir;
    for (std::size_t size : {0, 1, 55, 56, 63, 64, 65, 1023, 1024, 1025, 1048575, 1048576, 1048577, 3 << 20}) {
        SCOPED_TRACE(size);
        std::string file = dir.Write("f" + std::to_string(size), RandomBytes(size, static_cast<unsigned>(size)));
        std::string command = "md5sum '" + file + "'";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[128] = {};
        ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
        pclose(pipe);
        std::string expected(line, 32);
        for (auto& c : expected)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(FileMD5Text(file), expected);
    }
}
#else
// Hashing allows other readers but denies writers: a file that another
// handle holds open for writing cannot be hashed, one open for reading can.
TEST(Md5HashTest, FileOpenForWritingCannotBeHashed)
{
    test::TTempDir dir;
    std::string file = dir.Write("locked.bin", "abc");
    HANDLE writer = CreateFileA(file.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileMD5Text(file), "");
    CloseHandle(writer);

    HANDLE reader = CreateFileA(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    EXPECT_EQ(FileMD5Text(file), "900150983CD24FB0D6963F7D28E17F72");
    CloseHandle(reader);
}
#endif

} // namespace upd::package
