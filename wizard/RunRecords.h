// What a stage writes down about the run: the log for the people who support
// users, the journal for the next start after a kill. The program's entry
// makes both once and hands them to the stages through their pages; a test
// hands its own.
#pragma once

namespace upd::wizard {

class TUpdateLog;
class TUpdateJournal;
class THandOff;

struct TRunRecords {
    TUpdateLog& Log;
    TUpdateJournal& Journal;
    /// Where the update stage leaves the payroll program it verified, held,
    /// for the final page to start (Windows only; none in most tests).
    THandOff* HandOff = nullptr;
};

} // namespace upd::wizard
