// The wizard's command line, for administrators who roll an update out to
// many machines.
//
// Without arguments the wizard is the interactive one. The arguments choose an
// unattended run and a second copy of the log:
//
//   /quiet, /S, /VERYSILENT   no window and no question
//   /passive                  the progress pages only, no question
//   /log "file"               the log is also written to file (/log:file, /log=file)
//
// Options are matched without regard to case and may start with '-' as well
// as '/'. When both /quiet and /passive are given, /quiet counts: a script
// that asks for no window at all must not get one. The line is split as the
// C runtime of Windows splits it (quotes, and backslashes before quotes).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace upd::wizard {

enum class TInteraction {
    Full,    ///< the wizard as a user knows it
    Passive, ///< the progress pages, no question, no message box
    Quiet,   ///< no window at all
};

enum class TCommandLineError {
    None,
    Unknown,        ///< an argument that is not one of the options
    MissingLogFile, ///< /log at the end of the line, or with an empty name
    Help,           ///< /? or /help: the list of options was asked for
};

/// How this run was asked to go.
struct TRunMode {
    bool Given = false; ///< the command line held any argument
    TInteraction Interaction = TInteraction::Full;
    std::string LogFile; ///< UTF-8; empty when no /log was given
    TCommandLineError Error = TCommandLineError::None;
    std::string Refused; ///< UTF-8: the argument that was not understood
    /// How long an unattended run waits for files that another program
    /// holds before it stops with nothing changed.
    std::uint32_t FileInUseWaitMs = 60000;

    bool Unattended() const noexcept { return Interaction != TInteraction::Full; }
    bool Quiet() const noexcept { return Interaction == TInteraction::Quiet; }
};

/// The arguments of a whole command line (UTF-8), the program's name left
/// out, split as the C runtime of Windows does.
std::vector<std::string> SplitCommandLine(std::string_view line);

/// Reads a whole command line (UTF-8, the program's name first). Every
/// argument is read, so that /quiet after a wrong argument still counts; the
/// first wrong one is kept in Error and Refused.
TRunMode ParseCommandLine(std::string_view line);

/// The message for a command line that cannot run: what was
/// wrong, then every accepted option.
std::string CommandLineMessage(const TRunMode& mode);

/// This process's run mode, set once at the start before anything reads it.
TRunMode& RunMode() noexcept;

} // namespace upd::wizard
