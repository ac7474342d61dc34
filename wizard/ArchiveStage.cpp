#include "wizard/ArchiveStage.h"

#include <algorithm>
#include <vector>

#include "base/Exception.h"
#include "base/File.h"
#include "package/CautaFisier.h"
#include "package/Md5Hash.h"
#include "package/PatchDataEngine.h"
#include "version/FileOps.h"
#include "wizard/UpdateJournal.h"
#include "wizard/UpdateLog.h"

namespace upd::wizard {

namespace {

constexpr std::size_t kBlockSize = 1024;

class TByteCounter {
public:
    TByteCounter(TArchiveStageHost& host, std::int64_t total, const TStageControl& control)
        : m_host(host), m_total(total), m_control(control)
    {
    }

    // Copies `count` bytes from the source's position, reporting every block.
    // The first short read and a later one are told apart by their messages.
    void Copy(TFile& source, TFile& target, std::int64_t count)
    {
        if (count <= 0)
            return;
        std::vector<std::uint8_t> block(kBlockSize);
        std::size_t asked = static_cast<std::size_t>(std::min<std::int64_t>(count, kBlockSize));
        std::size_t got = source.Read(block.data(), asked);
        if (got < asked)
            throw Exception(kShortFirstReadMessage);
        while (got > 0) {
            m_control.CheckCancelled();
            target.Write(block.data(), got);
            m_done += static_cast<std::int64_t>(got);
            m_host.Progress(m_done, m_total);
            count -= static_cast<std::int64_t>(got);
            if (count == 0)
                break;
            asked = static_cast<std::size_t>(std::min<std::int64_t>(count, kBlockSize));
            got = source.Read(block.data(), asked);
            if (got < asked)
                throw Exception(kShortNextReadMessage);
        }
    }

    // Everything from the source's position to its end, in large blocks and
    // without progress (the bar stays where the stage began).
    void CopyRest(TFile& source, TFile& target, std::int64_t count)
    {
        std::vector<std::uint8_t> block(1 << 20);
        while (count > 0) {
            m_control.CheckCancelled();
            std::size_t asked = static_cast<std::size_t>(std::min<std::int64_t>(count, block.size()));
            std::size_t got = source.Read(block.data(), asked);
            if (got == 0)
                break;
            target.Write(block.data(), got);
            count -= static_cast<std::int64_t>(got);
        }
    }

private:
    TArchiveStageHost& m_host;
    std::int64_t m_total;
    const TStageControl& m_control;
    std::int64_t m_done = 0;
};

// The volume file at `path`, opened once, refusing writers, and hashed
// through that handle: the bytes copied are the bytes whose digest was
// checked, whatever the name leads to meanwhile. False when it cannot be
// opened (`exists` tells whether a file is there) or is not the volume; the
// file is then closed.
bool OpenVolume(const TPath& path, const std::string& wanted, TFile& volume, std::string& digest, bool& exists)
{
    digest.clear();
    if (path.Empty() || !volume.TryOpen(path, TFileMode::ReadDenyWrite)) {
        exists = !path.Empty() && FileExists(path);
        return false;
    }
    exists = true;
    digest = package::OpenFileMD5Text(volume);
    if (digest != wanted) {
        volume.Close();
        return false;
    }
    volume.Seek(0);
    return true;
}

// The digest of the open `file`, and of the file followed by 1 to `most`
// zero bytes: how many zeros make it match `wanted` (the fewest), or -1 when
// none does. The file itself is not changed.
int ZerosThatMatch(TFile& file, int most, const std::string& wanted, std::string& digest)
{
    using Engine = package::THashAlgMD5Engine;
    Engine::TContext context;
    Engine::Init(context);
    {
        file.Seek(0);
        std::vector<std::uint8_t> block(1 << 20);
        while (std::size_t got = file.Read(block.data(), block.size()))
            Engine::Update(context, block.data(), got);
    }
    const std::uint8_t zeros[8] = {};
    for (int count = 0; count <= most; ++count) {
        Engine::TContext tail = context;
        Engine::Update(tail, zeros, static_cast<std::size_t>(count));
        package::THashDigest bytes{};
        Engine::Final(tail, bytes.data());
        const std::string text = package::THashAlgMD5().DigestToText(bytes);
        if (count == 0)
            digest = text;
        if (text == wanted) {
            digest = text;
            return count;
        }
    }
    return -1;
}

} // namespace

std::string RejectedVolumeText(const TPath& path, bool exists)
{
    if (!exists)
        return "Fisierul \"" + path.Text() + "\" nu exista";
    std::string text = "Fisierul " + package::ExtractName(path).Text() +
                       " nu este cel cautat. Este posibil sa fi aparut o eroare in timpul copierii de pe internet "
                       "sau este posibil sa ";
    TPath::TNative::value_type first = path.Empty() ? '\0' : path.Native()[0];
    bool diskette = first == 'A' || first == 'B' || first == 'a' || first == 'b';
    return text + (diskette ? "fie defecta discheta"
                            : "fi indicat un fisier care nu este parte din aceasta actualizare");
}

void RunArchiveStage(package::TPatchDataEngine& engine, TArchiveStageHost& host, const TRunRecords& records,
                     TStageControl* control)
{
    const TStageControl& stage = control ? *control : StageControl();
    const package::TPatchHeader& header = engine.Header;
    const std::int64_t start = static_cast<std::int64_t>(engine.HeaderOffset) + package::kPatchHeaderSize;
    // Created new in the work folder (a name that anything holds is passed
    // over), and held, refusing other writers, until its digest is taken
    // through the same handle.
    TFile total = version::CreateTempFile("PatchTotal", "bin");
    engine.PatchTotalFileName = total.Name();
    records.Journal.AddTempFile(engine.PatchTotalFileName.Text());
    {
        // The program's bytes come through the file the engine holds, never
        // through its name, which may lead to another file by now.
        TFile& exe = engine.ExeFile();
        if (header.VolumeCount == 0) {
            exe.Seek(start);
            // A signed program's certificate table follows the package: not
            // patch data; nor are the zeros its signer put before the table.
            // Those that may be either are held back until the digest says.
            const std::int64_t rest = engine.DataEnd - start - engine.SignerPadding;
            TByteCounter counter(host, rest, stage);
            counter.CopyRest(exe, total, rest);
        } else {
            // The header stays in the executable: only what follows it is copied.
            std::int64_t all = static_cast<std::int64_t>(header.PackageSize) - package::kPatchHeaderSize;
            for (int i = 0; i < header.VolumeCount; ++i)
                all += header.VolumeSizes[static_cast<std::size_t>(i)];
            TByteCounter counter(host, all, stage);
            exe.Seek(start);
            counter.Copy(exe, total, static_cast<std::int64_t>(header.PackageSize) -
                                         static_cast<std::int64_t>(package::kPatchHeaderSize));
            TPath path;
            for (int i = 1; i <= header.VolumeCount; ++i) {
                const std::string& wanted = header.VolumeDigests[static_cast<std::size_t>(i - 1)];
                TPath name = package::ExtractName(engine.GetVolumeFileName(i));
                host.RequestVolume(name, kVolumeRequestMessage, path, i, 0);
                TFile volume;
                std::string digest;
                bool exists = false;
                // An unattended run offers the next place of its search on
                // each repeat, so a wrong file found first does not hide the
                // volume further on.
                for (std::int32_t attempt = 1; !OpenVolume(path, wanted, volume, digest, exists); ++attempt) {
                    records.Log.VolumeRefused(i, path.Text(), exists);
                    host.RequestVolume(name, RejectedVolumeText(path, exists), path, i, attempt);
                }
                counter.Copy(volume, total, header.VolumeSizes[static_cast<std::size_t>(i - 1)]);
                records.Log.VolumeRead(i, path.Text(), header.VolumeSizes[static_cast<std::size_t>(i - 1)], digest);
            }
        }
    }
    std::string gathered;
    if (header.VolumeCount == 0) {
        const int zeros = ZerosThatMatch(total, engine.SignerPadding, header.PackageDigest, gathered);
        if (zeros > 0) {
            const std::uint8_t padding[8] = {};
            total.WriteAt(total.Size(), padding, static_cast<std::size_t>(zeros));
        }
        records.Log.DataFromProgram(engine.GetExeFileName().Text(),
                                    engine.DataEnd - start - engine.SignerPadding + std::max(zeros, 0));
    } else {
        gathered = package::OpenFileMD5Text(total);
    }
    total.Close();
    records.Log.Archive(gathered, gathered == header.PackageDigest);
    if (gathered != header.PackageDigest)
        throw Exception(kCorruptExeMessage);
}

} // namespace upd::wizard
