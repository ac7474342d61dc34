#include "tools/RunLimited.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#include <psapi.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#else
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace upd::test {

std::string UpdkitPath()
{
    std::string path = UPD_UPDKIT_PATH;
#ifdef _WIN32
    // The build names it the POSIX way; under Wine that is drive Z:.
    for (char& c : path)
        if (c == '/')
            c = '\\';
    if (!path.empty() && path[0] == '\\')
        path = "Z:" + path;
#endif
    return path;
}

bool CanLimitMemory()
{
#if defined(__SANITIZE_ADDRESS__)
    return false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return false;
#else
    return true;
#endif
#else
    return true;
#endif
}

#ifdef _WIN32

TLimitedRun RunLimited(const std::vector<std::string>& args, std::uint64_t memoryLimit)
{
    TLimitedRun run;
    std::wstring command = L"\"" + std::filesystem::path(UpdkitPath()).wstring() + L"\"";
    for (const auto& arg : args)
        command += L" \"" + std::filesystem::path(arg).wstring() + L"\"";
    // A counter as well: the tick count moves in steps of 16 ms, and two runs
    // of one test may start within one step.
    static int runs = 0;
    auto outName = std::filesystem::temp_directory_path() /
                   ("updkit-out-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64()) +
                    "-" + std::to_string(++runs));
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE out = CreateFileW(outName.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return run;
    HANDLE job = CreateJobObjectW(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limit{};
    limit.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_PROCESS_MEMORY;
    limit.ProcessMemoryLimit = static_cast<SIZE_T>(memoryLimit);
    SetInformationJobObject(job, JobObjectExtendedLimitInformation, &limit, sizeof limit);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION process{};
    // Wine, on a loaded machine, now and then fails to start a process at
    // the first try; the program under test has not run then.
    bool started = false;
    for (int attempt = 0; attempt < 3 && !started; ++attempt) {
        if (attempt > 0)
            Sleep(200);
        started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                                 &startup, &process) != FALSE;
    }
    if (started) {
        AssignProcessToJobObject(job, process.hProcess);
        ResumeThread(process.hThread);
        // The job's limit is the system's to enforce; the peak working set
        // is also watched while the child runs, for systems (Wine) that
        // keep a job's limit without enforcing it.
        const ULONGLONG deadline = GetTickCount64() + 60000;
        DWORD wait;
        do {
            wait = WaitForSingleObject(process.hProcess, 5);
            PROCESS_MEMORY_COUNTERS counters{};
            counters.cb = sizeof counters;
            if (GetProcessMemoryInfo(process.hProcess, &counters, sizeof counters) &&
                counters.PeakWorkingSetSize > run.peakMemory)
                run.peakMemory = counters.PeakWorkingSetSize;
        } while (wait == WAIT_TIMEOUT && GetTickCount64() < deadline);
        if (wait == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process.hProcess, &code);
            run.status = static_cast<int>(code);
        } else {
            TerminateProcess(process.hProcess, 99);
        }
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION used{};
        if (QueryInformationJobObject(job, JobObjectExtendedLimitInformation, &used, sizeof used, nullptr) &&
            used.PeakProcessMemoryUsed > run.peakMemory)
            run.peakMemory = used.PeakProcessMemoryUsed;
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(job);
    CloseHandle(out);
    std::ifstream in(outName, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    run.out = text.str();
    in.close();
    std::error_code ignored;
    std::filesystem::remove(outName, ignored);
    // Wine and the console turn line feeds into CR LF.
    std::string flat;
    for (char c : run.out)
        if (c != '\r')
            flat += c;
    run.out = flat;
    return run;
}

#else

TLimitedRun RunLimited(const std::vector<std::string>& args, std::uint64_t memoryLimit)
{
    TLimitedRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    std::string path = UpdkitPath();
    std::vector<char*> argv{path.data()};
    std::vector<std::string> copies(args);
    for (auto& arg : copies)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 1);
        ::dup2(pipeFds[1], 2);
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        rlimit memory{memoryLimit, memoryLimit};
        rlimit cpu{60, 60};
        if (CanLimitMemory())
            ::setrlimit(RLIMIT_AS, &memory);
        ::setrlimit(RLIMIT_CPU, &cpu);
        ::execv(path.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    ssize_t got;
    while ((got = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
        run.out.append(buffer, static_cast<std::size_t>(got));
    ::close(pipeFds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

#endif

} // namespace upd::test
