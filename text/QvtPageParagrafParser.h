// The tag markup of the formatted text display and its paragraph model.
//
// Markup: paragraphs "<p>...</p>" and headings "<h1>".."<h3>" (closing tags
// name their own kind), "<ind>"/"</ind>" between paragraphs to nest them,
// and inside a paragraph "<b>"/"<bold>"/"<strong>", "<i>"/"<italic>", their
// closing forms, "<sp>" (a word of three blanks), "<link>"/"</link>" and a
// number tag such as "<5>" that gives the link its number. Tag names are
// letters, digits, "/" and "_", matched without regard to letter case.
// Whitespace is TAB, LF, CR and blank only; every other byte is text.
//
// The model: a list of paragraphs, each a list of word runs of one style,
// each a list of words. Texts are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace upd::text {

struct TQvtCuvantEcran;

/// The kind of a paragraph; selects its paragraph style.
enum TQvtParagrafKind : std::uint8_t { pkP = 0, pkH1 = 1, pkH2 = 2, pkH3 = 3 };

/// Bits of TQvtWordList::Flags.
enum : std::uint8_t { wfBold = 1, wfItalic = 2, wfLink = 4 };

/// The first value of the link serial; the first "link" tag of a text gets one more.
constexpr std::int32_t kFirstLinkGroup = 10001;

/// A run of words of one style. The style is fixed when the run is created.
class TQvtWordList {
public:
    std::uint8_t Flags = 0;
    std::vector<std::string> Words;
    /// The link number of a link run; -1 otherwise (and for a link without a number tag).
    std::int32_t LinkId = -1;
    /// Layout scratch space, not owned: empty outside a layout run.
    std::vector<TQvtCuvantEcran*> Fragments;
    /// The serial of the "link" tag that opened the link (10001, 10002, ...); -1 outside links.
    std::int32_t LinkGroup = -1;

    int Count() const noexcept { return static_cast<int>(Words.size()); }
    const std::string& operator[](int i) const { return Words.at(static_cast<std::size_t>(i)); }
    void Add(std::string word) { Words.push_back(std::move(word)); }
};

/// One paragraph or heading; owns its runs.
class TQvtPageParagraf {
public:
    std::vector<std::unique_ptr<TQvtWordList>> WordLists;
    /// Nesting depth of "ind" tags when the paragraph opened; negative when "/ind" tags outnumber them.
    std::int32_t IndentLevel = 0;
    TQvtParagrafKind Kind = pkP;

    int Count() const noexcept { return static_cast<int>(WordLists.size()); }
    TQvtWordList& operator[](int i) const { return *WordLists.at(static_cast<std::size_t>(i)); }
    void Add(std::unique_ptr<TQvtWordList> run) { WordLists.push_back(std::move(run)); }
};

/// The parse result; owns its paragraphs.
class TQvtPageListaParagrafe {
public:
    std::vector<std::unique_ptr<TQvtPageParagraf>> Items;

    int Count() const noexcept { return static_cast<int>(Items.size()); }
    TQvtPageParagraf& operator[](int i) const { return *Items.at(static_cast<std::size_t>(i)); }
    void Add(std::unique_ptr<TQvtPageParagraf> paragraph) { Items.push_back(std::move(paragraph)); }
};

/// Parses markup into a new paragraph list. Only closed paragraphs are kept; an
/// unfinished paragraph, run, word or tag at the end of the text is dropped
/// without error, as are empty runs and empty paragraphs.
/// Raises upd::Exception with one of these messages (n: 1-based letter position):
///   "Eroare in dreptul caracterului de la pozitia n" - text between paragraphs,
///       or a character not allowed in a tag name;
///   "Eroare in dreptul caracterului de la pozitia n (am gasit tag t)" - unknown
///       tag between paragraphs (n at its ">");
///   "Paragraful nu se poate termina cu P|H1|H2|H3" - closing tag of another kind;
///   "Nu cunosc tag t in dreptul caracterului cu nr. n" + MarkupExcerpt - unknown
///       tag inside a paragraph (n at its ">").
std::unique_ptr<TQvtPageListaParagrafe> ParseParagrafe(std::string_view text);

/// LF CR, the letters at 1-based positions n-20 .. n+20 that exist, LF CR.
std::string MarkupExcerpt(std::string_view text, std::size_t n);

} // namespace upd::text
