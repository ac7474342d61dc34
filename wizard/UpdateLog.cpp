#include "wizard/UpdateLog.h"

#include <chrono>
#include <cstdio>
#include <ctime>

#include "base/Cp1250.h"
#include "base/File.h"
#include "package/PatchDataEngine.h"
#include "package/Update.h"
#include "text/LetterCodes.h"
#include "version/FileOps.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

constexpr char kBom[] = "\xEF\xBB\xBF";

std::string Now()
{
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    const auto millis = duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", local.tm_year + 1900, local.tm_mon + 1,
                  local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(millis));
    return text;
}

// Appends to the file, creating it (with its byte order mark) when missing.
bool Append(const std::string& fileName, const std::string& bytes)
{
    TFile file;
    if (!file.TryOpen(fileName, TFileMode::ReadWrite)) {
        if (!file.TryOpen(fileName, TFileMode::CreateNew))
            return false;
        file.Write(kBom, 3);
    }
    file.Seek(file.Size());
    file.Write(bytes.data(), bytes.size());
    return true;
}

std::string FolderOf(const std::string& file)
{
    std::size_t slash = file.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

// Opens the log for writing once, moving a grown one aside first.
bool Usable(const std::string& fileName) noexcept
{
    try {
        std::string folder = FolderOf(fileName);
        if (!folder.empty())
            ForceFolders(folder);
        if (FileExists(fileName)) {
            TFile file;
            if (file.TryOpen(fileName, TFileMode::ReadShared) && file.Size() > kLogLimit) {
                file.Close();
                RenameFileOver(fileName, fileName + ".vechi");
            }
        }
        return Append(fileName, std::string());
    } catch (...) {
        return false;
    }
}

const char* VerdictName(int digit)
{
    static const char* const kNames[] = {"?",     "modified",   "between", "older", "newer",
                                         "no version", "corrupt", "missing"};
    return digit >= 1 && digit <= 7 ? kNames[digit] : kNames[0];
}

} // namespace

std::string LogText(const std::string& text)
{
    std::string flat;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c != '\r' && c != '\n') {
            flat += c;
            continue;
        }
        // "\r\n", "\n\r" and a lone break each become one separator.
        if (i + 1 < text.size() && (text[i + 1] == '\r' || text[i + 1] == '\n') && text[i + 1] != c)
            ++i;
        flat += " | ";
    }
    // The file is UTF-8 throughout: a malformed byte is written as U+FFFD.
    return Utf16ToUtf8(Utf8ToUtf16(flat));
}

void TUpdateLog::Open(const std::string& preferred, const std::string& fallbackFolder) noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fileName.clear();
    if (Usable(preferred)) {
        m_fileName = preferred;
        return;
    }
    if (fallbackFolder.empty())
        return;
    try {
        std::string folder = fallbackFolder;
        if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
            folder += '\\';
        if (Usable(folder + kLogFileName))
            m_fileName = folder + kLogFileName;
    } catch (...) {
    }
}

void TUpdateLog::AlsoWriteTo(const std::string& file) noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_copyName.clear();
    try {
        std::string folder = FolderOf(file);
        if (!folder.empty())
            ForceFolders(folder);
        if (Append(file, std::string()))
            m_copyName = file;
    } catch (...) {
    }
}

void TUpdateLog::Write(const char* event, const std::string& text) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_fileName.empty() && m_copyName.empty())
            return;
        std::string line = Now() + " " + event + " " + LogText(text) + "\r\n";
        // Each file is skipped from its first failure on: no retry at every event.
        for (std::string* name : {&m_fileName, &m_copyName}) {
            try {
                if (!name->empty() && !Append(*name, line))
                    name->clear();
            } catch (...) {
                name->clear();
            }
        }
    } catch (...) {
    }
}

void TUpdateLog::Start(const std::string& program) noexcept { Write("start", program); }

void TUpdateLog::Recovery(int what) noexcept
{
    static const char* const kTexts[] = {"nothing to do", "an interrupted replacement was undone",
                                         "an interrupted replacement was finished",
                                         "temporary files of an interrupted run were removed"};
    if (what > 0 && what < 4)
        Write("recovery", kTexts[what]);
}

void TUpdateLog::Package(const package::TPatchDataEngine& engine) noexcept
{
    try {
        const auto& header = engine.Header;
        Write("package", "title \"" + upd::text::DecodeDiacritics(header.Title) + "\" digest " + header.PackageDigest +
                             " volumes " + std::to_string(header.VolumeCount) + " files " +
                             std::to_string(engine.Update->PatchSets.Count()));
    } catch (...) {
    }
}

void TUpdateLog::Step(const char* stage) noexcept
{
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stage = stage;
        }
        Write("step", stage);
    } catch (...) {
    }
}

void TUpdateLog::Checked(std::int32_t done, std::int32_t total) noexcept
{
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastPath.clear();
            m_lastVersion.clear();
        }
        // The start and the end of the check; every set in between shows in its finding or source.
        if (done == 0 || done == total)
            Write("checked", std::to_string(done) + "/" + std::to_string(total));
    } catch (...) {
    }
}

void TUpdateLog::VersionFound(const std::string& path, const std::string& version) noexcept
{
    try {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_lastPath = path;
            m_lastVersion = version;
        }
        Write("version", path + " " + version);
    } catch (...) {
    }
}

void TUpdateLog::Finding(bool fatal, const std::string& message) noexcept
{
    try {
        // The support tag " (n/count/Kind/d)" ends every classified message.
        std::string where = "- -";
        std::string verdict = "verdict - (untagged)";
        std::size_t open = message.rfind(" (");
        if (open != std::string::npos && !message.empty() && message.back() == ')') {
            std::string tag = message.substr(open + 2, message.size() - open - 3);
            std::size_t a = tag.find('/');
            std::size_t b = a == std::string::npos ? a : tag.find('/', a + 1);
            std::size_t c = b == std::string::npos ? b : tag.find('/', b + 1);
            if (c != std::string::npos && c + 2 == tag.size() && tag[c + 1] >= '1' && tag[c + 1] <= '7') {
                std::string kind = tag.substr(b + 1, c - b - 1);
                where = (kind == "Test" ? "must-have " : kind == "Patch" ? "patch " : kind + " ") + tag.substr(0, b);
                verdict = std::string("verdict ") + tag[c + 1] + " (" + VerdictName(tag[c + 1] - '0') + ")";
            }
        }
        std::string version;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            version = m_lastPath.empty() ? std::string("-") : m_lastVersion;
            if (fatal && m_ending.empty())
                m_ending = "finding";
        }
        Write("finding", std::string(fatal ? "fatal " : "warning ") + where + " " + verdict + " version " + version +
                             " | " + message);
    } catch (...) {
    }
}

void TUpdateLog::SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) noexcept
{
    Write("source", std::to_string(n) + " " + std::to_string(index) + " " + path);
}

void TUpdateLog::DataFromProgram(const std::string& path, std::int64_t bytes) noexcept
{
    Write("data", "from the program " + path + ", " + std::to_string(bytes) + " bytes");
}

void TUpdateLog::VolumeRead(int n, const std::string& path, std::int64_t bytes, const std::string& digest) noexcept
{
    Write("volume", std::to_string(n) + " read from " + path + ", " + std::to_string(bytes) + " bytes, digest " +
                        digest);
}

void TUpdateLog::VolumeRefused(int n, const std::string& path, bool exists) noexcept
{
    Write("refused", std::to_string(n) + " " + (path.empty() ? std::string("-") : path) +
                         (exists ? " (not the volume: damaged or another file)" : " (no such file)"));
}

void TUpdateLog::Archive(const std::string& digest, bool whole) noexcept
{
    Write("archive", digest + (whole ? " ok" : " damaged"));
}

void TUpdateLog::Rebuilt(const package::TPatchSet& set) noexcept
{
    Write("rebuilt", set.TargetFileName + " from version " + std::to_string(set.SourceIndex) + ": " +
                         std::to_string(set.NewSize) + " bytes, digest " + set.NewHash);
}

void TUpdateLog::Replaced(const std::string& target) noexcept { Write("replaced", target); }

void TUpdateLog::TagWritten(const std::string& file) noexcept { Write("tag", file); }

void TUpdateLog::RolledBack(bool whole) noexcept { Write("rollback", whole ? "whole" : "incomplete"); }

void TUpdateLog::Committed() noexcept { Write("committed", "every file is in place"); }

void TUpdateLog::StepDone() noexcept
{
    std::string stage;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stage = m_stage;
        if (stage == "update")
            m_finished = true;
    }
    Write("done", stage);
}

void TUpdateLog::Error(const std::string& className, const std::string& message) noexcept
{
    try {
        std::string stage;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stage = m_stage;
            if (m_ending.empty())
                m_ending = "error";
        }
        Write("error", stage + " " + className + " | " + message);
    } catch (...) {
    }
}

void TUpdateLog::Abandoned() noexcept
{
    std::string stage;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        stage = m_stage;
    }
    Write("abandoned", stage);
}

void TUpdateLog::End(int status) noexcept
{
    try {
        std::string ending, stage;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ending = !m_ending.empty() ? m_ending : m_finished ? "success" : "closed";
            stage = m_stage;
        }
        Write("end", ending + " " + stage + " (status " + std::to_string(status) + ")");
    } catch (...) {
    }
}

TUpdateLog& RunLog()
{
    static TUpdateLog log;
    return log;
}

} // namespace upd::wizard
