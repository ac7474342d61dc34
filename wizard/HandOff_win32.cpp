#include "wizard/HandOff_win32.h"


#include "base/Win32_win32.h"
#include "package/Update.h"
#include "wizard/UpdateFilesItself_win32.h"

namespace upd::wizard {

namespace {

// Through the held handle itself: whatever its name leads to now is not
// what is read. Empty when it cannot be read.
std::string HeldDigest(HANDLE file)
{
    std::string digest;
    return DigestThrough(file, digest) ? digest : std::string();
}

// The file's identity, to tell whether a name still leads to it.
bool Identity(HANDLE handle, BY_HANDLE_FILE_INFORMATION& info) { return ::GetFileInformationByHandle(handle, &info); }

bool SameIdentity(const BY_HANDLE_FILE_INFORMATION& a, const BY_HANDLE_FILE_INFORMATION& b)
{
    return a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh &&
           a.nFileIndexLow == b.nFileIndexLow;
}

} // namespace

std::string ExpectedDigest(const package::TUpdate& update, const std::string& program)
{
    for (int i = 0; i < update.PatchSets.Count(); ++i) {
        const package::TPatchSet& set = update.PatchSets.Items(i);
        if (SameFileName(set.TargetFileName, program))
            return set.NewHash;
    }
    return std::string();
}

bool THandOff::Hold(const std::string& program, const std::string& folder, const std::string& digest,
                    std::string& why)
{
    Release();
    m_program = program;
    m_folderName = folder;
    // The folder first, as itself: renamed away and replaced by a link, it
    // would put another program under the same name.
    m_folder.Reset(::CreateFileW(Wide(folder).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                 nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!m_folder || !Identity(m_folder.Get(), info)) {
        why = "directorul " + folder + " nu poate fi deschis (" + SystemErrorText(::GetLastError()) + ")";
    } else if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
               (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !HandleIsAt(m_folder.Get(), Wide(folder))) {
        why = "directorul " + folder + " este o legatura spre alt loc";
    } else {
        // Readers only beside the hold: no writer, no rename, no deletion.
        m_file.Reset(::CreateFileW(Wide(program).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
        if (!m_file || !Identity(m_file.Get(), info))
            why = "fisierul nu poate fi deschis (" + SystemErrorText(::GetLastError()) + ")";
        else if (::GetFileType(m_file.Get()) != FILE_TYPE_DISK ||
                 (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
            why = "nu este un fisier obisnuit";
        else if (info.nNumberOfLinks != 1)
            why = "fisierul are mai multe nume (legaturi)";
        else if (!HandleIsAt(m_file.Get(), Wide(program)))
            why = "numele duce la alt fisier";
        else {
            const std::string found = HeldDigest(m_file.Get());
            if (found.empty())
                why = "fisierul nu poate fi citit";
            else if (!digest.empty() && found != digest)
                why = "continutul difera de cel instalat (amprenta " + found + " in loc de " + digest + ")";
            else {
                m_digest = found;
                m_refusal.clear();
                return true;
            }
        }
    }
    m_refusal = why;
    m_file.Reset();
    m_folder.Reset();
    return false;
}

THandOffResult THandOff::Start(const std::string& arguments, version::TUserSession& session, std::string& why)
{
    why = m_refusal.empty() ? std::string("fisierul nu a fost verificat dupa actualizare") : m_refusal;
    if (!m_file) {
        Release();
        return THandOffResult::NotVerified;
    }
    // The name is what the start opens: it must still lead to the held file,
    // which must still hold what was verified.
    BY_HANDLE_FILE_INFORMATION held{}, named{};
    TFileHandle byName(::CreateFileW(Wide(m_program).c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!byName || !Identity(byName.Get(), named) || !Identity(m_file.Get(), held) || !SameIdentity(held, named) ||
        !HandleIsAt(byName.Get(), Wide(m_program))) {
        why = "numele duce acum la alt fisier";
        Release();
        return THandOffResult::NotVerified;
    }
    if (HeldDigest(m_file.Get()) != m_digest) {
        why = "continutul s-a schimbat";
        Release();
        return THandOffResult::NotVerified;
    }
    why.clear();
    // Held until the start has opened the file by its name.
    const version::TUserStart started =
        version::StartProgramAsDesktopUser(TPath(m_program), arguments, TPath(m_folderName), session);
    Release();
    if (started == version::TUserStart::NoDesktopUser) {
        why = "niciun utilizator nu lucreaza pe acest calculator";
        return THandOffResult::NoDesktopUser;
    }
    return THandOffResult::Started;
}

void THandOff::Release() noexcept
{
    m_file.Reset();
    m_folder.Reset();
}

std::string THandOff::NotStartedMessage(THandOffResult result, const std::string& why)
{
    if (result == THandOffResult::NoDesktopUser)
        return "Actualizarea s-a incheiat cu succes. Programul " + std::string(kPayrollProgram) +
               " nu a fost pornit: " + why + ". Porniti dumneavoastra programul Pravion.";
    return "Programul " + std::string(kPayrollProgram) + " nu mai este cel instalat de actualizare (" + why +
           "), de aceea nu il pornesc. Actualizarea s-a incheiat cu succes; cereti administratorului sa verifice "
           "programul inainte de a-l porni.";
}

} // namespace upd::wizard
