#include "package/DuplicateNames.h"

#include <map>

#include "base/Cp1250.h"

namespace upd::package {

namespace {

// The lower case of a code page 1250 letter, as Windows folds file names:
// the Latin letters of the page, Romanian ones included.
char Fold(char c)
{
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 0xC0 && u <= 0xDE && u != 0xD7))
        return static_cast<char>(u + 0x20);
    if (u >= 0x8A && u <= 0x8F && u != 0x8B)
        return static_cast<char>(u + 0x10);
    switch (u) {
    case 0xA3: return static_cast<char>(0xB3);
    case 0xA5: return static_cast<char>(0xB9);
    case 0xAA: return static_cast<char>(0xBA);
    case 0xAF: return static_cast<char>(0xBF);
    case 0xBC: return static_cast<char>(0xBE);
    default: return c;
    }
}

// Folds the letters of the page; other letters (a system folder's) stay as they are.
std::string FoldLetters(std::string_view utf8)
{
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        const std::size_t start = i;
        char32_t code = 0;
        if (!NextUtf8(utf8, i, code)) {
            out += utf8[start];
            continue;
        }
        const unsigned char byte = UnicodeToCp1250(code);
        if (byte != '?' || code == '?')
            AppendUtf8(out, Cp1250ToUnicode(static_cast<unsigned char>(Fold(static_cast<char>(byte)))));
        else
            out.append(utf8.substr(start, i - start));
    }
    return out;
}

} // namespace

std::string CanonicalPathName(const std::string& path)
{
    std::string text = path;
    for (char& c : text)
        if (c == '/')
            c = '\\';
    // A share ("\\server\...") keeps its two leading backslashes.
    std::string prefix;
    std::size_t at = 0;
    if (text.size() >= 2 && text[0] == '\\' && text[1] == '\\')
        prefix = "\\\\";
    else if (!text.empty() && text[0] == '\\')
        prefix = "\\";
    std::vector<std::string> steps;
    while (at <= text.size()) {
        std::size_t slash = text.find('\\', at);
        std::string step = text.substr(at, slash == std::string::npos ? std::string::npos : slash - at);
        at = slash == std::string::npos ? text.size() + 1 : slash + 1;
        if (step.empty() || step == ".")
            continue;
        if (step == "..") {
            if (!steps.empty() && steps.back().find(':') == std::string::npos)
                steps.pop_back();
            continue;
        }
        while (!step.empty() && (step.back() == '.' || step.back() == ' '))
            step.pop_back();
        steps.push_back(step);
    }
    std::string out = prefix;
    for (std::size_t i = 0; i < steps.size(); ++i)
        out += (i ? "\\" : "") + steps[i];
    return FoldLetters(out);
}

std::optional<TSameFile> FindSameFileTwice(const std::vector<std::string>& targets)
{
    std::map<std::string, std::string> seen; // canonical name -> first spelling
    for (const std::string& target : targets) {
        for (const std::string& name : {target, target + "vf"}) {
            auto [it, fresh] = seen.emplace(CanonicalPathName(name), name);
            if (!fresh)
                return TSameFile{it->second, name};
        }
    }
    return std::nullopt;
}

std::string SameFileTwiceMessage(const TSameFile& same)
{
    return "Pachetul de actualizare numeste de doua ori acelasi fisier: " + same.First + " si " + same.Second +
           ". Pachetul de actualizare este deteriorat; va rugam descarcati de pe internet din nou programul de "
           "actualizare.";
}

} // namespace upd::package
