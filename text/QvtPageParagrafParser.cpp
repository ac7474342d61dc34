#include "text/QvtPageParagrafParser.h"

#include <limits>

#include "base/Cp1250.h"
#include "base/Exception.h"

namespace upd::text {

namespace {

bool IsBlank(char c) noexcept { return c == '\t' || c == '\n' || c == '\r' || c == ' '; }

bool IsTagChar(char c) noexcept
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '/' || c == '_';
}

std::string LowerAscii(std::string s)
{
    for (char& c : s)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return s;
}

/// A number tag is canonical decimal: printing its value gives the tag back,
/// so "007" and values past the signed 32-bit range are not numbers.
bool ParseNumberTag(const std::string& tag, std::int32_t& value)
{
    if (tag.empty() || tag.size() > 10 || (tag.size() > 1 && tag[0] == '0'))
        return false;
    long long v = 0;
    for (char c : tag) {
        if (c < '0' || c > '9')
            return false;
        v = v * 10 + (c - '0');
    }
    if (v > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

const char* ClosingKindName(const std::string& tag)
{
    if (tag == "/p")
        return "P";
    if (tag == "/h1")
        return "H1";
    if (tag == "/h2")
        return "H2";
    if (tag == "/h3")
        return "H3";
    return nullptr;
}

enum class TState { BetweenParagraphs, TagName, BlockTag, BetweenWords, InWord, InlineTag };

class TParser {
public:
    explicit TParser(std::string_view text) : m_text(text), m_result(std::make_unique<TQvtPageListaParagrafe>()) {}

    std::unique_ptr<TQvtPageListaParagrafe> Run()
    {
        // Positions count letters, not the bytes of their UTF-8 forms.
        std::size_t i = 0;
        std::size_t letter = 0;
        while (i < m_text.size()) {
            const bool first = (static_cast<unsigned char>(m_text[i]) & 0xC0) != 0x80;
            if (Step(m_text[i], letter + (first ? 1 : 0))) {
                letter += first ? 1 : 0;
                ++i;
            }
        }
        return std::move(m_result);
    }

private:
    /// Acts on the character c at 1-based position n; false when c is left
    /// for the next state (the state changed without consuming it).
    bool Step(char c, std::size_t n)
    {
        switch (m_state) {
        case TState::BetweenParagraphs:
            if (IsBlank(c))
                return true;
            if (c != '<')
                throw Exception(Format("Eroare in dreptul caracterului de la pozitia %d", Pos(n)));
            BeginTag(TState::BlockTag);
            return true;
        case TState::TagName:
            if (IsTagChar(c)) {
                m_tag += c;
                return true;
            }
            if (c != '>')
                throw Exception(Format("Eroare in dreptul caracterului de la pozitia %d", Pos(n)));
            m_tag = LowerAscii(std::move(m_tag));
            m_state = m_afterTag;
            return false;
        case TState::BlockTag:
            BlockTag(n);
            return true;
        case TState::BetweenWords:
            if (IsBlank(c))
                return true;
            if (c == '<') {
                EndRun();
                BeginTag(TState::InlineTag);
                return true;
            }
            m_word.assign(1, c);
            m_state = TState::InWord;
            return true;
        case TState::InWord:
            if (IsBlank(c) || c == '<' || c == '>') {
                CurrentRun().Add(std::move(m_word));
                m_word.clear();
                m_state = TState::BetweenWords;
                return false;
            }
            m_word += c;
            return true;
        case TState::InlineTag:
            InlineTag(n);
            return true;
        }
        return true;
    }

    static long long Pos(std::size_t n) { return static_cast<long long>(n); }

    void BeginTag(TState after)
    {
        m_tag.clear();
        m_afterTag = after;
        m_state = TState::TagName;
    }

    void BlockTag(std::size_t n)
    {
        TQvtParagrafKind kind;
        if (m_tag == "p")
            kind = pkP;
        else if (m_tag == "h1")
            kind = pkH1;
        else if (m_tag == "h2")
            kind = pkH2;
        else if (m_tag == "h3")
            kind = pkH3;
        else if (m_tag == "ind" || m_tag == "/ind") {
            // Wraps like the 32-bit counter it is; only an absurdly long text gets there.
            auto level = static_cast<std::uint32_t>(m_indent) + (m_tag == "ind" ? 1u : ~0u);
            m_indent = static_cast<std::int32_t>(level);
            m_state = TState::BetweenParagraphs;
            return;
        } else
            throw Exception(Format("Eroare in dreptul caracterului de la pozitia %d", Pos(n)) +
                            Format(" (am gasit tag %s)", m_tag));
        m_paragraph = std::make_unique<TQvtPageParagraf>();
        m_paragraph->Kind = kind;
        m_paragraph->IndentLevel = m_indent;
        m_state = TState::BetweenWords;
    }

    void InlineTag(std::size_t n)
    {
        m_state = TState::BetweenWords;
        const std::string& t = m_tag;
        std::int32_t number = 0;
        if (t == "b" || t == "bold" || t == "strong")
            m_bold = true;
        else if (t == "/b" || t == "/bold" || t == "/strong")
            m_bold = false;
        else if (t == "i" || t == "italic")
            m_italic = true;
        else if (t == "/i" || t == "/italic")
            m_italic = false;
        else if (t == "sp")
            CurrentRun().Add(std::string(3, ' '));
        else if (t == "link") {
            m_link = true;
            m_linkId = -1;
            ++m_linkSerial;
        } else if (t == "/link")
            m_link = false;
        else if (const char* name = ClosingKindName(t)) {
            static const char* const kNames[] = {"P", "H1", "H2", "H3"};
            if (std::string_view(name) != kNames[m_paragraph->Kind])
                throw Exception(Format("Paragraful nu se poate termina cu %s", std::string(name)));
            if (m_paragraph->Count() > 0)
                m_result->Add(std::move(m_paragraph));
            m_paragraph.reset();
            m_state = TState::BetweenParagraphs;
        } else if (ParseNumberTag(t, number))
            m_linkId = number;
        else
            throw Exception(Format("Nu cunosc tag %s", t) +
                            Format(" in dreptul caracterului cu nr. %d", Pos(n)) + MarkupExcerpt(m_text, n));
    }

    TQvtWordList& CurrentRun()
    {
        if (!m_run) {
            m_run = std::make_unique<TQvtWordList>();
            m_run->Flags = static_cast<std::uint8_t>((m_bold ? wfBold : 0) | (m_italic ? wfItalic : 0) |
                                                     (m_link ? wfLink : 0));
            if (m_link) {
                m_run->LinkId = m_linkId;
                m_run->LinkGroup = m_linkSerial;
            }
        }
        return *m_run;
    }

    void EndRun()
    {
        if (m_run && m_run->Count() > 0)
            m_paragraph->Add(std::move(m_run));
        m_run.reset();
    }

    std::string_view m_text;
    std::unique_ptr<TQvtPageListaParagrafe> m_result;
    std::unique_ptr<TQvtPageParagraf> m_paragraph;
    std::unique_ptr<TQvtWordList> m_run;
    std::string m_word;
    std::string m_tag;
    TState m_state = TState::BetweenParagraphs;
    TState m_afterTag = TState::BlockTag;
    bool m_bold = false;
    bool m_italic = false;
    bool m_link = false;
    std::int32_t m_linkId = -1;
    std::int32_t m_linkSerial = kFirstLinkGroup - 1;
    std::int32_t m_indent = 0;
};

} // namespace

std::unique_ptr<TQvtPageListaParagrafe> ParseParagrafe(std::string_view text)
{
    return TParser(text).Run();
}

std::string MarkupExcerpt(std::string_view text, std::size_t n)
{
    // Letters n-20 .. n+20 (1-based) that exist, i.e. indices n-21 .. n+19.
    std::size_t first = Utf8Offset(text, n > 21 ? n - 21 : 0);
    std::size_t last = Utf8Offset(text, n + 20); // one past
    std::string out = "\n\r";
    if (first < last)
        out.append(text.substr(first, last - first));
    out += "\n\r";
    return out;
}

} // namespace upd::text
