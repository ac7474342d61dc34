// verify EXE [--installed DIR | --root PREFIX]: the validation stage without a
// window, for support staff who check an installation against a package
// without changing it. Where the files are read goes to stderr.
//
// One event per line, in the order the stage produces them, texts in UTF-8:
//   progress DONE/TOTAL      warning TEXT      fatal TEXT
//   source N INDEX PATH      ok                error CLASS: MESSAGE
// and after the stage, for a package with volumes, one line per volume:
//   volume N/COUNT ok NAME   volume N/COUNT PROBLEM NAME
// Exit status: 0 the stage succeeded and every volume is whole, 1 a fatal
// finding or a volume missing or damaged, 2 an error (or a usage error).
#include "tools/updkit/Commands.h"
#include "tools/updkit/Files.h"

#include <cstdio>
#include <memory>

#include "base/Cp1250.h"
#include "base/Exception.h"
#include "package/PatchDataEngine.h"
#include "tools/updkit/Installation.h"
#include "wizard/ValidationStage.h"

namespace updkit {

namespace {

// One event per line: a line break inside a text (system errors carry
// "\r\n" between their code and their text) becomes a single blank.
std::string OneLine(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            if (out.empty() || out.back() != ' ')
                out += ' ';
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            continue;
        }
        out += c;
    }
    return out;
}

void PrintLine(const std::string& prefix, const std::string& text)
{
    std::string line = prefix + OneLine(text) + "\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

// Prints what the stage reports; a warning needs no one to close its box here.
class TPrintingSink : public upd::wizard::TValidationSink {
public:
    void Progress(std::int32_t done, std::int32_t total) override
    {
        PrintLine("progress ", std::to_string(done) + "/" + std::to_string(total));
    }
    void Warning(const upd::wizard::TFinding& finding) override { PrintLine("warning ", finding.Text); }
    void Fatal(const upd::wizard::TFinding& finding) override { PrintLine("fatal ", finding.Text); }
    void SourceChosen(std::int32_t n, std::int32_t index, const std::string& path) override
    {
        PrintLine("source ", std::to_string(n) + " " + std::to_string(index) + " " + path);
    }
};

int PrintError(const char* className, const std::string& message)
{
    PrintLine("error ", std::string(className) + ": " + message);
    return 2;
}

} // namespace

int CmdVerify(const TArgs& args)
{
    const char* usage = "verify EXE [--installed DIR | --root PREFIX]";
    std::string exe;
    TInstallation where;
    if (!ReadPackageAndInstallation(args, exe, where))
        return Usage(usage);
    CheckInput(exe);
    const std::unique_ptr<upd::wizard::TFileProbe> probe = where.Probe();
    const std::string note = "updkit: " + where.Where() + "\n";
    std::fwrite(note.data(), 1, note.size(), stderr);

    try {
        upd::package::TPatchDataEngine engine(exe);
        TPrintingSink sink;
        if (!upd::wizard::RunValidation(*engine.Update, sink, *probe))
            return 1;
        bool whole = true;
        for (const TVolumeFinding& volume : CheckVolumes(engine)) {
            whole = whole && volume.Problem.empty();
            PrintLine("volume ", std::to_string(volume.Number) + "/" + std::to_string(engine.Header.VolumeCount) +
                                     " " + (volume.Problem.empty() ? "ok" : volume.Problem) + " " + volume.Name);
        }
        if (!whole)
            return 1;
        PrintLine("ok", "");
        return 0;
    } catch (const upd::Exception& e) {
        return PrintError(e.ClassName(), e.Message());
    } catch (const std::exception& e) {
        return PrintError("Exception", e.what());
    }
}

} // namespace updkit
