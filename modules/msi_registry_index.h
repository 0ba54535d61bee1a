#pragma once

#include "base/unique_resource.h"
#include "platform/key_watch.h"
#include "platform/registry.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// The forced clean-up asks the same questions of keys that hold one subkey per product or component: a real
// machine has 50,000 to 150,000 component keys, and reading them all once per product code cleaned made the
// clean-up take minutes. These indexes read such a key once per run, answer from memory, and are kept current by
// the clean-up's own deletions. A change watch on the key (armed before it is read) tells when anything else has
// changed it since (Windows Installer, a product's own uninstaller, a script's Reg calls); the components index
// then reads again only the components whose last-write time changed. Used on the script thread only.
namespace MsiRegistryIndex {

// A component key written less than this long before a read (in FILETIME units: 1 s) may be written again
// within the same tick of the registry's clock and keep its last-write time: it is listed again at the next
// read. Generous beside the clock's granularity (at most 16 ms) and its difference from the system time.
constexpr uint64_t kUntrustedAge = 10'000'000;

// A packed code as 16 bytes, so that 150,000 component keys fit in a few megabytes and compare without case.
using PackedCode = std::array<uint8_t, 16>;
// False when the text is not exactly 32 hexadecimal digits.
bool ParsePackedCode(const std::wstring& text, PackedCode& code);

// The value names of a key; the result says whether the listing succeeded (not found and refused are failures,
// never an empty list).
RegistryError ListValueNames(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names);

// Component code -> the packed product codes among its value names (its clients).
class ComponentIndex {
public:
    // A component key that may name the product: one that did when last read, or one whose values could not be
    // read. `entry` identifies it to the update calls.
    struct Candidate {
        std::wstring name;
        size_t entry;
    };

    // Reads the components key at the first call; after a change by something else, lists the subkeys again and
    // the values only of those written since. False when the key cannot be listed (a missing key is an empty
    // one).
    bool Find(const std::wstring& componentsKey, const PackedCode& product, std::vector<Candidate>& candidates);
    // The clean-up's own changes: the component's value names now, or the key gone, or its state unknown.
    void Update(size_t entry, const std::vector<std::wstring>& valueNames);
    void Remove(size_t entry);
    void MarkUnknown(size_t entry);
    // The clean-up's own deletions since Find are over.
    void EndOwnChanges();

private:
    static constexpr uint32_t kCanonicalName = UINT32_MAX;
    struct Entry {
        PackedCode code;   // the key's name when it is canonical (32 upper-case hexadecimal digits)
        uint32_t nameSlot; // otherwise its index in otherNames
        uint32_t firstClient;
        uint32_t clientCount;
        bool known; // its values were listed
        bool present;
        // The key's last-write time when its values were listed; 0 when they are to be listed at the next read.
        uint64_t written;
    };
    // What one read of the key found.
    struct Snapshot {
        std::vector<Entry> entries;
        std::vector<PackedCode> clients;
        std::vector<std::wstring> otherNames;

        Entry& Add(const std::wstring& name, uint64_t written);
        void SetClients(Entry& entry, const std::vector<std::wstring>& valueNames);
        void StoreClients(Entry& entry, const PackedCode* first, size_t count);
        std::wstring NameOf(const Entry& entry) const;
    };
    class PreviousEntries;

    bool Read(const std::wstring& componentsKey, const wchar_t* cause);
    LSTATUS ReadComponents(HKEY key, const std::wstring& componentsKey, bool refresh, Snapshot& next,
                           DWORD& listed) const;
    void Drop();

    bool m_loaded = false;
    Snapshot m_snapshot;
    KeyWatch m_watch;
};

// The machine's products (subkeys of the products key) with their features and install properties, read when
// first asked for.
class ProductIndex {
public:
    struct Product {
        std::wstring packed;
        bool featuresRead = false;
        std::vector<std::wstring> features;
        bool propertiesRead = false;
        std::wstring displayName;
        std::wstring publisher;
    };

    // Read again when something else changed the key since; null when it cannot be listed (a missing key is an
    // empty one).
    std::vector<Product>* Products(const std::wstring& productsKey);
    // False (nothing cached) when the product's "Features" or "InstallProperties" cannot be read.
    bool ReadFeatures(const std::wstring& productsKey, Product& product);
    bool ReadProperties(const std::wstring& productsKey, Product& product);
    // The clean-up's own deletion of the product's key (the packed code in any case), or a failed one that
    // leaves the product in an unknown state.
    void Remove(const std::wstring& packed);
    void EndOwnChanges();
    void Drop();

private:
    bool m_loaded = false;
    std::vector<Product> m_products;
    KeyWatch m_watch;
};

ComponentIndex& MachineComponents();
ProductIndex& MachineProducts();

} // namespace MsiRegistryIndex
