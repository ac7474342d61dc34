#include "text/QvtPageParagrafParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/Exception.h"
#include "text/LetterCodes.h"

namespace upd::text {
namespace {

// A compact picture of a parse: one line per run, "kind/indent flags id group: w|w|w".
std::vector<std::string> Describe(const TQvtPageListaParagrafe& list)
{
    std::vector<std::string> out;
    for (int p = 0; p < list.Count(); ++p) {
        const auto& para = list[p];
        for (int r = 0; r < para.Count(); ++r) {
            const auto& run = para[r];
            std::string line = std::to_string(p) + ":" + std::to_string(int(para.Kind)) + "/" +
                               std::to_string(para.IndentLevel) + " " + std::to_string(int(run.Flags)) + " " +
                               std::to_string(run.LinkId) + " " + std::to_string(run.LinkGroup) + ":";
            for (int w = 0; w < run.Count(); ++w)
                line += (w ? "|" : " ") + run[w];
            out.push_back(line);
        }
    }
    return out;
}

std::string ErrorOf(const std::string& text)
{
    try {
        ParseParagrafe(text);
    } catch (const Exception& e) {
        return e.what();
    }
    return "(no error)";
}

TEST(ParseParagrafeTest, Models)
{
    struct Row {
        const char* text;
        std::vector<std::string> expected;
    } rows[] = {
        {"", {}},
        {" \t\r\n", {}},
        {"<p></p>", {}},
        {"<p><b></b></p>", {}},
        {"<p>x", {}},
        {"<p>x</p><p>y", {"0:0/0 0 -1 -1: x"}},
        {"<P>x</P>", {"0:0/0 0 -1 -1: x"}},
        {"<p><0>x</p>", {"0:0/0 0 -1 -1: x"}},
        {"<ind><p>x</p></ind><p>y</p>", {"0:0/1 0 -1 -1: x", "1:0/0 0 -1 -1: y"}},
        {"</ind></ind><h3>x</h3>", {"0:3/-2 0 -1 -1: x"}},
        {"<p>a <sp> b</p>", {"0:0/0 0 -1 -1: a", "0:0/0 0 -1 -1:    |b"}},
        {"<p>a<b>b</b>c</p>", {"0:0/0 0 -1 -1: a", "0:0/0 1 -1 -1: b", "0:0/0 0 -1 -1: c"}},
        // Every tag ends the run, even one that changes nothing.
        {"<p><b>a<b>b</p>", {"0:0/0 1 -1 -1: a", "0:0/0 1 -1 -1: b"}},
        // A ">" in running text ends the word in front of it and starts the next one.
        {"<p>a>b c></p>", {"0:0/0 0 -1 -1: a|>b|c|>"}},
        // Line breaks separate words; control bytes and high bytes are text.
        {"<h1>\r\nun\tdoi\x01\xE3\r\n</h1>", {"0:1/0 0 -1 -1: un|doi\x01\xE3"}},
        {"<p><link><5>Aici</link> textul</p>", {"0:0/0 4 5 10001: Aici", "0:0/0 0 -1 -1: textul"}},
        // Bold and italic outlive the paragraph; the link number outlives "/link" but "link" resets it.
        {"<p><b><i>a</p><h2>b</i></b>c<link>d<7>e</link>f<link>g</h2>",
         {"0:0/0 3 -1 -1: a", "1:2/0 3 -1 -1: b", "1:2/0 0 -1 -1: c", "1:2/0 4 -1 10001: d",
          "1:2/0 4 7 10001: e", "1:2/0 0 -1 -1: f", "1:2/0 4 -1 10002: g"}},
        // A link that spans a style change and a paragraph end keeps one group.
        {"<p><link><3>a<b>b</p><p>c</link></p>",
         {"0:0/0 4 3 10001: a", "0:0/0 5 3 10001: b", "1:0/0 5 3 10001: c"}},
        {"<p><2147483647>x</p>", {"0:0/0 0 -1 -1: x"}},
        {"<p><strong>a</STRONG><Italic>b</italic><BOLD>c</bold></p>",
         {"0:0/0 1 -1 -1: a", "0:0/0 2 -1 -1: b", "0:0/0 1 -1 -1: c"}},
        // An unfinished tag at the end is dropped silently.
        {"<p>x</p><p", {"0:0/0 0 -1 -1: x"}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(Describe(*ParseParagrafe(row.text)), row.expected);
    }
}

TEST(ParseParagrafeTest, Errors)
{
    struct Row {
        std::string text;
        std::string expected;
    } rows[] = {
        {"x", "Eroare in dreptul caracterului de la pozitia 1"},
        {"<p x>", "Eroare in dreptul caracterului de la pozitia 3"},
        {"<p>x</p>\r\n y", "Eroare in dreptul caracterului de la pozitia 12"},
        {"<p><b-></p>", "Eroare in dreptul caracterului de la pozitia 6"},
        {"<q>", "Eroare in dreptul caracterului de la pozitia 3 (am gasit tag q)"},
        {"<>", "Eroare in dreptul caracterului de la pozitia 2 (am gasit tag )"},
        {"<B>x</b>", "Eroare in dreptul caracterului de la pozitia 3 (am gasit tag b)"},
        {"<p>x</p></P>", "Eroare in dreptul caracterului de la pozitia 12 (am gasit tag /p)"},
        {"<p>x</h1>", "Paragraful nu se poate termina cu H1"},
        {"<h1>x</p>", "Paragraful nu se poate termina cu P"},
        {"<h1>x</h2>", "Paragraful nu se poate termina cu H2"},
        {"<h2></h3>", "Paragraful nu se poate termina cu H3"},
        {"<p><q></p>", "Nu cunosc tag q in dreptul caracterului cu nr. 6\n\r<p><q></p>\n\r"},
        {"<p><007>x</p>", "Nu cunosc tag 007 in dreptul caracterului cu nr. 8\n\r<p><007>x</p>\n\r"},
        {"<p><2147483648>x</p>",
         "Nu cunosc tag 2147483648 in dreptul caracterului cu nr. 15\n\r<p><2147483648>x</p>\n\r"},
        {"<p><P>x</p>", "Nu cunosc tag p in dreptul caracterului cu nr. 6\n\r<p><P>x</p>\n\r"},
        {"<p><IND></p>", "Nu cunosc tag ind in dreptul caracterului cu nr. 8\n\r<p><IND></p>\n\r"},
        {"<p><></p>", "Nu cunosc tag  in dreptul caracterului cu nr. 5\n\r<p><></p>\n\r"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ErrorOf(row.text), row.expected);
    }
}

TEST(ParseParagrafeTest, ExcerptIsClippedToFortyOnePositions)
{
    // The bad tag's ">" sits at position 34; the excerpt covers positions 14 to 54.
    std::string text = "<p>" + std::string(26, 'a') + " <zz>" + std::string(30, 'b') + "</p>";
    std::string expected = "Nu cunosc tag zz in dreptul caracterului cu nr. 34\n\r" + text.substr(13, 41) + "\n\r";
    EXPECT_EQ(ErrorOf(text), expected);

    EXPECT_EQ(MarkupExcerpt("abc", 1), "\n\rabc\n\r");
    EXPECT_EQ(MarkupExcerpt(std::string(50, 'x'), 21), "\n\r" + std::string(41, 'x') + "\n\r");
    EXPECT_EQ(MarkupExcerpt(std::string(50, 'x'), 50), "\n\r" + std::string(21, 'x') + "\n\r");

    // Positions and the excerpt count letters: each a-breve is two bytes here.
    std::string letters;
    for (int i = 0; i < 26; ++i)
        letters += "\xC4\x83";
    text = "<p>" + letters + " <zz>" + std::string(30, 'b') + "</p>";
    expected = "Nu cunosc tag zz in dreptul caracterului cu nr. 34\n\r" + text.substr(23, 16 * 2 + 5 + 20) + "\n\r";
    EXPECT_EQ(ErrorOf(text), expected);
}

TEST(ParseParagrafeTest, PackageDescriptionGivesSixRuns)
{
    std::string stored = "Se va actualiza programul *b*Pravion*/b* @si programul *b*Kelmira*/b* de la varianta CD "
                         "*b*#173*/b*";
    auto list = ParseParagrafe("<p>" + StarsToTags(DecodeDiacritics(stored)) + "</p>");
    std::vector<std::string> expected = {
        "0:0/0 0 -1 -1: Se|va|actualiza|programul",
        "0:0/0 1 -1 -1: Pravion",
        "0:0/0 0 -1 -1: \xC5\x9Fi|programul",
        "0:0/0 1 -1 -1: Kelmira",
        "0:0/0 0 -1 -1: de|la|varianta|CD",
        "0:0/0 1 -1 -1: #173",
    };
    EXPECT_EQ(Describe(*list), expected);
}

} // namespace
} // namespace upd::text
