#include "logging/file_context.h"

#include "logging/nv_qor_log.h"

#include <algorithm>
#include <utility>

namespace NvQorLogging {
namespace {

constexpr wchar_t kLoggingKey[] = L"SOFTWARE\\Norvane\\QOR\\Logging";
constexpr wchar_t kShellFoldersKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr DWORD kAbsentInSubkey = 0xFFFFFFFF;
constexpr DWORD kMaxRotationCount = 99;
constexpr uint64_t kMinSizeLimit = 3;
constexpr DWORD kMutexWaitMs = 500;

// Folders on the way to the log may belong to these, besides the account the process runs as: anyone else
// could have prepared them to redirect what the tool writes, renames and deletes there.
constexpr const wchar_t* kTrustedOwners[] = {
    L"S-1-5-32-544",                                                   // BUILTIN\Administrators
    L"S-1-5-18",                                                       // SYSTEM
    L"S-1-5-80-956008885-3418522649-1831038044-1850635186-2720036831", // TrustedInstaller
};

bool IsTrustedOwner(const std::wstring& owner, const std::wstring& processUser)
{
    if (owner.empty()) {
        return false;
    }
    return owner == processUser || std::any_of(std::begin(kTrustedOwners), std::end(kTrustedOwners),
                                               [&owner](const wchar_t* trusted) { return owner == trusted; });
}

// Holds the cross-process mutex for one write; a wait that times out or fails leaves it not held.
class MutexHold {
public:
    MutexHold(LogPlatform& platform, HANDLE mutex) : m_platform(platform), m_mutex(mutex)
    {
        if (m_mutex != nullptr) {
            const DWORD wait = m_platform.WaitMutex(m_mutex, kMutexWaitMs);
            m_held = wait == WAIT_OBJECT_0 || wait == WAIT_ABANDONED;
        }
    }
    MutexHold(const MutexHold&) = delete;
    MutexHold& operator=(const MutexHold&) = delete;
    ~MutexHold()
    {
        if (m_held) {
            m_platform.ReleaseMutex(m_mutex);
        }
    }
    explicit operator bool() const { return m_held; }

private:
    LogPlatform& m_platform;
    HANDLE m_mutex;
    bool m_held = false;
};

} // namespace

FileContext::FileContext(LogPlatform& platform, std::unique_ptr<FileSystem::Path> path, std::wstring component,
                         std::wstring logName, uint32_t flags)
    : m_platform(platform), m_path(std::move(path)), m_component(std::move(component)), m_logName(std::move(logName)),
      m_flags(flags), m_file(m_path->NewFile())
{
}

FileContext::~FileContext() = default;

bool FileContext::Initialize()
{
    if (m_initialized) {
        return false;
    }
    m_initialized = true;
    m_rotationCount = std::min(ConfiguredValue(L"LogRotateCount", 2), kMaxRotationCount);
    m_sizeLimit = std::max(uint64_t{ConfiguredValue(L"LogMaxSizeKB", 100)} * 1024, kMinSizeLimit);

    const bool administrator = m_platform.IsAdministrator();
    const bool lowIntegrity = !administrator && m_platform.IsLowIntegrity();
    const std::wstring vendorFolder = LogRoot(administrator, lowIntegrity) + L"\\Norvane";
    // Without a folder the context stays initialised but without mutex and file: every line is dropped.
    if (!m_path->CreateDirectoryTree(vendorFolder, nullptr)) {
        return true;
    }
    // Protected lists: inherited entries of the vendor folder (which users may write to) must not come along.
    if (administrator) {
        m_security = m_platform.SecurityFromSddl((m_flags & OpenFlagRestrictedFolder) != 0
                                                     ? L"D:P(A;;GA;;;SY)(A;;GA;;;BA)"
                                                     : L"D:P(A;OICI;GA;;;SY)(A;OICI;GA;;;BA)(A;OICI;GRGX;;;AU)");
    }
    const std::wstring logFolder = vendorFolder + L"\\Log\\" + m_component;
    // From the vendor folder down, each one is checked before anything is made inside it, so that nothing is
    // created, written, renamed or deleted behind a link.
    const std::wstring processUser = m_platform.UserSid();
    for (const std::wstring& folder : {vendorFolder, vendorFolder + L"\\Log", logFolder}) {
        if (!AcceptFolder(folder, processUser)) {
            return true;
        }
    }
    m_folder = logFolder;
    m_basePath = logFolder + L"\\" + m_logName;
    if (administrator && (m_flags & OpenFlagUserSidInName) != 0) {
        if (const std::wstring sid = m_platform.UserSid(); !sid.empty()) {
            m_basePath += L"." + sid;
        }
    }
    CreateMutexFor(administrator, lowIntegrity);
    return true;
}

bool FileContext::AcceptFolder(const std::wstring& folder, const std::wstring& processUser)
{
    using Kind = FileSystem::FolderFacts::Kind;
    FileSystem::FolderFacts facts = m_path->InspectFolder(folder);
    if (facts.kind == Kind::Missing && m_path->CreateDirectoryTree(folder, SecurityAttributes())) {
        facts = m_path->InspectFolder(folder);
    }
    std::wstring reason;
    if (facts.kind == Kind::Link) {
        reason = L"it is a link";
    } else if (facts.kind != Kind::Folder) {
        // Not made, or a file in its place: no file log, as for any folder that cannot be made.
        return false;
    } else if (facts.owner.empty()) {
        reason = L"its owner cannot be read";
    } else if (!IsTrustedOwner(facts.owner, processUser)) {
        reason = L"it belongs to another account (" + facts.owner + L")";
    } else {
        m_heldFolders.push_back(std::move(facts.handle));
        return true;
    }
    m_folderRefusal = L"The log folder '" + folder + L"' is not used: " + reason + L". This run writes no log file.";
    return false;
}

std::wstring FileContext::FolderRefusal() const
{
    return m_folderRefusal;
}

std::wstring FileContext::Folder() const
{
    return m_folder;
}

std::wstring FileContext::CurrentFile() const
{
    return m_basePath.empty() ? std::wstring() : FileNameForIndex(0);
}

void FileContext::CreateMutexFor(bool administrator, bool lowIntegrity)
{
    const std::unique_ptr<LogSecurity> security =
        administrator ? m_platform.SecurityFromSddl(L"D:(A;;GA;;;SY)(A;;GA;;;BA)") : nullptr;
    const std::wstring name = MutexName(lowIntegrity);
    DWORD error = ERROR_SUCCESS;
    m_mutex = m_platform.CreateNamedMutex(name, security ? &security->attributes : nullptr, error);
    // A mutex made by a more privileged process may refuse full access but still allow waiting on it.
    if (!m_mutex && error == ERROR_ACCESS_DENIED) {
        m_mutex = m_platform.OpenNamedMutex(name);
    }
}

void FileContext::WriteLine(std::wstring_view text)
{
    const MutexHold hold(m_platform, m_mutex.get());
    if (!hold) {
        return;
    }
    PrepareFile();
    m_file->Write(text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)));
}

void FileContext::Flush()
{
    const MutexHold hold(m_platform, m_mutex.get());
    if (hold) {
        m_file->Flush();
    }
}

int32_t FileContext::ConfiguredLevel(int32_t defaultLevel)
{
    return static_cast<int32_t>(ConfiguredValue(L"LogLevel", static_cast<DWORD>(defaultLevel)));
}

bool FileContext::DebugOutputEnabled()
{
    return ConfiguredValue(L"DebugOutputLogging", 0) != 0;
}

void FileContext::PrepareFile()
{
    if (m_file->IsOpen()) {
        // Also moves to the end, past whatever other processes appended.
        if (m_file->SeekEndSize() < m_sizeLimit) {
            return;
        }
        m_file->Close();
    }
    // A file that cannot be opened is left alone: rotating it would shift out older logs line after line.
    if (OpenCurrentFile() != OpenResult::Full) {
        return;
    }
    m_file->Close();
    Rotate();
    OpenCurrentFile();
}

FileContext::OpenResult FileContext::OpenCurrentFile()
{
    if (!m_file->Open(FileNameForIndex(0), SecurityAttributes())) {
        return OpenResult::Failed;
    }
    m_file->WriteBomIfEmpty();
    return m_file->SeekEndSize() < m_sizeLimit ? OpenResult::Ready : OpenResult::Full;
}

void FileContext::Rotate()
{
    if (m_rotationCount == 0) {
        m_path->DeleteOrScheduleDelete(FileNameForIndex(0));
        return;
    }
    m_path->DeleteOrScheduleDelete(FileNameForIndex(m_rotationCount));
    for (uint32_t index = m_rotationCount; index-- > 0;) {
        const std::wstring name = FileNameForIndex(index);
        if (m_path->FileExists(name)) {
            m_path->MoveReplace(name, FileNameForIndex(index + 1));
        }
    }
}

std::wstring FileContext::FileNameForIndex(uint32_t index) const
{
    if (index == 0) {
        return m_basePath + L".log";
    }
    return m_basePath + L"." + std::to_wstring(index) + L".log";
}

std::wstring FileContext::MutexName(bool local) const
{
    std::wstring name = local ? L"Local\\NvQorLogging_" : L"Global\\NvQorLogging_";
    std::wstring path = m_basePath;
    std::replace(path.begin(), path.end(), L'\\', L'_');
    return name + path;
}

DWORD FileContext::ConfiguredValue(const wchar_t* name, DWORD defaultValue) const
{
    const std::wstring componentKey = std::wstring(kLoggingKey) + L"\\" + m_component;
    DWORD value = 0;
    // The more specific keys may hold 0xFFFFFFFF to defer to the general one.
    for (const std::wstring& key : {componentKey + L"\\" + m_logName, componentKey}) {
        if (m_platform.QueryDword(HKEY_LOCAL_MACHINE, key, name, KEY_WOW64_32KEY, value) && value != kAbsentInSubkey) {
            return value;
        }
    }
    return m_platform.QueryDword(HKEY_LOCAL_MACHINE, kLoggingKey, name, KEY_WOW64_32KEY, value) ? value : defaultValue;
}

std::wstring FileContext::LogRoot(bool administrator, bool lowIntegrity) const
{
    if (lowIntegrity) {
        return m_platform.QueryString(HKEY_CURRENT_USER, kShellFoldersKey, L"{A520A1A4-1780-4FF6-BD18-167343C5AF16}",
                                      0);
    }
    const HKEY hive = administrator ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    std::wstring root = m_platform.QueryString(hive, kLoggingKey, L"RootPath", KEY_WOW64_32KEY);
    if (root.empty()) {
        root = m_platform.QueryString(hive, kShellFoldersKey, administrator ? L"Common AppData" : L"Local AppData", 0);
    }
    if (root.empty()) {
        root = m_platform.ExpandEnvironment(administrator ? L"%ProgramData%" : L"%LOCALAPPDATA%");
    }
    return root;
}

SECURITY_ATTRIBUTES* FileContext::SecurityAttributes() const
{
    return m_security ? &m_security->attributes : nullptr;
}

} // namespace NvQorLogging
