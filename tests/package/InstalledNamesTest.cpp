// One installed file under its many spellings, as Windows sees it.
#include <gtest/gtest.h>

#include "base/Cp1250.h"
#include "package/InstalledNames.h"

namespace upd::package {

TEST(InstalledNamesTest, OneFileWhateverTheCaseAndTheSlashes)
{
    // Written as code page 1250 bytes, compared as texts: 0xC3 Ă / 0xE3 ă, 0xAA Ş / 0xBA ş, 0x8A Š / 0x9A š, 0xA3 Ł / 0xB3 ł, 0xBC Ľ / 0xBE ľ.
    const struct {
        const char* a;
        const char* b;
        bool same;
    } rows[] = {
        {"C:\\Pravion\\kp3.exe", "c:/pravion//KP3.EXE", true},
        {"C:\\Pravion\\\xC3\xAA.txt", "C:\\Pravion\\\xE3\xBA.txt", true},
        {"\x8A\xA3\xBC", "\x9A\xB3\xBE", true},
        {"C:\\Pravion\\\xE3.txt", "C:\\Pravion\\a.txt", false},
        {"C:\\Pravion\\\xBA.txt", "C:\\Pravion\\s.txt", false},
        {"C:\\Pravion\\a\\b.txt", "C:\\Pravion\\ab.txt", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.a) + " / " + row.b);
        EXPECT_EQ(InstalledPathKey(Cp1250ToUtf8(row.a)) == InstalledPathKey(Cp1250ToUtf8(row.b)), row.same);
    }
}

} // namespace upd::package
