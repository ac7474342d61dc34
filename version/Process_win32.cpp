#include "version/Process_win32.h"

#include <vector>

#include "base/Win32_win32.h"

namespace upd::version {

HANDLE StartProgram(const TPath& program, const std::string& arguments)
{
    std::wstring application = program.Native();
    std::wstring line = L"\"" + application + L"\" " + Wide(arguments);
    // CreateProcessW may write into the command line buffer.
    std::vector<wchar_t> buffer(line.begin(), line.end());
    buffer.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(application.c_str(), buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                        &process))
        RaiseLastOSError();
    // The thread handle is of no use to anyone; the process handle goes to the caller.
    CloseHandle(process.hThread);
    return process.hProcess;
}

} // namespace upd::version
