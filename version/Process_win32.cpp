#include "version/Process_win32.h"

#include <vector>

#include "base/SystemLibrary_win32.h"
#include "base/Win32_win32.h"

namespace upd::version {

namespace {

std::wstring CommandLine(const TPath& program, const std::string& arguments)
{
    return L"\"" + program.Native() + L"\" " + Wide(arguments);
}

// The shell is the process that owns the desktop's shell window; a session
// whose shell never claimed that window still shows its task bar.
HWND ShellWindow()
{
    if (HWND shell = ::GetShellWindow())
        return shell;
    return ::FindWindowW(L"Shell_TrayWnd", nullptr);
}

class TSystemUserSession : public TUserSession {
public:
    TKernelHandle DesktopUserToken() override
    {
        HWND shell = ShellWindow();
        DWORD pid = 0;
        if (!shell || !::GetWindowThreadProcessId(shell, &pid) || pid == 0 || pid == ::GetCurrentProcessId())
            return TKernelHandle();
        TKernelHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
        if (!process)
            return TKernelHandle();
        HANDLE token = nullptr;
        if (!::OpenProcessToken(process.Get(), TOKEN_DUPLICATE | TOKEN_QUERY | TOKEN_ASSIGN_PRIMARY, &token))
            return TKernelHandle();
        TKernelHandle shellToken(token);
        HANDLE primary = nullptr;
        if (!::DuplicateTokenEx(shellToken.Get(),
                                TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_ASSIGN_PRIMARY | TOKEN_ADJUST_DEFAULT |
                                    TOKEN_ADJUST_SESSIONID,
                                nullptr, SecurityImpersonation, TokenPrimary, &primary))
            return TKernelHandle();
        return TKernelHandle(primary);
    }

    std::wstring Environment(HANDLE token) override
    {
        using TCreate = BOOL(WINAPI*)(void**, HANDLE, BOOL);
        using TDestroy = BOOL(WINAPI*)(void*);
        auto create = SystemProcedure<TCreate>(L"userenv.dll", "CreateEnvironmentBlock");
        auto destroy = SystemProcedure<TDestroy>(L"userenv.dll", "DestroyEnvironmentBlock");
        void* block = nullptr;
        // Not the wizard's own: the user's programs never see what the
        // elevated run was started with.
        if (!create || !destroy || !create(&block, token, FALSE) || !block)
            return std::wstring();
        const wchar_t* at = static_cast<const wchar_t*>(block);
        std::size_t length = 0;
        while (at[length] != L'\0' || at[length + 1] != L'\0')
            ++length;
        std::wstring environment(at, length + 2);
        destroy(block);
        return environment;
    }

    TKernelHandle CreateWithToken(HANDLE token, const std::wstring& application, std::wstring commandLine,
                                  const std::wstring& environment, const std::wstring& folder) override
    {
        using TCreate = BOOL(WINAPI*)(HANDLE, DWORD, LPCWSTR, LPWSTR, DWORD, LPVOID, LPCWSTR, LPSTARTUPINFOW,
                                      LPPROCESS_INFORMATION);
        auto create = SystemProcedure<TCreate>(L"advapi32.dll", "CreateProcessWithTokenW");
        if (!create) {
            ::SetLastError(ERROR_PROC_NOT_FOUND);
            return TKernelHandle();
        }
        std::vector<wchar_t> line(commandLine.begin(), commandLine.end());
        line.push_back(L'\0');
        std::wstring block = environment;
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION process{};
        if (!create(token, 0, application.c_str(), line.data(), CREATE_UNICODE_ENVIRONMENT, block.data(),
                    folder.c_str(), &startup, &process))
            return TKernelHandle();
        ::CloseHandle(process.hThread);
        return TKernelHandle(process.hProcess);
    }
};

} // namespace

HANDLE StartProgram(const TPath& program, const std::string& arguments)
{
    std::wstring application = program.Native();
    // CreateProcessW may write into the command line buffer.
    std::wstring line = CommandLine(program, arguments);
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

TUserSession& SystemUserSession()
{
    static TSystemUserSession session;
    return session;
}

TUserStart StartProgramAsDesktopUser(const TPath& program, const std::string& arguments, const TPath& folder,
                                     TUserSession& session)
{
    TKernelHandle token = session.DesktopUserToken();
    if (!token)
        return TUserStart::NoDesktopUser;
    std::wstring environment = session.Environment(token.Get());
    if (environment.empty())
        RaiseOSError(::GetLastError() ? ::GetLastError() : ERROR_INVALID_ENVIRONMENT,
                     "Nu pot pregati mediul utilizatorului pentru programul " + program.Text());
    TKernelHandle process =
        session.CreateWithToken(token.Get(), program.Native(), CommandLine(program, arguments), environment,
                                folder.Native());
    if (!process)
        RaiseLastOSError();
    return TUserStart::Started;
}

} // namespace upd::version
