#include "engine/host_module.h"
#include "logging/nv_qor_log.h"
#include "modules/lua_arguments.h"
#include "platform/paths.h"
#include "platform/registry.h"

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kSessionManagerKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
constexpr wchar_t kPendingValueName[] = L"PendingFileRenameOperations";
constexpr wchar_t kRemoveLogName[] = L"Lua::Path::RemoveFromPendingOperation";

// One pending operation; an empty target means that the source is to be deleted.
struct PendingPair {
    std::wstring source;
    std::wstring target;
};

// The value's strings, two by two, in the order of the value. The usual final NUL makes a last pair of two
// empty strings, which puts that NUL back when the list is written.
bool GetAllPendingPairs(Win32RegistryForTools& registry, std::vector<PendingPair>& pairs)
{
    RegistryBytes bytes;
    if (!registry.GetValueRaw(kSessionManagerKey, kPendingValueName, bytes)) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Error reading '%s'. Error %lu",
                   L"`anonymous-namespace'::GetAllPendingPairs", kPendingValueName, ::GetLastError());
        return false;
    }
    std::wstring text(bytes.size() / sizeof(wchar_t), L'\0');
    std::memcpy(text.data(), bytes.data(), text.size() * sizeof(wchar_t));
    // Every NUL ends a piece, and the text after the last NUL is one more, so k NULs give k + 1 pieces.
    std::vector<std::wstring> pieces;
    size_t start = 0;
    for (size_t end = text.find(L'\0'); end != std::wstring::npos; end = text.find(L'\0', start)) {
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    pieces.push_back(text.substr(start));
    // An odd count cannot be split into pairs without pairing a source with the wrong target.
    if (pieces.size() % 2 != 0) {
        return false;
    }
    for (size_t i = 0; i < pieces.size(); i += 2) {
        pairs.push_back({std::move(pieces[i]), std::move(pieces[i + 1])});
    }
    return true;
}

// Sources are stored in NT form ("\??\C:\..."), some in plain form. A source matches when it is the prefix's
// path or lies below it, by the tool's one folder test, whatever form either is written in.
bool SourceHasPrefix(const std::wstring& source, const std::wstring& prefix)
{
    return IsInFolder(RecordedPath(source, false), RecordedPath(prefix, false));
}

size_t RemoveByPrefix(std::vector<PendingPair>& pairs, const std::wstring& prefix)
{
    constexpr wchar_t logName[] = L"`anonymous-namespace'::RemoveByPrefix";
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Got %lu values in PendingOperation. Prefix: '%s'", logName,
               static_cast<unsigned long>(pairs.size()), prefix.c_str());
    std::vector<PendingPair> kept;
    for (PendingPair& pair : pairs) {
        NV_QOR_LOG(NvQorLogging::Debug, L"%s: Path in PendingOperation '%s'->'%s'", logName, pair.source.c_str(),
                   pair.target.c_str());
        if (SourceHasPrefix(pair.source, prefix)) {
            NV_QOR_LOG(NvQorLogging::Debug, L"%s: Removing path from PendingOperation '%s'->'%s'", logName,
                       pair.source.c_str(), pair.target.c_str());
        } else {
            kept.push_back(std::move(pair));
        }
    }
    const size_t removed = pairs.size() - kept.size();
    pairs = std::move(kept);
    return removed;
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

int RemoveFromPendingOperation(lua_State* state)
{
    const std::wstring prefix = CheckWideString(state, 1);
    // An empty prefix would match every pending operation of the machine, other programs' included.
    if (prefix.empty()) {
        NV_QOR_LOG(NvQorLogging::Error, L"%s: %s", kRemoveLogName,
                   lua_rawlen(state, 1) != 0 ? L"Prefix is not valid UTF-8" : L"Prefix is empty");
        return 0;
    }
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Got prefix to remove: '%s'", kRemoveLogName, prefix.c_str());
    Win32RegistryForTools registry;
    std::vector<PendingPair> pairs;
    if (!GetAllPendingPairs(registry, pairs)) {
        return 0;
    }
    const size_t removed = RemoveByPrefix(pairs, prefix);
    if (!registry.SetValueRaw(kSessionManagerKey, kPendingValueName, JoinPairs(pairs))) {
        return 0;
    }
    lua_pushinteger(state, static_cast<lua_Integer>(removed));
    return 1;
}

const luaL_Reg kPathFunctions[] = {
    {"RemoveFromPendingOperation", RemoveFromPendingOperation},
    {nullptr, nullptr},
};

const LuaConstant kNoConstants[] = {{nullptr, 0}};

} // namespace

void RegisterPathModule(lua_State* state)
{
    RegisterHostModule(state, "Path", kPathFunctions, kNoConstants);
}
