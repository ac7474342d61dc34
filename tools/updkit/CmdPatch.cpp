// updkit mkpatch / unpatch / dump-patch: making a multi-version patch, applying
// it through the wizard's own engine, and listing what a patch holds.
#include <cctype>
#include <climits>
#include <cstdio>
#include <string>
#include <vector>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "base/File.h"
#include "package/Md5Hash.h"
#include "patch/PatchIo.h"
#include "patch/PatchWriter.h"
#include "patch/UnPatchEngine.h"
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

namespace updkit {

namespace {

constexpr const char* kMkpatchUsage = "mkpatch --old FILE [--old FILE ...] --new FILE -o PATCH [--note TEXT]";
constexpr const char* kUnpatchUsage = "unpatch PATCH OLD INDEX OUT [--limit BYTES]";
constexpr const char* kDumpUsage = "dump-patch PATCH";

// The command line and the console speak code page 1250 on Windows and UTF-8
// elsewhere; a text given to be stored keeps only what the package's code
// page can hold.
std::string ToStored(const std::string& text)
{
#ifdef _WIN32
    return upd::Cp1250ToUtf8(text);
#else
    return upd::KeptByCp1250(text);
#endif
}

std::string ToConsole(const std::string& text)
{
#ifdef _WIN32
    return upd::Utf8ToCp1250(text);
#else
    return text;
#endif
}

// A version line names the old file by its name alone: the folders it sat in
// on the machine that made the patch mean nothing to the one applying it.
std::string FileNamePart(const std::string& path)
{
    std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

void PrintTable(const char* name, const upd::patch::TQvtHuffmanValueSet& set)
{
    std::printf("%s: %d values\n", name, set.Count());
    for (int i = 0; i < set.Count(); ++i)
        std::printf("  %d weight %d code %s\n", set.Value(i), set.Weight(i), set.Codes(i).c_str());
}

/// The old file's digest that a version line ends in (" md5:" and 32
/// hexadecimal digits), or an empty text for a line without one.
std::string DigestOfLine(const std::string& line)
{
    const std::size_t at = line.rfind(" md5:");
    if (at == std::string::npos || line.size() != at + 5 + 32)
        return std::string();
    std::string digest = line.substr(at + 5);
    if (digest.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return std::string();
    for (char& c : digest)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return digest;
}

std::string Upper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Refuses an old file that is not the patch's old version `index`, before
// anything is written: applied to another file, a patch either fails half-way
// with a message that blames the patch or writes a wrong new file.
// Patches made before the lines carried digests are applied unchecked.
void CheckOldVersion(const std::string& patchName, const std::string& oldName, int index,
                     const upd::patch::TQvtUnPatchLimits& limits)
{
    upd::patch::TQvtUnPatchEngine engine;
    engine.LoadFromFile(patchName, limits);
    engine.CheckVersionIndex(index);
    const auto& lines = engine.Versions;
    const std::string expected = DigestOfLine(lines[static_cast<std::size_t>(index)]);
    if (expected.empty())
        return;
    const std::string digest = Upper(upd::package::FileMD5Text(oldName));
    if (digest == expected)
        return;
    const std::string named = "old version " + std::to_string(index) + " (" +
                              ToConsole(lines[static_cast<std::size_t>(index)]) + ")";
    for (std::size_t other = 0; other < lines.size(); ++other)
        if (DigestOfLine(lines[other]) == digest)
            throw upd::Exception(oldName + " is old version " + std::to_string(other) + " (" +
                                 ToConsole(lines[other]) + ") of the patch, not " + named +
                                 "; nothing was written");
    throw upd::Exception(oldName + " is not " + named + " of the patch: its MD5 digest is " + digest +
                         "; nothing was written");
}

/// A byte count: decimal digits only, above 0.
bool ParseCount(const std::string& text, std::int64_t& count)
{
    if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    count = std::stoll(text);
    return count > 0;
}

} // namespace

int CmdMkpatch(const TArgs& args)
{
    std::vector<std::string> oldNames;
    std::string newName, output, note;
    bool haveNew = false, haveOutput = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (i + 1 >= args.size())
            return Usage(kMkpatchUsage);
        if (arg == "--old")
            oldNames.push_back(args[++i]);
        else if (arg == "--new")
            newName = args[++i], haveNew = true;
        else if (arg == "-o")
            output = args[++i], haveOutput = true;
        else if (arg == "--note")
            note = args[++i];
        else
            return Usage(kMkpatchUsage);
    }
    if (oldNames.empty() || !haveNew || !haveOutput)
        return Usage(kMkpatchUsage);

    // Everything that can be refused is refused before a byte is read.
    std::vector<std::string> inputs = oldNames;
    inputs.push_back(newName);
    for (const auto& name : inputs)
        CheckInput(name);
    CheckOutput(output, inputs);
    for (const auto& name : oldNames)
        if (upd::TFile(name, upd::TFileMode::ReadShared).Size() > INT32_MAX)
            throw upd::Exception("Fisierul vechi este prea mare pentru un patch");
    if (upd::TFile(newName, upd::TFileMode::ReadShared).Size() > INT32_MAX)
        throw upd::Exception("Fisierul nou este prea mare pentru un patch");

    std::vector<std::vector<std::uint8_t>> oldFiles;
    std::vector<upd::patch::TQvtBytes> oldViews;
    std::vector<std::string> versions;
    for (const auto& name : oldNames) {
        oldFiles.push_back(upd::ReadWholeFile(name));
        versions.push_back(ToStored(FileNamePart(name)) + " md5:" +
                           upd::package::MD5Text(oldFiles.back().data(), oldFiles.back().size()));
    }
    for (const auto& file : oldFiles)
        oldViews.emplace_back(file);
    std::vector<std::uint8_t> newFile = upd::ReadWholeFile(newName);
    auto patch = upd::patch::MakePatchFile(oldViews, newFile, versions, ToStored(note));
    upd::TPendingFile pending(output);
    upd::WriteWholeFile(pending.Name(), patch.data(), patch.size());
    pending.Commit();
    return 0;
}

int CmdUnpatch(const TArgs& args)
{
    TArgs plain;
    upd::patch::TQvtUnPatchLimits limits;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] != "--limit") {
            plain.push_back(args[i]);
            continue;
        }
        if (i + 1 >= args.size() || !ParseCount(args[++i], limits.MaxOutput))
            return Usage(kUnpatchUsage);
    }
    if (plain.size() != 4)
        return Usage(kUnpatchUsage);
    int index = 0;
    try {
        std::size_t used = 0;
        index = std::stoi(plain[2], &used);
        if (used != plain[2].size())
            return Usage(kUnpatchUsage);
    } catch (const std::exception&) {
        return Usage(kUnpatchUsage);
    }
    const std::string& patchName = plain[0];
    const std::string& oldName = plain[1];
    const std::string& outName = plain[3];
    CheckInput(patchName);
    CheckInput(oldName);
    CheckOutput(outName, {patchName, oldName});
    CheckOldVersion(patchName, oldName, index, limits);

    // Read through the block cache rather than mapped: mapped pages of a
    // large old file stay counted as the process's memory, in pieces larger
    // than the runs that touched them.
    upd::TFile old(oldName, upd::TFileMode::ReadShared);
    upd::patch::TQvtFileSource source(old);
    // A half-built file is never taken for the new version: it only replaces
    // the target once complete, and is deleted otherwise.
    upd::TPendingFile pending(outName);
    {
        upd::TFile out(pending.Name(), upd::TFileMode::Create);
        upd::patch::TQvtFileOutput sink(out);
        upd::patch::TQvtUnPatchEngine::ApplyFile(patchName, source, index, sink, limits);
        sink.Flush();
    }
    pending.Commit();
    return 0;
}

int CmdDumpPatch(const TArgs& args)
{
    if (args.size() != 1)
        return Usage(kDumpUsage);
    upd::patch::TQvtUnPatchEngine engine;
    engine.LoadFromFile(args[0]);
    std::printf("Versions: %d\n", engine.VersionCount());
    for (int v = 0; v < engine.VersionCount(); ++v)
        std::printf("  %d %s\n", v, ToConsole(engine.Versions[static_cast<std::size_t>(v)]).c_str());
    std::printf("Note: %s\n", ToConsole(engine.Note).c_str());
    std::printf("Instructions: %d\n", engine.Count());
    PrintTable("LengthCodes", engine.LengthCodes);
    PrintTable("CopyLengths", engine.CopyLengths);
    PrintTable("CopyOffsets", engine.CopyOffsets);
    PrintTable("DumpLengths", engine.DumpLengths);
    std::printf("Listing:\n");
    std::vector<std::string> lines;
    for (int i = 0; i < engine.Count(); ++i) {
        lines.clear();
        engine.Instructions(i).ListTo(lines);
        for (const auto& line : lines)
            std::printf("%s\n", line.c_str());
    }
    return 0;
}

} // namespace updkit
