#include "platform/paths.h"

#include "platform/special_folders.h"

#include <cwctype>
#include <vector>

namespace {

constexpr wchar_t kLiteralPrefix[] = L"\\\\?\\";
constexpr wchar_t kLiteralUncPrefix[] = L"\\\\?\\UNC\\";

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

bool IsDriveAbsolute(const std::wstring& path)
{
    return path.size() >= 3 && std::iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2]);
}

bool IsUnc(const std::wstring& path)
{
    return path.size() > 2 && IsSeparator(path[0]) && IsSeparator(path[1]) && path[2] != L'?' && path[2] != L'.';
}

// Joins the components after the root, dropping empty and "." ones and applying "..", as Win32 parsing
// would, but keeps every name exactly as written: trailing dots and spaces stay.
std::wstring CanonicalTail(const std::wstring& path, size_t start, size_t keep)
{
    std::vector<std::wstring> components;
    size_t position = start;
    while (position < path.size()) {
        size_t end = position;
        while (end < path.size() && !IsSeparator(path[end])) {
            ++end;
        }
        const std::wstring component = path.substr(position, end - position);
        if (component == L"..") {
            if (components.size() > keep) {
                components.pop_back();
            }
        } else if (!component.empty() && component != L".") {
            components.push_back(component);
        }
        position = end + 1;
    }
    std::wstring joined;
    for (size_t i = 0; i < components.size(); ++i) {
        joined += (i == 0 ? L"" : L"\\") + components[i];
    }
    return joined;
}

std::wstring FullPathByWin32(const std::wstring& path)
{
    const DWORD needed = ::GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) {
        return path;
    }
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) {
        return path;
    }
    full.resize(length);
    return full;
}

// GetFileAttributesW reports an unreadable path as INVALID_FILE_ATTRIBUTES, which has every bit set.
DWORD ReadAttributes(const std::wstring& path)
{
    return ::GetFileAttributesW(LiteralPath(path).c_str());
}

bool IsLiteral(const std::wstring& path)
{
    return path.rfind(L"\\\\?\\", 0) == 0 || path.rfind(L"\\\\.\\", 0) == 0;
}

// The literal form without trailing separators, or empty for a path that is not absolute: a relative path
// depends on the process's current folder and so lies nowhere.
std::wstring ComparableForm(const std::wstring& path)
{
    if (!IsLiteral(path) && !IsDriveAbsolute(path) && !IsUnc(path)) {
        return {};
    }
    std::wstring literal = LiteralPath(path);
    while (!literal.empty() && literal.back() == L'\\') {
        literal.pop_back();
    }
    return literal;
}

bool EqualIgnoringCase(const wchar_t* a, const wchar_t* b, size_t length)
{
    return ::CompareStringOrdinal(a, static_cast<int>(length), b, static_cast<int>(length), TRUE) == CSTR_EQUAL;
}

enum class Placement { Elsewhere, Same, Below };

Placement PlaceInFolder(const std::wstring& path, const std::wstring& folder)
{
    const std::wstring inner = ComparableForm(path);
    const std::wstring outer = ComparableForm(folder);
    if (inner.empty() || outer.empty() || inner.size() < outer.size() ||
        !EqualIgnoringCase(inner.c_str(), outer.c_str(), outer.size())) {
        return Placement::Elsewhere;
    }
    if (inner.size() == outer.size()) {
        return Placement::Same;
    }
    return inner[outer.size()] == L'\\' ? Placement::Below : Placement::Elsewhere;
}

std::wstring Trimmed(const std::wstring& text)
{
    const size_t first = text.find_first_not_of(L" \t");
    if (first == std::wstring::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(L" \t") - first + 1);
}

bool StartsWithIgnoringCase(const std::wstring& text, const std::wstring& start)
{
    return text.size() >= start.size() && EqualIgnoringCase(text.c_str(), start.c_str(), start.size());
}

bool CharsMatch(wchar_t maskChar, wchar_t nameChar, bool caseInsensitive)
{
    if (maskChar == L'?') {
        return true;
    }
    if (caseInsensitive) {
        return std::towlower(maskChar) == std::towlower(nameChar);
    }
    return maskChar == nameChar;
}

} // namespace

std::wstring LiteralPath(const std::wstring& path)
{
    if (IsLiteral(path)) {
        return path;
    }
    if (IsDriveAbsolute(path)) {
        return kLiteralPrefix + path.substr(0, 2) + L"\\" + CanonicalTail(path, 3, 0);
    }
    if (IsUnc(path)) {
        // Server and share are the root; ".." never climbs above them.
        const std::wstring tail = CanonicalTail(path, 2, 2);
        return tail.empty() ? path : kLiteralUncPrefix + tail;
    }
    // Relative and drive-relative paths depend on process state; Win32 resolves them (and trims their names).
    const std::wstring full = FullPathByWin32(path);
    return IsDriveAbsolute(full) || IsUnc(full) ? LiteralPath(full) : path;
}

bool IsFullPath(const std::wstring& path)
{
    return IsDriveAbsolute(path) || IsUnc(path) || IsLiteral(path);
}

bool IsInFolder(const std::wstring& path, const std::wstring& folder)
{
    return PlaceInFolder(path, folder) != Placement::Elsewhere;
}

bool IsBelowFolder(const std::wstring& path, const std::wstring& folder)
{
    return PlaceInFolder(path, folder) == Placement::Below;
}

bool IsSamePath(const std::wstring& path, const std::wstring& other)
{
    return PlaceInFolder(path, other) == Placement::Same;
}

std::wstring RecordedPath(const std::wstring& text, bool expandable)
{
    std::wstring path = text;
    if (expandable) {
        ExpandEnvironment(path);
    }
    path = Trimmed(path);
    if (path.size() >= 2 && path.front() == L'"' && path.find(L'"', 1) == path.size() - 1) {
        path = Trimmed(path.substr(1, path.size() - 2));
    }
    // The forms the service control manager and the session manager write: an NT path of a drive, the
    // Windows folder by its NT name, and a driver's image relative to the Windows folder.
    if (path.rfind(L"\\??\\", 0) == 0) {
        return path.substr(4);
    }
    if (StartsWithIgnoringCase(path, L"\\SystemRoot\\")) {
        return MakePath(QueryWindowsDirectory(), path.substr(12));
    }
    if (StartsWithIgnoringCase(path, L"System32\\")) {
        return MakePath(QueryWindowsDirectory(), path);
    }
    return path;
}

std::wstring CommandProgram(const std::wstring& command)
{
    const std::wstring text = Trimmed(command);
    if (!text.empty() && text.front() == L'"') {
        return RecordedPath(text.substr(1, text.find(L'"', 1) - 1), false);
    }
    constexpr wchar_t kExtension[] = L".exe";
    constexpr size_t kExtensionLength = 4;
    for (size_t at = 0; at + kExtensionLength <= text.size(); ++at) {
        const size_t end = at + kExtensionLength;
        if (EqualIgnoringCase(text.c_str() + at, kExtension, kExtensionLength) &&
            (end == text.size() || text[end] == L' ' || text[end] == L'\t')) {
            return RecordedPath(text.substr(0, end), false);
        }
    }
    return RecordedPath(text, false);
}

bool PathExists(const std::wstring& path)
{
    return ReadAttributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsFile(const std::wstring& path)
{
    const DWORD attributes = ReadAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsDirectory(const std::wstring& path)
{
    const DWORD attributes = ReadAttributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::wstring MakePath(const std::wstring& directory, const std::wstring& name)
{
    if (directory.empty()) {
        return name;
    }
    const bool endsWithSeparator = directory.back() == L'\\';
    if (name.empty()) {
        return endsWithSeparator ? directory.substr(0, directory.size() - 1) : directory;
    }
    return endsWithSeparator ? directory + name : directory + L'\\' + name;
}

bool SplitPath(const std::wstring& path, std::wstring& directory, std::wstring& name)
{
    std::wstring copy = path;
    if (!copy.empty() && copy.back() == L'\\') {
        copy.pop_back();
    }
    if (copy.empty()) {
        return false;
    }
    const size_t separator = copy.rfind(L'\\');
    if (separator == std::wstring::npos) {
        directory.clear();
        name = copy;
        return true;
    }
    // A leading separator or a doubled trailing one leaves nothing sensible to split.
    if (separator == 0 || separator == copy.size() - 1) {
        return false;
    }
    directory = copy.substr(0, separator);
    name = copy.substr(separator + 1);
    return true;
}

// Iterative glob with a single backtrack point: on a mismatch only the most recent "*" needs to absorb one
// more character, because every earlier "*" could absorb the same text. This gives the same answers as
// trying every suffix at every "*", in O(name * mask) time instead of exponential time.
bool MatchesMask(const std::wstring& name, const std::wstring& mask, bool caseInsensitive)
{
    constexpr size_t kNoStar = std::wstring::npos;
    size_t n = 0;
    size_t m = 0;
    size_t resumeMask = kNoStar;
    size_t resumeName = 0;
    while (n < name.size()) {
        if (m < mask.size() && mask[m] == L'*') {
            resumeMask = ++m;
            resumeName = n;
        } else if (m < mask.size() && CharsMatch(mask[m], name[n], caseInsensitive)) {
            ++m;
            ++n;
        } else if (resumeMask != kNoStar) {
            m = resumeMask;
            n = ++resumeName;
        } else {
            return false;
        }
    }
    while (m < mask.size() && mask[m] == L'*') {
        ++m;
    }
    return m == mask.size();
}

bool CreateDirectoryChain(const std::wstring& path, SECURITY_ATTRIBUTES* attributes)
{
    if (path.empty()) {
        return true;
    }
    const DWORD existing = ReadAttributes(path);
    if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return true;
    }
    std::wstring parent;
    std::wstring name;
    if (!SplitPath(path, parent, name) || !CreateDirectoryChain(parent, attributes)) {
        return false;
    }
    return ::CreateDirectoryW(LiteralPath(path).c_str(), attributes) != FALSE;
}
