#include "wizard/CommandLine.h"

#include <cctype>

#include "base/Cp1250.h"

namespace upd::wizard {

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string Lower(std::string_view text)
{
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

// The name of an option without its '/' or '-' and in lower case; empty for
// an argument that is no option.
std::string OptionName(std::string_view argument)
{
    if (argument.size() < 2 || (argument[0] != '/' && argument[0] != '-'))
        return {};
    return Lower(argument.substr(1));
}

} // namespace

std::vector<std::string> SplitCommandLine(std::string_view line)
{
    std::size_t i = 0;
    // The program's name: quotes only group, backslashes are plain letters.
    if (i < line.size() && line[i] == '"') {
        std::size_t close = line.find('"', 1);
        i = close == std::string_view::npos ? line.size() : close + 1;
    }
    while (i < line.size() && !IsBlank(line[i]))
        ++i;

    std::vector<std::string> arguments;
    for (;;) {
        while (i < line.size() && IsBlank(line[i]))
            ++i;
        if (i >= line.size())
            return arguments;
        std::string argument;
        bool quoted = false;
        while (i < line.size() && (quoted || !IsBlank(line[i]))) {
            std::size_t slashes = 0;
            while (i < line.size() && line[i] == '\\') {
                ++slashes;
                ++i;
            }
            if (i < line.size() && line[i] == '"') {
                // 2n backslashes and a quote: n backslashes and the quote
                // groups; 2n + 1: n backslashes and a quote of the text.
                argument.append(slashes / 2, '\\');
                if (slashes % 2 == 1) {
                    argument += '"';
                } else if (quoted && i + 1 < line.size() && line[i + 1] == '"') {
                    argument += '"'; // "" inside quotes is one quote
                    ++i;
                } else {
                    quoted = !quoted;
                }
                ++i;
                continue;
            }
            argument.append(slashes, '\\');
            if (i < line.size() && (quoted || !IsBlank(line[i])))
                argument += line[i++];
        }
        arguments.push_back(std::move(argument));
    }
}

TRunMode ParseCommandLine(std::string_view line)
{
    TRunMode mode;
    bool quiet = false, passive = false;
    auto refuse = [&mode](TCommandLineError error, const std::string& argument) {
        if (mode.Error != TCommandLineError::None)
            return;
        mode.Error = error;
        mode.Refused = argument;
    };
    const std::vector<std::string> arguments = SplitCommandLine(line);
    mode.Given = !arguments.empty();
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const std::string name = OptionName(argument);
        if (name == "quiet" || name == "s" || name == "verysilent") {
            quiet = true;
        } else if (name == "passive") {
            passive = true;
        } else if (name == "log") {
            // "/log /quiet" lacks its file: no Windows path starts with '/'.
            if (i + 1 < arguments.size() && !arguments[i + 1].empty() && arguments[i + 1][0] != '/')
                mode.LogFile = arguments[++i];
            else
                refuse(TCommandLineError::MissingLogFile, argument);
        } else if (name.rfind("log:", 0) == 0 || name.rfind("log=", 0) == 0) {
            if (argument.size() > 5)
                mode.LogFile = argument.substr(5);
            else
                refuse(TCommandLineError::MissingLogFile, argument);
        } else if (name == "?" || name == "help") {
            refuse(TCommandLineError::Help, argument);
        } else {
            refuse(TCommandLineError::Unknown, argument);
        }
    }
    mode.Interaction = quiet ? TInteraction::Quiet : passive ? TInteraction::Passive : TInteraction::Full;
    return mode;
}

std::string CommandLineMessage(const TRunMode& mode)
{
    std::string text;
    // What the user typed may be any text; a malformed byte shows as U+FFFD.
    const std::string refused = ValidUtf8(mode.Refused);
    if (mode.Error == TCommandLineError::Unknown)
        text = "Argumentul \"" + refused + "\" nu este cunoscut de programul de actualizare.\r\n\r\n";
    else if (mode.Error == TCommandLineError::MissingLogFile)
        text = "Dupa argumentul " + refused + " trebuie indicat numele unui fisier.\r\n\r\n";
    return text +
           "Programul de actualizare accepta urmatoarele argumente:\r\n"
           "/quiet (sau /S, /VERYSILENT) - actualizarea se face fara nicio fereastra si fara nicio intrebare\r\n"
           "/passive - se afiseaza doar etapele actualizarii, fara nicio intrebare\r\n"
           "/log \"fisier\" - mersul actualizarii se scrie si in fisierul indicat\r\n"
           "Fara argumente programul de actualizare porneste ca de obicei.";
}

TRunMode& RunMode() noexcept
{
    static TRunMode mode;
    return mode;
}

} // namespace upd::wizard
