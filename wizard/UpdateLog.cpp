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
#include "wizard/Finding.h"
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

// Opens the log once, as itself, moving a grown one aside first; a new file
// starts with its byte order mark. Raises what the open raises.
TFile OpenLog(const std::string& fileName, bool rotate)
{
    ForceFolderOf(fileName);
    TFile file(fileName, TFileMode::AppendAsItself);
    if (rotate && file.Size() > kLogLimit) {
        file.Close();
        RenameFileOver(fileName, fileName + ".vechi");
        file = TFile(fileName, TFileMode::AppendAsItself);
    }
    if (file.Size() == 0)
        file.Write(kBom, 3);
    file.Seek(file.Size());
    return file;
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
    return ValidUtf8(flat);
}

void TUpdateLog::Open(const std::string& preferred, const std::string& fallbackFolder) noexcept
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fileName.clear();
    m_file.Close();
    std::string folder = fallbackFolder;
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/')
        folder += '\\';
    for (const std::string& name : {preferred, fallbackFolder.empty() ? std::string() : folder + kLogFileName}) {
        if (name.empty())
            continue;
        try {
            m_file = OpenLog(name, true);
            m_fileName = name;
            return;
        } catch (...) {
        }
    }
}

bool TUpdateLog::AlsoWriteTo(const std::string& file) noexcept
{
    std::string why;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_copy.Close();
        try {
            m_copy = OpenLog(file, false);
            return true;
        } catch (const std::exception& e) {
            why = e.what();
        } catch (...) {
        }
    }
    // Whoever reads the run's output learns that the file they named holds nothing of it.
    try {
        std::fprintf(stderr, "nolog %s: %s\n", file.c_str(), LogText(why).c_str());
        std::fflush(stderr);
        Write("nolog", file + ": " + why);
    } catch (...) {
    }
    return false;
}

void TUpdateLog::Write(const char* event, const std::string& text) noexcept
{
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_file.IsOpen() && !m_copy.IsOpen())
            return;
        std::string line = Now() + " " + event + " " + LogText(text) + "\r\n";
        // Each file is skipped from its first failure on: no retry at every event.
        for (TFile* file : {&m_file, &m_copy}) {
            try {
                if (file->IsOpen())
                    file->Write(line.data(), line.size());
            } catch (...) {
                file->Close();
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
    try {
        if (what > 0 && what < 4)
            Write("recovery", kTexts[what]);
    } catch (...) {
    }
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

void TUpdateLog::Finding(bool fatal, const TFinding& finding) noexcept
{
    try {
        // The facts of the support tag " (n/count/Kind/d)" that ends a classified message.
        std::string where = "- -";
        std::string verdict = "verdict - (untagged)";
        if (finding.Kind != TSetKind::None) {
            const int digit = static_cast<int>(finding.Verdict);
            where = std::string(finding.Kind == TSetKind::MustHave ? "must-have " : "patch ") +
                    std::to_string(finding.N) + "/" + std::to_string(finding.Count);
            verdict = "verdict " + std::to_string(digit) + " (" + VerdictName(digit) + ")";
        }
        std::string version;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            version = m_lastPath.empty() ? std::string("-") : m_lastVersion;
            if (fatal && m_ending.empty())
                m_ending = "finding";
        }
        Write("finding", std::string(fatal ? "fatal " : "warning ") + where + " " + verdict + " version " + version +
                             " | " + finding.Text);
    } catch (...) {
    }
}

void TUpdateLog::SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) noexcept
{
    try {
        Write("source", std::to_string(n) + " " + std::to_string(index) + " " + path);
    } catch (...) {
    }
}

void TUpdateLog::DataFromProgram(const std::string& path, std::int64_t bytes) noexcept
{
    try {
        Write("data", "from the program " + path + ", " + std::to_string(bytes) + " bytes");
    } catch (...) {
    }
}

void TUpdateLog::VolumeRead(int n, const std::string& path, std::int64_t bytes, const std::string& digest) noexcept
{
    try {
        Write("volume", std::to_string(n) + " read from " + path + ", " + std::to_string(bytes) +
                            " bytes, digest " + digest);
    } catch (...) {
    }
}

void TUpdateLog::VolumeRefused(int n, const std::string& path, bool exists) noexcept
{
    try {
        Write("refused", std::to_string(n) + " " + (path.empty() ? std::string("-") : path) +
                             (exists ? " (not the volume: damaged or another file)" : " (no such file)"));
    } catch (...) {
    }
}

void TUpdateLog::Archive(const std::string& digest, bool whole) noexcept
{
    try {
        Write("archive", digest + (whole ? " ok" : " damaged"));
    } catch (...) {
    }
}

void TUpdateLog::Rebuilt(const package::TPatchSet& set) noexcept
{
    try {
        Write("rebuilt", set.TargetFileName + " from version " + std::to_string(set.SourceIndex) + ": " +
                             std::to_string(set.NewSize) + " bytes, digest " + set.NewHash);
    } catch (...) {
    }
}

void TUpdateLog::Replaced(const std::string& target) noexcept { Write("replaced", target); }

void TUpdateLog::TagWritten(const std::string& file) noexcept { Write("tag", file); }

void TUpdateLog::RolledBack(bool whole) noexcept
{
    try {
        Write("rollback", whole ? "whole" : "incomplete");
    } catch (...) {
    }
}

void TUpdateLog::Committed() noexcept
{
    try {
        Write("committed", "every file is in place");
    } catch (...) {
    }
}

void TUpdateLog::StepDone() noexcept
{
    try {
        std::string stage;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stage = m_stage;
            if (stage == "update")
                m_finished = true;
        }
        Write("done", stage);
    } catch (...) {
    }
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
    try {
        std::string stage;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            stage = m_stage;
        }
        Write("abandoned", stage);
    } catch (...) {
    }
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

} // namespace upd::wizard
