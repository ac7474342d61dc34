#include "wizard/WorkFolder_win32.h"

#include <aclapi.h>
#include <sddl.h>

#include <vector>

#include "base/Exception.h"
#include "base/Win32_win32.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

namespace {

// Full control for the system and the administrators, owned by the
// administrators, inherited by every file and folder below; nothing
// inherited from above, nobody else.
constexpr const wchar_t* kAdministratorsOnly = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
// The same, and reading for users: the tag folder below Kp3Tag stays
// readable by the programs of every user.
constexpr const wchar_t* kUsersRead = L"O:BAD:P(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)";

class TLocalMemory {
public:
    ~TLocalMemory() { ::LocalFree(Memory); }
    PSECURITY_DESCRIPTOR Memory = nullptr;
};

// The folder opened as itself, for its descriptor: a link under the name, or
// higher up, is refused.
TFileHandle OpenFolder(const std::string& folder, DWORD access)
{
    TFileHandle held(::CreateFileW(Wide(folder).c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!held)
        RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(held.Get(), &info))
        RaiseOSError(::GetLastError(), "Nu pot deschide directorul " + folder);
    if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        throw Exception("Directorul " + folder + " nu este un director obisnuit.");
    std::wstring actual;
    if (!HandleIsAt(held.Get(), Wide(folder), &actual))
        throw Exception("Directorul " + folder + " duce in alta parte: " + SystemText(actual) + ".");
    return held;
}

// Makes the folder with `sddl` when it is missing; true when it was made.
bool MakeFolder(const std::string& folder, const wchar_t* sddl)
{
    TLocalMemory descriptor;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor.Memory, nullptr))
        RaiseOSError(::GetLastError(), "Nu pot crea directorul " + folder);
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor.Memory, FALSE};
    if (::CreateDirectoryW(Wide(folder).c_str(), &attributes))
        return true;
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        RaiseOSError(::GetLastError(), "Nu pot crea directorul " + folder);
    return false;
}

// Gives the open folder the owner and the protected list of `sddl`.
void Repair(HANDLE folder, const std::string& name, const wchar_t* sddl)
{
    TLocalMemory descriptor;
    PSID owner = nullptr;
    PACL list = nullptr;
    BOOL present = FALSE, defaulted = FALSE;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor.Memory, nullptr) ||
        !::GetSecurityDescriptorOwner(descriptor.Memory, &owner, &defaulted) ||
        !::GetSecurityDescriptorDacl(descriptor.Memory, &present, &list, &defaulted))
        RaiseOSError(::GetLastError(), "Nu pot proteja directorul " + name);
    DWORD code = ::SetSecurityInfo(folder, SE_FILE_OBJECT,
                                   OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                       PROTECTED_DACL_SECURITY_INFORMATION,
                                   owner, nullptr, list, nullptr);
    if (code != ERROR_SUCCESS)
        RaiseOSError(code, "Nu pot proteja directorul " + name);
}

// Opens, makes or checks one folder of the chain as `policy` says.
TFileHandle SecureFolder(const std::string& folder, const wchar_t* sddl, TUnsafeFolder policy)
{
    const bool made = MakeFolder(folder, sddl);
    TFileHandle held = OpenFolder(folder, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | READ_CONTROL | WRITE_DAC |
                                              WRITE_OWNER);
    if (made)
        return held;
    bool ownAccountOnly = false;
    const std::string unsafe = WhyNotAdministratorsOnly(held.Get(), &ownAccountOnly);
    if (unsafe.empty())
        return held;
    // Only the running administrator's own account could have changed a
    // folder that is merely theirs: given to the administrators, as when
    // it was made.
    if (policy == TUnsafeFolder::Refuse && !ownAccountOnly)
        throw Exception(UnsafeFolderMessage(folder, unsafe));
    Repair(held.Get(), folder, sddl);
    return held;
}

std::string SidText(PSID sid)
{
    wchar_t* text = nullptr;
    if (!::ConvertSidToStringSidW(sid, &text))
        return "?";
    std::string result = SystemText(text);
    ::LocalFree(text);
    return result;
}

// The account the wizard runs as: the administrator's own account when
// elevated (its programs without elevation have it too), the system for a
// service (and, under Wine, the one user every program has).
std::vector<std::uint8_t> OwnAccount()
{
    HANDLE token = nullptr;
    std::vector<std::uint8_t> account;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return account;
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<std::uint8_t> buffer(size);
    if (size && ::GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        PSID sid = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        const auto* bytes = static_cast<const std::uint8_t*>(sid);
        account.assign(bytes, bytes + ::GetLengthSid(sid));
    }
    ::CloseHandle(token);
    return account;
}

// Who may own a folder of the wizard's, or be let change it: the system,
// the administrators, the system's installer service.
bool Trusted(PSID sid)
{
    static const wchar_t* const kTrusted[] = {L"S-1-5-18", L"S-1-5-32-544",
                                              L"S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
    for (const wchar_t* text : kTrusted) {
        PSID known = nullptr;
        if (::ConvertStringSidToSidW(text, &known)) {
            const bool same = ::EqualSid(sid, known);
            ::LocalFree(known);
            if (same)
                return true;
        }
    }
    return false;
}

bool IsOwnAccount(PSID sid)
{
    static const std::vector<std::uint8_t> own = OwnAccount();
    return !own.empty() && ::EqualSid(sid, const_cast<std::uint8_t*>(own.data()));
}

} // namespace

std::string WhyNotAdministratorsOnly(HANDLE folder, bool* ownAccountOnly)
{
    PSID owner = nullptr;
    PACL list = nullptr;
    TLocalMemory descriptor;
    bool own = true;
    std::string why;
    // The first fault of another account is the one named, else the first.
    auto fault = [&](PSID sid, const std::string& text) {
        if (!(sid && IsOwnAccount(sid))) {
            if (own)
                why = text;
            own = false;
        } else if (why.empty()) {
            why = text;
        }
    };
    const DWORD code = ::GetSecurityInfo(folder, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                                         &owner, nullptr, &list, nullptr, &descriptor.Memory);
    if (code != ERROR_SUCCESS) {
        fault(nullptr, "lista de acces nu poate fi citita: " + SystemErrorText(code));
    } else {
        if (!owner || !Trusted(owner))
            fault(owner, "proprietar " + (owner ? SidText(owner) : std::string("necunoscut")));
        if (!list)
            fault(nullptr, "fara lista de acces");
        constexpr ACCESS_MASK kChanges = FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_WRITE_EA | FILE_DELETE_CHILD |
                                         FILE_WRITE_ATTRIBUTES | DELETE | WRITE_DAC | WRITE_OWNER | GENERIC_WRITE |
                                         GENERIC_ALL;
        for (DWORD i = 0; list && i < list->AceCount; ++i) {
            void* entry = nullptr;
            if (!::GetAce(list, i, &entry)) {
                fault(nullptr, "lista de acces nu poate fi citita");
                break;
            }
            const auto* header = static_cast<const ACE_HEADER*>(entry);
            // An entry only for what is made below is not about the folder itself.
            if ((header->AceFlags & INHERIT_ONLY_ACE) || header->AceType == ACCESS_DENIED_ACE_TYPE)
                continue;
            if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) {
                fault(nullptr, "o intrare de acces de tipul " + std::to_string(header->AceType));
                continue;
            }
            const auto* allowed = static_cast<const ACCESS_ALLOWED_ACE*>(entry);
            PSID sid = const_cast<DWORD*>(&allowed->SidStart);
            if ((allowed->Mask & kChanges) && !Trusted(sid))
                fault(sid, "drept de modificare pentru " + SidText(sid));
        }
    }
    if (ownAccountOnly)
        *ownAccountOnly = !why.empty() && own;
    return why;
}

std::string UnsafeFolderMessage(const std::string& folder, const std::string& why)
{
    return "Directorul " + folder + " poate fi modificat si de alti utilizatori decat administratorii (" + why +
           "). Fisierele din el nu mai sunt de incredere, de aceea actualizarea nu poate continua. Cereti "
           "administratorului sa stearga directorul, apoi porniti din nou programul de actualizare.";
}

std::string WorkFolderMessage(const std::string& folder, const std::string& reason)
{
    return "Nu pot pregati directorul de lucru " + folder + ".\r\n" + reason +
           "\r\nPorniti programul de actualizare ca administrator.";
}

TFileHandle HoldWorkFolder(const std::string& folder, std::string& reason)
{
    try {
        const std::string kp3Tag = folder.substr(0, folder.find_last_of('\\'));
        const std::string tarvix = kp3Tag.substr(0, kp3Tag.find_last_of('\\'));
        ForceFolders(tarvix.substr(0, tarvix.find_last_of('\\')));
        // Tarvix holds nothing of the wizard's but Kp3Tag, which is checked on
        // its own: repaired. A Kp3Tag that others could write may hold a
        // planted journal, log or link: refused. Lucru's work files are
        // removed at every start: repaired.
        SecureFolder(tarvix, kUsersRead, TUnsafeFolder::Repair);
        SecureFolder(kp3Tag, kUsersRead, TUnsafeFolder::Refuse);
        // Held without sharing deletion for the whole run: neither removed nor renamed.
        return SecureFolder(folder, kAdministratorsOnly, TUnsafeFolder::Repair);
    } catch (const Exception& e) {
        reason = e.Message();
    } catch (const std::exception& e) {
        reason = e.what();
    }
    return TFileHandle();
}

int RemoveLeftoverWorkFiles(const std::string& folder) noexcept
{
    int removed = 0;
    try {
        for (const wchar_t* pattern : {L"\\PatchTotal_*.bin", L"\\Patch_*.Patch", L"\\Patched_*.bin"}) {
            std::vector<std::wstring> names;
            WIN32_FIND_DATAW found{};
            HANDLE search = ::FindFirstFileW((Wide(folder) + pattern).c_str(), &found);
            if (search == INVALID_HANDLE_VALUE)
                continue;
            do {
                if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    names.push_back(found.cFileName);
            } while (::FindNextFileW(search, &found));
            ::FindClose(search);
            for (const std::wstring& name : names)
                removed += RemoveFile(TPath::FromNative(Wide(folder) + L"\\" + name)) ? 1 : 0;
        }
    } catch (...) {
        // A leftover that stays costs only its room; the run goes on.
    }
    return removed;
}

TFileHandle TakeInstanceLock(const std::string& lockFile, DWORD& error)
{
    error = ERROR_SUCCESS;
    TFileHandle lock;
    try {
        lock.Reset(::CreateFileW(Wide(lockFile).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!lock)
            error = ::GetLastError();
    } catch (...) {
        error = ERROR_INVALID_NAME;
    }
    return lock;
}

} // namespace upd::wizard
