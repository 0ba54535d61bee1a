#include "modules/msi_registry_index.h"

#include "logging/nv_qor_log.h"
#include "platform/unique_resource.h"

#include <algorithm>

namespace MsiRegistryIndex {

namespace {

constexpr DWORD kKeyNameBuffer = 256;     // the longest key name and its NUL
constexpr DWORD kValueNameBuffer = 32768; // the longest value name and its NUL
constexpr size_t kPackedLength = 32;
constexpr DWORD kWatchFilter = REG_NOTIFY_CHANGE_NAME | REG_NOTIFY_CHANGE_LAST_SET;

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

// Lists through an open handle with one buffer for all keys: the scan of a components key makes one listing per
// component, and a fresh 64 KB name buffer for each would cost more than the listing itself.
LSTATUS ListValues(HKEY key, std::vector<wchar_t>& buffer, std::vector<std::wstring>& names)
{
    names.clear();
    for (DWORD index = 0;; ++index) {
        DWORD length = static_cast<DWORD>(buffer.size());
        const LSTATUS status = ::RegEnumValueW(key, index, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            return ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS) {
            names.clear();
            return status;
        }
        names.emplace_back(buffer.data(), length);
    }
}

void LogListFailure(const wchar_t* caller, const std::wstring& path, long error)
{
    NV_QOR_LOG(NvQorLogging::Debug, L"%s: Failed to list '%s': %ld", caller, path.c_str(), error);
}

} // namespace

bool KeyWatch::Arm(HKEY root, const std::wstring& path, DWORD flags)
{
    Disarm();
    UniqueKey key;
    if (::RegOpenKeyExW(root, path.c_str(), 0, KEY_NOTIFY | flags, key.put()) != ERROR_SUCCESS) {
        return false;
    }
    UniqueEvent event(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (event.get() == nullptr ||
        ::RegNotifyChangeKeyValue(key.get(), TRUE, kWatchFilter, event.get(), TRUE) != ERROR_SUCCESS) {
        return false;
    }
    m_key = std::move(key);
    m_event = std::move(event);
    return true;
}

bool KeyWatch::Changed() const
{
    return !IsArmed() || ::WaitForSingleObject(m_event.get(), 0) != WAIT_TIMEOUT;
}

void KeyWatch::Rearm()
{
    // A notification that has not fired is still armed.
    if (!Changed()) {
        return;
    }
    ::ResetEvent(m_event.get());
    if (::RegNotifyChangeKeyValue(m_key.get(), TRUE, kWatchFilter, m_event.get(), TRUE) != ERROR_SUCCESS) {
        Disarm();
    }
}

void KeyWatch::Disarm()
{
    m_key.reset();
    m_event.reset();
}

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

bool ComponentIndex::Find(const std::wstring& componentsKey, const PackedCode& product,
                          std::vector<Candidate>& candidates)
{
    candidates.clear();
    if (m_loaded && m_watch.Changed()) {
        Drop();
    }
    if (!m_loaded && !Load(componentsKey)) {
        return false;
    }
    for (size_t i = 0; i < m_entries.size(); ++i) {
        const Entry& entry = m_entries[i];
        const auto first = m_clients.begin() + entry.firstClient;
        if (entry.present &&
            (!entry.known || std::find(first, first + entry.clientCount, product) != first + entry.clientCount)) {
            candidates.push_back({NameOf(entry), i});
        }
    }
    return true;
}

void ComponentIndex::Update(size_t entry, const std::vector<std::wstring>& valueNames)
{
    SetClients(m_entries[entry], valueNames);
}

void ComponentIndex::Remove(size_t entry)
{
    m_entries[entry].present = false;
}

void ComponentIndex::MarkUnknown(size_t entry)
{
    m_entries[entry].known = false;
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
    std::vector<Entry>().swap(m_entries);
    std::vector<PackedCode>().swap(m_clients);
    std::vector<std::wstring>().swap(m_otherNames);
}

bool ComponentIndex::Load(const std::wstring& componentsKey)
{
    constexpr wchar_t kCaller[] = L"MsiRegistryIndex::ComponentIndex::Load";
    Drop();
    // Armed first, so that a change made while the key is read is seen at the next use. Without a watch (the
    // key is missing, or cannot be watched) the index serves one call only.
    m_watch.Arm(HKEY_LOCAL_MACHINE, componentsKey, KEY_WOW64_64KEY);
    UniqueKey key;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, componentsKey.c_str(), 0,
                                     KEY_ENUMERATE_SUB_KEYS | KEY_WOW64_64KEY, key.put());
    if (IsMissing(status)) {
        m_loaded = true;
        return true;
    }
    if (status != ERROR_SUCCESS) {
        LogListFailure(kCaller, componentsKey, status);
        return false;
    }
    std::vector<wchar_t> keyName(kKeyNameBuffer);
    std::vector<wchar_t> valueName(kValueNameBuffer);
    std::vector<std::wstring> valueNames;
    for (DWORD index = 0;; ++index) {
        DWORD length = kKeyNameBuffer;
        status = ::RegEnumKeyExW(key.get(), index, keyName.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS) {
            break;
        }
        if (status != ERROR_SUCCESS) {
            LogListFailure(kCaller, componentsKey, status);
            Drop();
            return false;
        }
        const std::wstring name(keyName.data(), length);
        UniqueKey component;
        status = ::RegOpenKeyExW(key.get(), name.c_str(), 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, component.put());
        if (status == ERROR_SUCCESS) {
            status = ListValues(component.get(), valueName, valueNames);
        }
        if (IsMissing(status)) {
            continue; // deleted while the key was read
        }
        if (status != ERROR_SUCCESS) {
            LogListFailure(kCaller, componentsKey + L'\\' + name, status);
        }
        AddEntry(name, status == ERROR_SUCCESS ? &valueNames : nullptr);
    }
    m_loaded = true;
    return true;
}

void ComponentIndex::AddEntry(const std::wstring& name, const std::vector<std::wstring>* valueNames)
{
    Entry entry{};
    entry.present = true;
    entry.firstClient = static_cast<uint32_t>(m_clients.size());
    if (!ParsePackedCode(name, entry.code) || !IsCanonical(name)) {
        entry.nameSlot = static_cast<uint32_t>(m_otherNames.size());
        m_otherNames.push_back(name);
    } else {
        entry.nameSlot = kCanonicalName;
    }
    if (valueNames != nullptr) {
        SetClients(entry, *valueNames);
    }
    m_entries.push_back(entry);
}

// Names that are not packed codes (the default value, a path) can never be a product's reference; they count
// only for whether a product is the component's last client, which the clean-up decides from a fresh listing.
void ComponentIndex::SetClients(Entry& entry, const std::vector<std::wstring>& valueNames)
{
    std::vector<PackedCode> clients;
    PackedCode code;
    for (const std::wstring& valueName : valueNames) {
        if (ParsePackedCode(valueName, code)) {
            clients.push_back(code);
        }
    }
    // A component's clients only shrink under the clean-up; a longer list goes to the end of the pool.
    if (clients.size() > entry.clientCount || entry.firstClient + entry.clientCount > m_clients.size()) {
        entry.firstClient = static_cast<uint32_t>(m_clients.size());
        m_clients.insert(m_clients.end(), clients.begin(), clients.end());
    } else {
        std::copy(clients.begin(), clients.end(), m_clients.begin() + entry.firstClient);
    }
    entry.clientCount = static_cast<uint32_t>(clients.size());
    entry.known = true;
}

std::wstring ComponentIndex::NameOf(const Entry& entry) const
{
    if (entry.nameSlot != kCanonicalName) {
        return m_otherNames[entry.nameSlot];
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
    if (m_loaded && m_watch.Changed()) {
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
        NV_QOR_LOG(NvQorLogging::Warning, L"%s: Failed to read '%s:%s': %d",
                   L"MsiRegistryIndex::ProductIndex::ReadProperties", properties.c_str(), valueName,
                   static_cast<int>(code));
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
