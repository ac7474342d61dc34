#include "wizard/UpdateJournal.h"


#include "base/File.h"
#include "package/Update.h"
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

std::string FolderOf(const std::string& name)
{
    std::size_t at = name.find_last_of("\\/");
    return at == std::string::npos ? std::string() : name.substr(0, at);
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
    if (fields.size() != 4 || (fields[0] != "0" && fields[0] != "1") || fields[1].empty() || fields[2].empty() ||
        fields[3].empty())
        return false;
    entry.Existed = fields[0] == "1";
    entry.Target = fields[1];
    entry.Staged = fields[2];
    entry.Backup = fields[3];
    return true;
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
    std::string folder = FolderOf(m_fileName);
    if (!folder.empty() && !FileOrFolderExists(folder))
        ForceFolders(folder);
    ops.WriteDurable(m_fileName, Text());
}

void TUpdateJournal::Finish() noexcept
{
    if (m_fileName.empty() || Pending())
        return;
    RemoveFile(m_fileName);
    RemoveFile(m_fileName + ".tmp");
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
        text += std::string("fisier ") + (e.Existed ? "1" : "0") + "|" + e.Target + "|" + e.Staged + "|" + e.Backup +
                "\r\n";
    if (!TagFile.empty())
        text += "eticheta " + TagFile + "\r\n";
    return text;
}

bool TUpdateJournal::Parse(const std::string& text, TUpdateJournal& journal)
{
    bool first = true;
    for (const std::string& line : package::SplitLines(text)) {
        if (first) {
            if (line != kHeader)
                return false;
            first = false;
            continue;
        }
        std::size_t space = line.find(' ');
        if (space == std::string::npos)
            continue;
        std::string key = line.substr(0, space);
        std::string value = line.substr(space + 1);
        if (key == "stare") {
            for (const TStateName& s : kStates)
                if (value == s.Name)
                    journal.State = s.State;
        } else if (key == "temp" && !value.empty()) {
            journal.TempFiles.push_back(value);
        } else if (key == "fisier") {
            TJournalEntry entry;
            if (SplitEntry(value, entry))
                journal.Entries.push_back(entry);
        } else if (key == "eticheta") {
            journal.TagFile = value;
        }
    }
    return !first;
}

bool TUpdateJournal::Load(const std::string& fileName, TUpdateJournal& journal)
{
    if (!FileExists(fileName))
        return false;
    std::vector<std::uint8_t> bytes = ReadWholeFile(fileName);
    return Parse(std::string(bytes.begin(), bytes.end()), journal);
}

TUpdateJournal& RunJournal()
{
    static TUpdateJournal journal;
    return journal;
}

} // namespace upd::wizard
