#include "modules/msi_registry_index.h"

#include "base/unique_resource.h"
#include "logging/nv_qor_log.h"

#include <algorithm>

namespace MsiRegistryIndex {

namespace {

constexpr size_t kPackedLength = 32;

int HexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9') {
        return c - L'0';
    }
    if (c >= L'A' && c <= L'F') {
        return c - L'A' + 10;
    }
    if (c >= L'a' && c <= L'f') {
        return c - L'a' + 10;
    }
    return -1;
}

bool IsCanonical(const std::wstring& name)
{
    return std::none_of(name.begin(), name.end(), [](wchar_t c) { return c >= L'a' && c <= L'f'; });
}

bool IsMissing(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

void LogListFailure(const wchar_t* caller, const std::wstring& path, long error)
{
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to list '%s': %ld", caller, path.c_str(), error);
}

} // namespace

bool ParsePackedCode(const std::wstring& text, PackedCode& code)
{
    if (text.size() != kPackedLength) {
        return false;
    }
    for (size_t i = 0; i < code.size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) {
            return false;
        }
        code[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return true;
}

RegistryError ListValueNames(HKEY root, const std::wstring& path, DWORD flags, std::vector<std::wstring>& names)
{
    Win32Registry registry;
    registry.SetRoot(root);
    registry.SetAccessFlags(flags);
    RegistryError code = RegistryError::Success;
    registry.GetValueNames(path, names, &code);
    if (code != RegistryError::Success && code != RegistryError::NotFound) {
        LogListFailure(L"MsiRegistryIndex::ListValueNames", path, static_cast<long>(code));
    }
    return code;
}

// Components.

namespace {

uint64_t TimeValue(const FILETIME& time)
{
    return static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

uint64_t SystemTimeNow()
{
    FILETIME now;
    ::GetSystemTimeAsFileTime(&now);
    return TimeValue(now);
}

} // namespace

// The entries of the previous read by name, so that a new read takes over the clients of the components whose
// last-write time has not changed. Any order serves, as long as equal names meet.
class ComponentIndex::PreviousEntries {
public:
    explicit PreviousEntries(const Snapshot& snapshot) : m_snapshot(snapshot)
    {
        for (uint32_t i = 0; i < snapshot.entries.size(); ++i) {
            (snapshot.entries[i].nameSlot == kCanonicalName ? m_canonical : m_other).push_back(i);
        }
        std::sort(m_canonical.begin(), m_canonical.end(),
                  [&](uint32_t a, uint32_t b) { return snapshot.entries[a].code < snapshot.entries[b].code; });
        std::sort(m_other.begin(), m_other.end(), [&](uint32_t a, uint32_t b) { return OtherName(a) < OtherName(b); });
    }

    const Entry* Find(const std::wstring& name) const
    {
        PackedCode code;
        if (ParsePackedCode(name, code) && IsCanonical(name)) {
            const auto found =
                std::lower_bound(m_canonical.begin(), m_canonical.end(), code,
                                 [&](uint32_t i, const PackedCode& c) { return m_snapshot.entries[i].code < c; });
            return found != m_canonical.end() && m_snapshot.entries[*found].code == code ? &m_snapshot.entries[*found]
                                                                                         : nullptr;
        }
        const auto found = std::lower_bound(m_other.begin(), m_other.end(), name,
                                            [&](uint32_t i, const std::wstring& n) { return OtherName(i) < n; });
        return found != m_other.end() && OtherName(*found) == name ? &m_snapshot.entries[*found] : nullptr;
    }

private:
    const std::wstring& OtherName(uint32_t entry) const
    {
        return m_snapshot.otherNames[m_snapshot.entries[entry].nameSlot];
    }

    const Snapshot& m_snapshot;
    std::vector<uint32_t> m_canonical;
    std::vector<uint32_t> m_other;
};

bool ComponentIndex::Find(const std::wstring& componentsKey, const PackedCode& product,
                          std::vector<Candidate>& candidates)
{
    candidates.clear();
    const wchar_t* cause = nullptr;
    if (!m_loaded) {
        cause = L"first use";
    } else if (m_watch.Changed()) {
        cause = m_watch.IsArmed() ? L"changed since the last read" : L"no change watch";
    }
    // The enumeration goes by index: a subkey deleted while the key is read moves the next one past it, which the
    // watch (armed before the read) shows. Such a read is repeated, a few times at most.
    constexpr int kRepeats = 2;
    for (int repeat = 0; cause != nullptr; ++repeat) {
        if (!Read(componentsKey, cause)) {
            return false;
        }
        cause = repeat < kRepeats && m_watch.IsArmed() && m_watch.Changed() ? L"changed while it was read" : nullptr;
    }
    for (size_t i = 0; i < m_snapshot.entries.size(); ++i) {
        const Entry& entry = m_snapshot.entries[i];
        const auto first = m_snapshot.clients.begin() + entry.firstClient;
        if (entry.present &&
            (!entry.known || std::find(first, first + entry.clientCount, product) != first + entry.clientCount)) {
            candidates.push_back({m_snapshot.NameOf(entry), i});
        }
    }
    return true;
}

void ComponentIndex::Update(size_t entry, const std::vector<std::wstring>& valueNames)
{
    Entry& updated = m_snapshot.entries[entry];
    m_snapshot.SetClients(updated, valueNames);
    updated.written = 0;
}

void ComponentIndex::Remove(size_t entry)
{
    m_snapshot.entries[entry].present = false;
}

void ComponentIndex::MarkUnknown(size_t entry)
{
    m_snapshot.entries[entry].known = false;
    m_snapshot.entries[entry].written = 0;
}

void ComponentIndex::EndOwnChanges()
{
    if (m_loaded) {
        m_watch.Rearm();
    }
}

void ComponentIndex::Drop()
{
    m_loaded = false;
    m_watch.Disarm();
    // Released, not only cleared: the index of a large machine holds megabytes.
    m_snapshot = Snapshot();
}

bool ComponentIndex::Read(const std::wstring& componentsKey, const wchar_t* cause)
{
    const wchar_t* const kCaller = NV_LOG_FUNCTION;
    const ULONGLONG started = ::GetTickCount64();
    const bool refresh = m_loaded;
    // Armed first, so that a change made while the key is read is seen at the next use. Without a watch (the
    // key is missing, or cannot be watched) every use reads the key again.
    m_watch.Arm(HKEY_LOCAL_MACHINE, componentsKey, KEY_WOW64_64KEY);
    UniqueKey key;
    LSTATUS status =
        ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, componentsKey.c_str(), 0, KEY_READ | KEY_WOW64_64KEY, key.put());
    Snapshot next;
    DWORD listed = 0;
    if (status == ERROR_SUCCESS) {
        status = ReadComponents(key.get(), componentsKey, refresh, next, listed);
    }
    if (status != ERROR_SUCCESS && !IsMissing(status)) {
        LogListFailure(kCaller, componentsKey, status);
        Drop();
        return false;
    }
    m_snapshot = std::move(next);
    m_loaded = true;
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: %s of '%s' (%s): %lu keys, %lu listed, in %lu ms", kCaller,
               refresh ? L"Refresh" : L"Full read", componentsKey.c_str(), cause,
               static_cast<unsigned long>(m_snapshot.entries.size()), listed,
               static_cast<unsigned long>(::GetTickCount64() - started));
    return true;
}

// Each component costs one enumeration entry, which brings its last-write time along; only a component that is
// new or written since the last read is opened and its values listed (one open, one call per value and one for
// the end of the list, one close).
LSTATUS ComponentIndex::ReadComponents(HKEY key, const std::wstring& componentsKey, bool refresh, Snapshot& next,
                                       DWORD& listed) const
{
    const uint64_t trustedBefore = SystemTimeNow() - kUntrustedAge;
    DWORD subkeys = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) == ERROR_SUCCESS) {
        next.entries.reserve(subkeys);
    }
    const PreviousEntries previous(m_snapshot);
    std::vector<wchar_t> keyName(kKeyNameBuffer);
    // One value name buffer for every component: a fresh 64 KB buffer per listing would cost more than the
    // listing itself.
    std::wstring valueName(kValueNameBuffer, L'\0');
    std::vector<std::wstring> valueNames;
    for (DWORD index = 0;; ++index) {
        DWORD length = kKeyNameBuffer;
        FILETIME lastWrite{};
        const LSTATUS status =
            ::RegEnumKeyExW(key, index, keyName.data(), &length, nullptr, nullptr, nullptr, &lastWrite);
        if (status != ERROR_SUCCESS) {
            return status == ERROR_NO_MORE_ITEMS ? ERROR_SUCCESS : status;
        }
        const std::wstring name(keyName.data(), length);
        const uint64_t written = TimeValue(lastWrite);
        const Entry* before = refresh ? previous.Find(name) : nullptr;
        if (before != nullptr && before->present && before->known && before->written != 0 &&
            before->written == written) {
            Entry& entry = next.Add(name, written);
            next.StoreClients(entry, m_snapshot.clients.data() + before->firstClient, before->clientCount);
            continue;
        }
        UniqueKey component;
        LSTATUS listing = ::RegOpenKeyExW(key, name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, component.put());
        if (listing == ERROR_SUCCESS) {
            listing = ListNamesOf(component.get(), true, valueName, valueNames);
        }
        if (IsMissing(listing)) {
            continue; // deleted while the key was read
        }
        ++listed;
        if (listing != ERROR_SUCCESS) {
            LogListFailure(L"MsiRegistryIndex::ComponentIndex::Read", componentsKey + L'\\' + name, listing);
            next.Add(name, 0);
            continue;
        }
        next.SetClients(next.Add(name, written < trustedBefore ? written : 0), valueNames);
    }
}

ComponentIndex::Entry& ComponentIndex::Snapshot::Add(const std::wstring& name, uint64_t written)
{
    Entry& entry = entries.emplace_back();
    entry.present = true;
    entry.written = written;
    entry.firstClient = static_cast<uint32_t>(clients.size());
    if (!ParsePackedCode(name, entry.code) || !IsCanonical(name)) {
        entry.nameSlot = static_cast<uint32_t>(otherNames.size());
        otherNames.push_back(name);
    } else {
        entry.nameSlot = kCanonicalName;
    }
    return entry;
}

// Names that are not packed codes (the default value, a path) can never be a product's reference; they count
// only for whether a product is the component's last client, which the clean-up decides from a fresh listing.
void ComponentIndex::Snapshot::SetClients(Entry& entry, const std::vector<std::wstring>& valueNames)
{
    std::vector<PackedCode> parsed;
    PackedCode code;
    for (const std::wstring& valueName : valueNames) {
        if (ParsePackedCode(valueName, code)) {
            parsed.push_back(code);
        }
    }
    StoreClients(entry, parsed.data(), parsed.size());
}

void ComponentIndex::Snapshot::StoreClients(Entry& entry, const PackedCode* first, size_t count)
{
    // A component's clients only shrink under the clean-up; a longer list goes to the end of the pool.
    if (count > entry.clientCount || entry.firstClient + entry.clientCount > clients.size()) {
        entry.firstClient = static_cast<uint32_t>(clients.size());
        clients.insert(clients.end(), first, first + count);
    } else {
        std::copy(first, first + count, clients.begin() + entry.firstClient);
    }
    entry.clientCount = static_cast<uint32_t>(count);
    entry.known = true;
}

std::wstring ComponentIndex::Snapshot::NameOf(const Entry& entry) const
{
    if (entry.nameSlot != kCanonicalName) {
        return otherNames[entry.nameSlot];
    }
    constexpr wchar_t kDigits[] = L"0123456789ABCDEF";
    std::wstring name;
    name.reserve(kPackedLength);
    for (const uint8_t byte : entry.code) {
        name += kDigits[byte >> 4];
        name += kDigits[byte & 0xF];
    }
    return name;
}

// Products.

std::vector<ProductIndex::Product>* ProductIndex::Products(const std::wstring& productsKey)
{
    const wchar_t* cause = L"none in memory";
    if (m_loaded && m_watch.Changed()) {
        cause = m_watch.IsArmed() ? L"changed since the last read" : L"no change watch";
        Drop();
    }
    if (m_loaded) {
        return &m_products;
    }
    m_watch.Arm(HKEY_LOCAL_MACHINE, productsKey, KEY_WOW64_64KEY);
    Win32Registry registry;
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    std::vector<std::wstring> names;
    RegistryError code = RegistryError::Success;
    registry.GetSubKeys(productsKey, names, &code);
    if (code != RegistryError::Success && code != RegistryError::NotFound) {
        LogListFailure(L"MsiRegistryIndex::ProductIndex::Products", productsKey, static_cast<long>(code));
        return nullptr;
    }
    m_products.clear();
    for (std::wstring& name : names) {
        Product& product = m_products.emplace_back();
        product.packed = std::move(name);
    }
    m_loaded = true;
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Read '%s' (%s): %lu products", NV_LOG_FUNCTION, productsKey.c_str(), cause,
               static_cast<unsigned long>(m_products.size()));
    return &m_products;
}

bool ProductIndex::ReadFeatures(const std::wstring& productsKey, Product& product)
{
    if (!product.featuresRead) {
        const RegistryError code =
            ListValueNames(HKEY_LOCAL_MACHINE, productsKey + L'\\' + product.packed + L"\\Features", KEY_WOW64_64KEY,
                           product.features);
        product.featuresRead = code == RegistryError::Success || code == RegistryError::NotFound;
    }
    return product.featuresRead;
}

bool ProductIndex::ReadProperties(const std::wstring& productsKey, Product& product)
{
    if (product.propertiesRead) {
        return true;
    }
    Win32Registry registry;
    registry.SetAccessFlags(KEY_WOW64_64KEY);
    const std::wstring properties = productsKey + L'\\' + product.packed + L"\\InstallProperties";
    // A missing value, or one of another type, reads as empty; a refused read is not an answer.
    const auto read = [&](const wchar_t* valueName, std::wstring& text) {
        RegistryError code = RegistryError::Success;
        if (registry.GetString(properties, valueName, text, &code) || code == RegistryError::NotFound ||
            code == RegistryError::WrongType) {
            return true;
        }
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to read '%s:%s': %d", NV_LOG_FUNCTION, properties.c_str(),
                   valueName, static_cast<int>(code));
        return false;
    };
    product.propertiesRead = read(L"DisplayName", product.displayName) && read(L"Publisher", product.publisher);
    return product.propertiesRead;
}

void ProductIndex::Remove(const std::wstring& packed)
{
    m_products.erase(std::remove_if(m_products.begin(), m_products.end(),
                                    [&](const Product& product) {
                                        return ::CompareStringOrdinal(
                                                   product.packed.c_str(), static_cast<int>(product.packed.size()),
                                                   packed.c_str(), static_cast<int>(packed.size()), TRUE) == CSTR_EQUAL;
                                    }),
                     m_products.end());
}

void ProductIndex::EndOwnChanges()
{
    if (m_loaded) {
        m_watch.Rearm();
    }
}

void ProductIndex::Drop()
{
    m_loaded = false;
    m_watch.Disarm();
    m_products.clear();
}

ComponentIndex& MachineComponents()
{
    static ComponentIndex index;
    return index;
}

ProductIndex& MachineProducts()
{
    static ProductIndex index;
    return index;
}

} // namespace MsiRegistryIndex
