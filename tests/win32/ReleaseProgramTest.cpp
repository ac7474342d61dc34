// The release program, what users get: its size, the DLLs it imports and the
// flags of its image, and that `updkit build` appends packages to it unless
// the manifest names another program.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>

#include "TestPaths.h"
#include "UiDriver_win32.h"
#include "base/File.h"
#include "package/ImageSlot.h"
#include "package/PatchDataEngine.h"

namespace upd::uitest {
namespace {

using Bytes = std::vector<std::uint8_t>;

// DLLs that Windows always takes from its own folder (the known DLLs of
// Windows 7 and of Windows 10 alike), whatever lies beside the program.
const char* const kKnownDlls[] = {"kernel32.dll", "user32.dll",   "gdi32.dll",    "comdlg32.dll", "msvcrt.dll",
                                  "advapi32.dll", "shell32.dll",  "shlwapi.dll",  "ole32.dll",    "oleaut32.dll",
                                  "imm32.dll",    "ws2_32.dll",   "ntdll.dll"};

std::uint32_t U32(const Bytes& b, std::size_t at)
{
    return at + 4 <= b.size() ? static_cast<std::uint32_t>(b[at] | (b[at + 1] << 8) | (b[at + 2] << 16)) |
                                    (static_cast<std::uint32_t>(b[at + 3]) << 24)
                              : 0;
}
std::uint16_t U16(const Bytes& b, std::size_t at)
{
    return at + 2 <= b.size() ? static_cast<std::uint16_t>(b[at] | (b[at + 1] << 8)) : 0;
}

/// The few parts of a PE32+ (64-bit) or PE32 (32-bit) image that the checks read.
struct TImage {
    explicit TImage(const std::string& file) : bytes(ReadWholeFile(file))
    {
        pe = U32(bytes, 0x3C);
        optional = pe + 24;
        wide = U16(bytes, optional) == 0x20B;
        directories = optional + (wide ? 112 : 96);
        const std::size_t sections = optional + U16(bytes, pe + 20);
        for (std::size_t i = 0; i < U16(bytes, pe + 6); ++i) {
            const std::size_t s = sections + 40 * i;
            table.push_back({U32(bytes, s + 12), std::max(U32(bytes, s + 8), U32(bytes, s + 16)), U32(bytes, s + 20)});
        }
    }
    std::uint16_t Characteristics() const { return U16(bytes, pe + 22); }
    std::uint32_t DirectoryRva(int index) const { return U32(bytes, directories + 8 * index); }
    std::optional<std::size_t> Offset(std::uint32_t rva) const
    {
        for (const auto& s : table)
            if (rva >= s.rva && rva - s.rva < s.size)
                return s.raw + (rva - s.rva);
        return std::nullopt;
    }
    /// The names of the DLLs in the import table (directory 1) or the delay
    /// import table (directory 13), lower-cased.
    std::vector<std::string> Imports(int directory) const
    {
        const bool delay = directory == 13;
        const std::size_t size = delay ? 32 : 20, nameAt = delay ? 4 : 12;
        const std::uint64_t base = wide ? U32(bytes, optional + 24) | (std::uint64_t{U32(bytes, optional + 28)} << 32)
                                        : U32(bytes, optional + 28);
        std::vector<std::string> names;
        auto at = Offset(DirectoryRva(directory));
        // The delay directory's size counts its descriptors; the import table ends with an empty one.
        const std::size_t count = delay ? U32(bytes, directories + 8 * directory + 4) / size : SIZE_MAX;
        for (std::size_t d = at.value_or(bytes.size()), n = 0;
             n < count && d + size <= bytes.size() && U32(bytes, d + nameAt) != 0; d += size, ++n) {
            std::uint64_t rva = U32(bytes, d + nameAt);
            // Old-style delay descriptors hold addresses, not RVAs.
            if (delay && !(U32(bytes, d) & 1))
                rva -= base;
            auto name = Offset(static_cast<std::uint32_t>(rva));
            std::string text;
            for (std::size_t i = name.value_or(bytes.size()); i < bytes.size() && bytes[i] != 0; ++i)
                text += static_cast<char>(std::tolower(bytes[i]));
            names.push_back(text);
        }
        return names;
    }

    struct TSection {
        std::uint32_t rva, size, raw;
    };
    Bytes bytes;
    std::size_t pe = 0, optional = 0, directories = 0;
    bool wide = false; ///< PE32+
    std::vector<TSection> table;
};

std::string ReleaseProgram() { return BuildPath("release/setup.exe"); }

TEST(ReleaseProgramTest, SizeIsAtMostOneMegabyte)
{
    const auto size = ReadWholeFile(ReleaseProgram()).size();
    // Each build makes the program for its own processor: this one's.
    const bool wide = TImage(ReleaseProgram()).wide;
    EXPECT_EQ(wide, sizeof(void*) == 8);
    std::printf("release program (%s): %zu bytes\n", wide ? "x86_64" : "i686", size);
    RecordProperty("release_program_bytes", static_cast<int>(size));
    EXPECT_LE(size, 1024u * 1024u);
}

// The release program reads nothing from its environment: the names of the
// test build's hooks are nowhere in its image, neither as single-byte nor as
// UTF-16 texts (the test build has them, which shows that the search finds them).
TEST(ReleaseProgramTest, HoldsNoTestHook)
{
    auto holds = [](const Bytes& image, const std::string& name) {
        std::string wide;
        for (char c : name)
            wide += std::string(1, c) + '\0';
        const std::string_view all(reinterpret_cast<const char*>(image.data()), image.size());
        return all.find(name) != std::string_view::npos || all.find(wide) != std::string_view::npos;
    };
    const Bytes release = ReadWholeFile(ReleaseProgram());
    const Bytes test = ReadWholeFile(BuildPath("app/setup.exe"));
    for (const char* name : {"UPD_TEST_FAIL_FILE_OP", "UPD_TEST_FILE_OP_DELAY_MS", "UPD_TEST_PROGRESS_DELAY_MS",
                             "UPD_TEST_IN_USE_WAIT_MS"}) {
        EXPECT_FALSE(holds(release, name)) << name;
        EXPECT_TRUE(holds(test, name)) << name;
    }
}

// The loader looks beside the program first for any DLL that is not a known
// one; the image also asks newer Windows to take its imports from the system
// folder only, and to run from the swap file when started from a diskette.
TEST(ReleaseProgramTest, ImportsOnlyDllsTheSystemTakesFromItsOwnFolder)
{
    for (const std::string& program : {ReleaseProgram(), BuildPath("app/setup.exe")}) {
        SCOPED_TRACE(program);
        const TImage image(program);
        const auto imports = image.Imports(1);
        EXPECT_FALSE(imports.empty());
        for (const std::string& dll : imports)
            EXPECT_NE(std::find(std::begin(kKnownDlls), std::end(kKnownDlls), dll), std::end(kKnownDlls)) << dll;
        // The windowing DLLs come later, delay-loaded from the system folder:
        // known ones too, so that an older Windows takes them from there as well.
        const auto delayed = image.Imports(13);
        EXPECT_NE(std::find(delayed.begin(), delayed.end(), "user32.dll"), delayed.end());
        for (const std::string& dll : delayed)
            EXPECT_NE(std::find(std::begin(kKnownDlls), std::end(kKnownDlls), dll), std::end(kKnownDlls)) << dll;

        constexpr std::uint16_t kRunFromSwap = 0x0400 | 0x0800; // removable media | network
        EXPECT_EQ(image.Characteristics() & kRunFromSwap, kRunFromSwap);

        // The dependent-load flags lie at 0x4E of the 64-bit structure, at 0x36 of the 32-bit one.
        const auto config = image.Offset(image.DirectoryRva(10));
        ASSERT_TRUE(config.has_value()) << "no load configuration";
        const std::size_t flags = image.wide ? 0x4E : 0x36;
        EXPECT_GE(U32(image.bytes, *config), flags + 2) << "the structure reaches its dependent-load flags";
        EXPECT_EQ(U16(image.bytes, *config + flags), 0x0800) << "LOAD_LIBRARY_SEARCH_SYSTEM32";
    }
}

TEST(ReleaseProgramTest, UpdkitBuildAppendsToItByDefault)
{
    test::TTempDir dir;
    const std::string manifest = R"({"title": "Titlu", "description": "Descriere", "release": 1,
                                     "release_date": "azi", "tag_file_name": "tag.txt"})";
    dir.Write("kit.json", manifest);
    const std::string updkit = BuildPath("release/updkit.exe");
    ASSERT_EQ(RunAndWait("\"" + updkit + "\" build kit.json -o setup.exe", dir.Path()), 0);

    const Bytes program = ReadWholeFile(ReleaseProgram());
    Bytes package = ReadWholeFile(dir.File("setup.exe"));
    ASSERT_GT(package.size(), program.size());
    const package::TPatchDataEngine engine(dir.File("setup.exe"));
    EXPECT_GE(engine.HeaderOffset, static_cast<std::int32_t>(program.size()));
    EXPECT_EQ(engine.Header.Title, "Titlu");
    // The program carries its package's identity, written into the copy only
    // (the release program keeps its empty slot); apart from that slot and
    // the image checksum, which covers the whole file, the copy is the
    // release program.
    const std::int64_t slot = package::FindImageSlot(program.data(), program.size());
    ASSERT_GE(slot, 0) << "the release program has no slot for its package's identity";
    EXPECT_FALSE(package::SlotDigest(program.data() + slot).has_value());
    const std::size_t header = static_cast<std::size_t>(engine.HeaderOffset);
    EXPECT_EQ(package::SlotStateOf(package.data(), header, package.data() + header,
                                   static_cast<std::size_t>(engine.Header.PackageSize)),
              package::TSlotState::Matches);
    const std::size_t digestAt = static_cast<std::size_t>(slot) + package::kImageSlotMarkerSize;
    std::copy_n(program.begin() + static_cast<std::ptrdiff_t>(digestAt), package::kImageSlotDigestSize,
                package.begin() + static_cast<std::ptrdiff_t>(digestAt));
    const std::size_t checksumAt = U32(program, 0x3C) + 24 + 64;
    std::copy_n(program.begin() + static_cast<std::ptrdiff_t>(checksumAt), 4,
                package.begin() + static_cast<std::ptrdiff_t>(checksumAt));
    EXPECT_TRUE(std::equal(program.begin(), program.end(), package.begin())) << "not the release program";
}

} // namespace
} // namespace upd::uitest
