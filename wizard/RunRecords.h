// What a stage writes down about the run: the log for the people who support
// users, the journal for the next start after a kill. The program's entry
// makes both once and hands them to the stages through their pages; a test
// hands its own.
#pragma once

namespace upd::wizard {

class TUpdateLog;
class TUpdateJournal;

struct TRunRecords {
    TUpdateLog& Log;
    TUpdateJournal& Journal;
};

} // namespace upd::wizard
