// The kit's registry work through the API: the whole registry read once for the inventory and the snapshot, and
// the writes of values in either view, shared string lists included.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace NvKit {

enum class View { Native, Wow32 };

// Every key and value of HKLM (paths without the root, the 32-bit view's keys under their Wow6432Node paths)
// and HKU (paths "HKU\<SID>\..."), with the names as stored. Links are followed as a registry export follows
// them (CurrentControlSet appears beside ControlSet001). A key that refuses to be opened is listed as
// unreadable, without what lies below it.
class RegistryDump {
public:
    struct Entry {
        bool isKey = true;
        bool unreadable = false;
        std::wstring path;  // a value's path is "<key>\<name>"; the default value's name is empty
        std::wstring upper; // the path in upper case
        size_t nameAt = 0;  // where a value's name begins in the path
    };

    static RegistryDump Read();

    const std::vector<Entry>& Entries() const { return entries_; }
    // The key and everything below it, in registry order; nothing when the key is missing.
    std::vector<const Entry*> Tree(const std::wstring& key) const;
    const Entry* FindKey(const std::wstring& key) const;
    const Entry* FindValue(const std::wstring& key, const std::wstring& name) const;

private:
    void Walk(HKEY key, const std::wstring& path);
    const Entry* Find(bool isKey, const std::wstring& path) const;

    std::vector<Entry> entries_;
    std::vector<size_t> sorted_; // indices into entries_ in the order of their upper-case paths
};

// The root and the path below it of "HKU\..." (HKEY_USERS) or of an HKLM key.
std::pair<HKEY, std::wstring> SplitRoot(const std::wstring& key);
// The loaded users' hives ("HKU\S-1-5-21-..."), without their Classes hives.
std::vector<std::wstring> UserHives();

// The key's path in the 64-bit and in the 32-bit view (the same for keys that are not redirected).
std::vector<std::wstring> KeyViews(const std::wstring& key);

// HKLM\KEY or, for "HKU\...", a key of HKEY_USERS; created as needed. Failures are reported by name and Win32
// error on the console and end the program: a kit that half-installs a product would make every check a guess.
void SetString(View view, const std::wstring& key, const std::wstring& name, const std::wstring& data,
               DWORD type = REG_SZ);
void SetDword(View view, const std::wstring& key, const std::wstring& name, DWORD data);
void CreateKey(View view, const std::wstring& key);
void DeleteValue(const std::wstring& key, const std::wstring& name);
std::optional<std::wstring> ReadString(const std::wstring& key, const std::wstring& name);
// Prints the key and everything below it in the view, each value with its type and its data in hex ("V <path>\<name>
// <type> <hex>"), for comparisons byte for byte; nothing when the key is missing.
void PrintTree(View view, const std::wstring& key);
// Replaces the key's access list; false when the key is missing.
bool SetKeySecurity(View view, const std::wstring& key, const wchar_t* sddl);

// Lists that programs of several vendors share: REG_MULTI_SZ (device class filters) or a REG_SZ of names
// separated by commas (network provider orders).
enum class ListForm { MultiString, Commas };

// A list's strings: empty when the key or the value is missing, nothing when it cannot be read, so that a rewrite
// of a shared list never drops the entries that a failed read did not return.
std::optional<std::vector<std::wstring>> ReadList(const std::wstring& key, const std::wstring& name,
                                                  ListForm form = ListForm::MultiString);
// The same, ending the program when the value cannot be read.
std::vector<std::wstring> ReadListOrExit(const std::wstring& key, const std::wstring& name,
                                         ListForm form = ListForm::MultiString);
void WriteList(const std::wstring& key, const std::wstring& name, const std::vector<std::wstring>& strings,
               ListForm form = ListForm::MultiString);
// The list with NAME first and LAST (unless empty) at the end, each name once (without regard to case), the others in
// their order.
std::vector<std::wstring> WithFirst(const std::wstring& name, const std::vector<std::wstring>& list,
                                    const std::wstring& last);

// The form in which Windows Installer files a GUID in its keys: {80E10E05-064B-...} -> 50E01E08B460...
std::wstring PackGuid(const std::wstring& guid);

std::wstring Upper(std::wstring text);

} // namespace NvKit
