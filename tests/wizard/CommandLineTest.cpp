// The command line of an unattended run: how Windows lines are split, which
// options are taken, and what a wrong line says.
#include <gtest/gtest.h>

#include "wizard/CommandLine.h"

namespace upd::wizard {
namespace {

TEST(TCommandLineTest, SplitsAsTheWindowsRuntime)
{
    struct Row {
        const char* Line;
        std::vector<std::string> Arguments;
    };
    const Row rows[] = {
        {"setup.exe", {}},
        {"\"C:\\Kit Nou\\setup.exe\"", {}},
        {"\"C:\\Kit Nou\\setup.exe\"   /quiet  ", {"/quiet"}},
        // The program's name keeps its backslashes; a quote only groups.
        {"C:\\Kit\\setup.exe /log \"C:\\Jurnale\\pc 7.log\"", {"/log", "C:\\Jurnale\\pc 7.log"}},
        {"setup.exe\t/S\t-passive", {"/S", "-passive"}},
        {"setup.exe /log=\"C:\\a b\\x.log\"", {"/log=C:\\a b\\x.log"}},
        // Backslashes before a quote: 2n give n and a grouping quote, 2n + 1
        // give n and a quote of the text; elsewhere they are plain.
        {"setup.exe \"C:\\dir\\\\\" /quiet", {"C:\\dir\\", "/quiet"}},
        {"setup.exe a\\\"b", {"a\"b"}},
        {"setup.exe a\\\\b", {"a\\\\b"}},
        {"setup.exe \"a \"\" b\"", {"a \" b"}},
        {"setup.exe \"\"", {""}},
        {"setup.exe \"unterminated arg", {"unterminated arg"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Line);
        EXPECT_EQ(SplitCommandLine(row.Line), row.Arguments);
    }
}

TEST(TCommandLineTest, OptionsAndTheirAliases)
{
    struct Row {
        const char* Line;
        TInteraction Interaction;
        const char* LogFile;
        TCommandLineError Error;
        const char* Refused;
    };
    using E = TCommandLineError;
    using I = TInteraction;
    const Row rows[] = {
        {"setup.exe", I::Full, "", E::None, ""},
        {"setup.exe /quiet", I::Quiet, "", E::None, ""},
        {"setup.exe /QUIET", I::Quiet, "", E::None, ""},
        {"setup.exe /S", I::Quiet, "", E::None, ""},
        {"setup.exe -s", I::Quiet, "", E::None, ""},
        {"setup.exe /VerySilent", I::Quiet, "", E::None, ""},
        {"setup.exe /passive", I::Passive, "", E::None, ""},
        // No window at all wins over the progress pages, in either order.
        {"setup.exe /passive /quiet", I::Quiet, "", E::None, ""},
        {"setup.exe /S /passive", I::Quiet, "", E::None, ""},
        {"setup.exe /log \"C:\\Jurnale\\pc 7.log\"", I::Full, "C:\\Jurnale\\pc 7.log", E::None, ""},
        {"setup.exe /quiet /LOG:C:\\x.log", I::Quiet, "C:\\x.log", E::None, ""},
        {"setup.exe -log=C:\\x.log /passive", I::Passive, "C:\\x.log", E::None, ""},
        {"setup.exe /log a.log /log b.log", I::Full, "b.log", E::None, ""},
        // Wrong lines: the first wrong argument is named, the rest still read.
        {"setup.exe /silent", I::Full, "", E::Unknown, "/silent"},
        {"setup.exe /x /quiet", I::Quiet, "", E::Unknown, "/x"},
        {"setup.exe /quiet C:\\x.log", I::Quiet, "", E::Unknown, "C:\\x.log"},
        {"setup.exe quiet", I::Full, "", E::Unknown, "quiet"},
        {"setup.exe /", I::Full, "", E::Unknown, "/"},
        {"setup.exe /quiet /log", I::Quiet, "", E::MissingLogFile, "/log"},
        {"setup.exe /log \"\" /quiet", I::Quiet, "", E::MissingLogFile, "/log"},
        {"setup.exe /log /quiet", I::Quiet, "", E::MissingLogFile, "/log"},
        {"setup.exe /log:", I::Full, "", E::MissingLogFile, "/log:"},
        {"setup.exe /?", I::Full, "", E::Help, "/?"},
        {"setup.exe -HELP /passive", I::Passive, "", E::Help, "-HELP"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Line);
        TRunMode mode = ParseCommandLine(row.Line);
        EXPECT_EQ(mode.Given, std::string(row.Line) != "setup.exe");
        EXPECT_EQ(mode.Interaction, row.Interaction);
        EXPECT_EQ(mode.LogFile, row.LogFile);
        EXPECT_EQ(mode.Error, row.Error);
        EXPECT_EQ(mode.Refused, row.Refused);
        EXPECT_EQ(mode.FileInUseWaitMs, 60000u);
    }
}

TEST(TCommandLineTest, MessageNamesTheWrongArgumentAndListsEveryOption)
{
    const std::string options =
        "Programul de actualizare accepta urmatoarele argumente:\r\n"
        "/quiet (sau /S, /VERYSILENT) - actualizarea se face fara nicio fereastra si fara nicio intrebare\r\n"
        "/passive - se afiseaza doar etapele actualizarii, fara nicio intrebare\r\n"
        "/log \"fisier\" - mersul actualizarii se scrie si in fisierul indicat\r\n"
        "Fara argumente programul de actualizare porneste ca de obicei.";
    EXPECT_EQ(CommandLineMessage(ParseCommandLine("setup.exe /x")),
              "Argumentul \"/x\" nu este cunoscut de programul de actualizare.\r\n\r\n" + options);
    EXPECT_EQ(CommandLineMessage(ParseCommandLine("setup.exe /Log")),
              "Dupa argumentul /Log trebuie indicat numele unui fisier.\r\n\r\n" + options);
    EXPECT_EQ(CommandLineMessage(ParseCommandLine("setup.exe /?")), options);
    // A letter of the line that code page 1250 lacks is kept, not replaced; a
    // malformed byte is shown as U+FFFD.
    std::string message = CommandLineMessage(ParseCommandLine("setup.exe /\xC8\x99tefan"));
    EXPECT_NE(message.find("\"/\xC8\x99tefan\""), std::string::npos) << message;
    message = CommandLineMessage(ParseCommandLine("setup.exe /\xC0\xAFx"));
    EXPECT_NE(message.find("\"/\xEF\xBF\xBD\xEF\xBF\xBDx\""), std::string::npos) << message;
}

} // namespace
} // namespace upd::wizard
