#include <chrono>
#include <cstdlib>
#include <thread>

#include "base/Exception.h"
#include "wizard/UpdateFiles.h"

namespace upd::wizard {

void TFaultyFileOps::Step(const std::string& name)
{
    if (m_delayMs > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(m_delayMs));
    if (++m_steps == m_failAt)
        throw EOSError(5, "Nu pot scrie fisierul " + name + "\r\nEroare simulata de test (pasul " +
                              std::to_string(m_steps) + ")");
}

void TFaultyFileOps::CopyDurable(const TPath& from, const std::string& to, bool readOnly)
{
    Step(to);
    m_inner.CopyDurable(from, to, readOnly);
}

void TFaultyFileOps::Rename(const std::string& from, const std::string& to)
{
    Step(from);
    m_inner.Rename(from, to);
}

void TFaultyFileOps::RenameVerified(const std::string& from, const std::string& to, const std::string& digest)
{
    Step(from);
    m_inner.RenameVerified(from, to, digest);
}

void TFaultyFileOps::RenameOver(const std::string& from, const std::string& to)
{
    Step(to);
    m_inner.RenameOver(from, to);
}

void TFaultyFileOps::WriteDurable(const std::string& name, const std::string& bytes)
{
    Step(name);
    m_inner.WriteDurable(name, bytes);
}

void TFaultyFileOps::Remove(const std::string& name)
{
    Step(name);
    m_inner.Remove(name);
}

#ifdef UPD_TEST_HOOKS

namespace {

int EnvironmentNumber(const char* name)
{
    const char* text = std::getenv(name);
    return text ? std::atoi(text) : 0;
}

} // namespace

std::unique_ptr<TFileOps> FileOpsFromEnvironment()
{
    int failAt = EnvironmentNumber("UPD_TEST_FAIL_FILE_OP");
    int delay = EnvironmentNumber("UPD_TEST_FILE_OP_DELAY_MS");
    if (failAt <= 0 && delay <= 0)
        return nullptr;
    return std::make_unique<TFaultyFileOps>(SystemFileOps(), failAt, delay);
}

#else

// The release program reads nothing from its environment: a stray variable
// on a user's machine must not fail or slow an update.
std::unique_ptr<TFileOps> FileOpsFromEnvironment() { return nullptr; }

#endif

} // namespace upd::wizard
