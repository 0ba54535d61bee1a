#include "platform/pending_renames.h"

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"
#include "platform/paths.h"

#include <windows.h>

#include <cstring>
#include <vector>

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValueName[] = L"PendingFileRenameOperations";

// One pending operation; an empty target means that the source is to be deleted.
struct PendingPair {
    std::wstring source;
    std::wstring target;
};

// The value's characters; false (with the reason logged when asked) when it cannot be read.
bool ReadValue(std::wstring& text, bool logged)
{
    if (logged) {
        NV_QOR_LOG(NvQorLogging::Info, L"%s: Get value '%s' from '%s'", NV_LOG_FUNCTION, kPendingValueName,
                   kSessionManagerKey);
    }
    UniqueKey key;
    if (const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_READ, key.put());
        opened != ERROR_SUCCESS) {
        if (logged) {
            NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to open key '%s'. Error: %lu", NV_LOG_FUNCTION,
                       kSessionManagerKey, static_cast<DWORD>(opened));
        }
        return false;
    }
    // The value may grow between the size query and the read, so the read repeats until the buffer suffices.
    std::vector<BYTE> buffer(1);
    DWORD size = static_cast<DWORD>(buffer.size());
    LSTATUS status = ::RegQueryValueExW(key.get(), kPendingValueName, nullptr, nullptr, buffer.data(), &size);
    while (status == ERROR_MORE_DATA) {
        buffer.resize(size);
        status = ::RegQueryValueExW(key.get(), kPendingValueName, nullptr, nullptr, buffer.data(), &size);
    }
    if (status != ERROR_SUCCESS) {
        if (logged) {
            NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to get value '%s'. Error: %lu", NV_LOG_FUNCTION,
                       kPendingValueName, static_cast<DWORD>(status));
        }
        return false;
    }
    text.assign(size / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), buffer.data(), text.size() * sizeof(wchar_t));
    return true;
}

// Writes the characters exactly as given, as a REG_MULTI_SZ value.
bool WriteValue(const std::wstring& text)
{
    NV_QOR_LOG(NvQorLogging::Info, L"%s: Set value '%s' on '%s'", NV_LOG_FUNCTION, kPendingValueName,
               kSessionManagerKey);
    UniqueKey key;
    if (const LSTATUS opened = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSessionManagerKey, 0, KEY_WRITE, key.put());
        opened != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to open key '%s'. Error: %lu", NV_LOG_FUNCTION, kSessionManagerKey,
                   static_cast<DWORD>(opened));
        return false;
    }
    const DWORD byteCount = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (const LSTATUS written = ::RegSetValueExW(key.get(), kPendingValueName, 0, REG_MULTI_SZ,
                                                 reinterpret_cast<const BYTE*>(text.data()), byteCount);
        written != ERROR_SUCCESS) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to set value '%s'. Error: %lu", NV_LOG_FUNCTION, kPendingValueName,
                   static_cast<DWORD>(written));
        return false;
    }
    return true;
}

// Every NUL ends a piece, and the text after the last NUL is one more, so k NULs give k + 1 pieces. The usual
// final NUL makes a last pair of two empty strings, which puts that NUL back when the list is written.
std::vector<std::wstring> SplitPieces(const std::wstring& text)
{
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (size_t end = text.find(L'\0'); end != std::wstring::npos; end = text.find(L'\0', start)) {
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

// The value's strings, two by two, in the order of the value.
bool GetAllPendingPairs(std::vector<PendingPair>& pairs)
{
    std::wstring text;
    if (!ReadValue(text, true)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Error reading '%s'. Error %lu", NV_LOG_FUNCTION, kPendingValueName,
                   ::GetLastError());
        return false;
    }
    std::vector<std::wstring> pieces = SplitPieces(text);
    // An odd count cannot be split into pairs without pairing a source with the wrong target.
    if (pieces.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < pieces.size(); i += 2) {
        pairs.push_back({std::move(pieces[i]), std::move(pieces[i + 1])});
    }
    return true;
}

std::wstring JoinPairs(const std::vector<PendingPair>& pairs)
{
    std::wstring text;
    for (const PendingPair& pair : pairs) {
        if (&pair != &pairs.front()) {
            text += L'\0';
        }
        text += pair.source;
        text += L'\0';
        text += pair.target;
    }
    return text;
}

// The matching rule of the header, for one entry of the list and a path already read as recorded.
bool EntryConcerns(const std::wstring& entry, const std::wstring& recordedPath)
{
    const std::wstring path = !entry.empty() && entry.front() == L'!' ? entry.substr(1) : entry;
    return !path.empty() && IsInFolder(RecordedPath(path, false), recordedPath);
}

bool PairConcerns(const PendingPair& pair, const std::wstring& recordedPath)
{
    return EntryConcerns(pair.source, recordedPath) || EntryConcerns(pair.target, recordedPath);
}

} // namespace

namespace PendingRenames {

// Every string counts, paired or not: a list that is not made of pairs still names what it would touch.
bool Concerns(const std::wstring& path)
{
    std::wstring text;
    if (path.empty() || !ReadValue(text, false)) {
        return false;
    }
    const std::wstring recordedPath = RecordedPath(path, false);
    for (const std::wstring& entry : SplitPieces(text)) {
        if (EntryConcerns(entry, recordedPath)) {
            return true;
        }
    }
    return false;
}

std::optional<size_t> RemoveConcerning(const std::wstring& path)
{
    std::vector<PendingPair> pairs;
    if (path.empty() || !GetAllPendingPairs(pairs)) {
        return std::nullopt;
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Got %lu values in PendingOperation. Prefix: '%s'", NV_LOG_FUNCTION,
               static_cast<unsigned long>(pairs.size()), path.c_str());
    const std::wstring recordedPath = RecordedPath(path, false);
    std::vector<PendingPair> kept;
    for (PendingPair& pair : pairs) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Path in PendingOperation '%s'->'%s'", NV_LOG_FUNCTION,
                   pair.source.c_str(), pair.target.c_str());
        if (PairConcerns(pair, recordedPath)) {
            NV_QOR_LOG(NvQorLogging::Debug, L"%s: Removing path from PendingOperation '%s'->'%s'", NV_LOG_FUNCTION,
                       pair.source.c_str(), pair.target.c_str());
        } else {
            kept.push_back(std::move(pair));
        }
    }
    const size_t removed = pairs.size() - kept.size();
    if (!WriteValue(JoinPairs(kept))) {
        return std::nullopt;
    }
    return removed;
}

} // namespace PendingRenames
