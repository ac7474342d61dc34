#include "wizard/UpdateJournal.h"

#include <cctype>

#include "base/Cp1250.h"
#include "base/File.h"
#include "package/DuplicateNames.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

constexpr const char* kHeader = "Jurnal de actualizare 1";

struct TStateName {
    TJournalState State;
    const char* Name;
};
constexpr TStateName kStates[] = {
    {TJournalState::Gathering, "adunare"},
    {TJournalState::Preparing, "pregatire"},
    {TJournalState::Replacing, "inlocuire"},
    {TJournalState::Committed, "incheiat"},
};

// The file's bytes are code page 1250, a letter the page lacks written as
// kOtherLetter and its UTF-8 form: journals left by earlier wizards read the same.
constexpr char kOtherLetter = '\x1A';

std::string JournalBytes(std::string_view text)
{
    std::string bytes;
    bytes.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t code = 0;
        const bool letter = NextUtf8(text, i, code);
        const unsigned char byte = letter ? UnicodeToCp1250(code) : '?';
        if (!letter || byte != '?' || code == '?') {
            bytes += static_cast<char>(byte);
        } else {
            bytes += kOtherLetter;
            AppendUtf8(bytes, code);
        }
    }
    return bytes;
}

std::string JournalTextOf(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const unsigned char byte = static_cast<unsigned char>(bytes[i++]);
        std::size_t at = i;
        char32_t code = 0;
        if (byte == static_cast<unsigned char>(kOtherLetter) && at < bytes.size() && NextUtf8(bytes, at, code) &&
            code >= 0x80 && UnicodeToCp1250(code) == '?') {
            AppendUtf8(text, code);
            i = at;
        } else {
            AppendUtf8(text, Cp1250ToUnicode(byte));
        }
    }
    return text;
}

// Splits "a|b|c|d" into its four fields; false for any other shape.
bool SplitEntry(const std::string& text, TJournalEntry& entry)
{
    std::vector<std::string> fields;
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = text.find('|', start);
        fields.push_back(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
        if (bar == std::string::npos)
            break;
        start = bar + 1;
    }
    if (fields.size() != 4 || (fields[0] != "0" && fields[0] != "1"))
        return false;
    entry.Existed = fields[0] == "1";
    entry.Target = fields[1];
    entry.Staged = fields[2];
    entry.Backup = fields[3];
    return true;
}

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// An absolute path of this system without "." or ".." steps: what the wizard
// itself writes. Anything relative would depend on the folder the next start
// happens to run in.
bool IsPlainAbsolutePath(const std::string& path)
{
#ifdef _WIN32
    const bool absolute = (path.size() >= 3 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':' &&
                           IsSeparator(path[2])) ||
                          (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]));
#else
    const bool absolute = !path.empty() && path[0] == '/';
#endif
    if (!absolute || path.find('|') != std::string::npos)
        return false;
    std::size_t start = 0;
    for (;;) {
        std::size_t end = start;
        while (end < path.size() && !IsSeparator(path[end]))
            ++end;
        std::string step = path.substr(start, end - start);
        if (step == "." || step == "..")
            return false;
        if (end == path.size())
            return !step.empty();
        start = end + 1;
    }
}

bool IsUnder(const std::string& path, const TJournalPlaces& places)
{
    if (places.Folders.empty())
        return true;
    const std::string name = package::CanonicalPathName(path);
    for (const std::string& folder : places.Folders) {
        std::string root = package::CanonicalPathName(folder);
        if (!root.empty() && root.back() != '\\')
            root += '\\';
        if (name.size() > root.size() && name.compare(0, root.size(), root) == 0)
            return true;
    }
    return false;
}

// `name` is `target` + `suffix` + a number from 1 without leading zeros.
bool IsNumberedName(const std::string& name, const std::string& target, const std::string& suffix)
{
    const std::string stem = target + suffix;
    if (name.size() <= stem.size() || name.compare(0, stem.size(), stem) != 0 || name[stem.size()] == '0')
        return false;
    for (std::size_t i = stem.size(); i < name.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(name[i])))
            return false;
    return name.size() - stem.size() <= 9;
}

// The temporary files of a run: PatchTotal_n.bin, Patch_n.Patch, Patched_n.bin.
bool IsOwnTempName(const std::string& path)
{
    std::size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    static const std::pair<const char*, const char*> kKinds[] = {
        {"PatchTotal_", ".bin"}, {"Patch_", ".Patch"}, {"Patched_", ".bin"}};
    for (const auto& [prefix, extension] : kKinds) {
        const std::string head = prefix, tail = extension;
        if (name.size() <= head.size() + tail.size() || name.compare(0, head.size(), head) != 0 ||
            name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
            continue;
        bool digits = true;
        for (std::size_t i = head.size(); i < name.size() - tail.size(); ++i)
            digits = digits && std::isdigit(static_cast<unsigned char>(name[i]));
        if (digits)
            return true;
    }
    return false;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Directly inside the work folder, when it is known.
bool IsInWorkFolder(const std::string& path, const TJournalPlaces& places)
{
    if (places.WorkFolder.empty())
        return true;
    const std::size_t slash = path.find_last_of("\\/");
    return slash != std::string::npos &&
           package::CanonicalPathName(path.substr(0, slash)) == package::CanonicalPathName(places.WorkFolder);
}

// "<hex>:<hex>" or "<digits>:<digits>", as FileIdentity writes it.
bool IsIdentityText(const std::string& text)
{
    const std::size_t colon = text.find(':');
    if (colon == 0 || colon == std::string::npos || colon + 1 == text.size() || text.size() > 64)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (i != colon && !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    return true;
}

// What is wrong with one line (empty when nothing), the line added to `journal`.
std::string LineProblem(const std::string& line, TUpdateJournal& journal, bool& stateSeen, bool& tagSeen,
                        bool previousWasEntry, const TJournalPlaces& places)
{
    std::size_t space = line.find(' ');
    if (space == std::string::npos)
        return "linia " + Quoted(line) + " nu este de forma \"cheie valoare\"";
    const std::string key = line.substr(0, space);
    const std::string value = line.substr(space + 1);
    auto placed = [&](const std::string& path) -> std::string {
        if (!IsPlainAbsolutePath(path))
            return "calea " + Quoted(path) + " nu este o cale completa";
        if (!IsUnder(path, places))
            return "fisierul " + path + " nu face parte din instalare";
        return {};
    };
    if (key == "stare") {
        if (stateSeen)
            return "starea apare de doua ori";
        for (const TStateName& s : kStates) {
            if (value == s.Name) {
                journal.State = s.State;
                stateSeen = true;
                return {};
            }
        }
        return "starea " + Quoted(value) + " nu este cunoscuta";
    }
    if (key == "temp") {
        if (!IsPlainAbsolutePath(value) || !IsOwnTempName(value) || !IsInWorkFolder(value, places))
            return "fisierul " + Quoted(value) + " nu este un fisier temporar al programului de actualizare";
        journal.TempFiles.push_back(value);
        return {};
    }
    if (key == "fisier") {
        TJournalEntry entry;
        if (!SplitEntry(value, entry))
            return "linia " + Quoted(line) + " nu descrie un fisier";
        for (const std::string* path : {&entry.Target, &entry.Staged, &entry.Backup})
            if (std::string problem = placed(*path); !problem.empty())
                return problem;
        if (!IsNumberedName(entry.Staged, entry.Target, ".nou"))
            return Quoted(entry.Staged) + " nu este o copie noua a fisierului " + entry.Target;
        if (!IsNumberedName(entry.Backup, entry.Target, ".vechi"))
            return Quoted(entry.Backup) + " nu este o copie veche a fisierului " + entry.Target;
        journal.Entries.push_back(entry);
        return {};
    }
    if (key == "identitate") {
        // Belongs to the "fisier" line just before it, of a file that existed.
        const std::size_t bar = value.rfind('|');
        const std::string target = value.substr(0, bar == std::string::npos ? 0 : bar);
        const std::string identity = bar == std::string::npos ? std::string() : value.substr(bar + 1);
        if (!previousWasEntry || journal.Entries.empty() || journal.Entries.back().Target != target ||
            !journal.Entries.back().Existed || !IsIdentityText(identity))
            return "linia " + Quoted(line) + " nu descrie identitatea fisierului de pe linia dinainte";
        journal.Entries.back().Identity = identity;
        return {};
    }
    if (key == "eticheta") {
        if (tagSeen)
            return "fisierul de marcaj apare de doua ori";
        if (std::string problem = placed(value); !problem.empty())
            return problem;
        journal.TagFile = value;
        tagSeen = true;
        return {};
    }
    return "cheia " + Quoted(key) + " nu este cunoscuta";
}

} // namespace

void TUpdateJournal::AddTempFile(const std::string& name) noexcept
{
    try {
        TempFiles.push_back(name);
        Save(SystemFileOps());
    } catch (...) {
        // Only the clean-up after a kill depends on it.
    }
}

void TUpdateJournal::Save(TFileOps& ops)
{
    if (m_fileName.empty())
        return;
    ForceFolderOf(m_fileName);
    ops.WriteDurable(m_fileName, JournalBytes(Text()));
}

void TUpdateJournal::Finish() noexcept
{
    if (m_fileName.empty() || Pending())
        return;
    try {
        RemoveFile(m_fileName);
        RemoveFile(m_fileName + ".tmp");
    } catch (...) {
        // What is left is an empty run's journal: the next start removes it.
    }
}

std::string TUpdateJournal::Text() const
{
    std::string text = std::string(kHeader) + "\r\n";
    for (const TStateName& s : kStates)
        if (s.State == State)
            text += std::string("stare ") + s.Name + "\r\n";
    for (const std::string& name : TempFiles)
        text += "temp " + name + "\r\n";
    for (const TJournalEntry& e : Entries)
    {
        text += std::string("fisier ") + (e.Existed ? "1" : "0") + "|" + e.Target + "|" + e.Staged + "|" + e.Backup +
                "\r\n";
        if (e.Existed && !e.Identity.empty())
            text += "identitate " + e.Target + "|" + e.Identity + "\r\n";
    }
    if (!TagFile.empty())
        text += "eticheta " + TagFile + "\r\n";
    return text;
}

bool TUpdateJournal::Parse(const std::string& text, TUpdateJournal& journal, std::string& problem,
                           const TJournalPlaces& places)
{
    journal.State = TJournalState::Gathering;
    journal.TempFiles.clear();
    journal.Entries.clear();
    journal.TagFile.clear();
    // Every line the wizard writes ends in CR LF: anything after the last
    // one is a line cut short.
    if (text.size() < 2 || text.compare(text.size() - 2, 2, "\r\n") != 0) {
        problem = text.empty() ? "jurnalul este gol" : "ultima linie este incompleta";
        return false;
    }
    bool stateSeen = false, tagSeen = false, previousWasEntry = false;
    int number = 0;
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = text.find("\r\n", start);
        const std::string line = text.substr(start, end - start);
        start = end + 2;
        ++number;
        std::string wrong;
        if (line.find_first_of("\r\n") != std::string::npos)
            wrong = "linia se termina altfel decat cu CR LF";
        else if (number == 1)
            wrong = line == kHeader ? std::string() : "prima linie nu este " + Quoted(kHeader);
        else
            wrong = LineProblem(line, journal, stateSeen, tagSeen, previousWasEntry, places);
        previousWasEntry = line.rfind("fisier ", 0) == 0;
        if (!wrong.empty()) {
            problem = "linia " + std::to_string(number) + ": " + wrong;
            return false;
        }
    }
    if (!stateSeen) {
        problem = "lipseste linia \"stare\"";
        return false;
    }
    if (journal.State == TJournalState::Gathering && (!journal.Entries.empty() || !journal.TagFile.empty())) {
        problem = "starea \"adunare\" nu poate avea fisiere inlocuite";
        return false;
    }
    return true;
}

bool TUpdateJournal::Parse(const std::string& text, TUpdateJournal& journal)
{
    std::string problem;
    return Parse(text, journal, problem);
}

TUpdateJournal::TRead TUpdateJournal::Load(const std::string& fileName, TUpdateJournal& journal,
                                           std::string& problem, const TJournalPlaces& places)
{
    try {
        if (!FileOrFolderExists(fileName))
            return TRead::None;
        std::vector<std::uint8_t> bytes = ReadWholeFile(fileName);
        return Parse(JournalTextOf(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())),
                     journal, problem, places) ? TRead::Whole
                                                                                          : TRead::Damaged;
    } catch (const std::exception& e) {
        problem = e.what();
        return TRead::Damaged;
    }
}

bool TUpdateJournal::Load(const std::string& fileName, TUpdateJournal& journal)
{
    std::string problem;
    return Load(fileName, journal, problem) == TRead::Whole;
}

} // namespace upd::wizard
