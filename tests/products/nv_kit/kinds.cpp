#include "tests/products/nv_kit/kinds.h"

#include "tests/products/nv_kit/certificates.h"
#include "tests/products/nv_kit/files.h"
#include "tests/products/nv_kit/output.h"
#include "tests/products/nv_kit/processes.h"
#include "tests/products/nv_kit/services.h"

#include <windows.h>

#include <algorithm>
#include <random>

namespace NvKit {

namespace {

const std::wstring kRun = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::wstring kClasses = L"SYSTEM\\CurrentControlSet\\Control\\Class\\";
const std::wstring kUninstall = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
const std::wstring kTaskCache = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache\\";
const std::wstring kFirewall =
    L"SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy\\FirewallRules";

// Prints the items found of one product.
class Report {
public:
    explicit Report(const std::wstring& product) : product_(product) {}
    void operator()(const std::wstring& kind, const std::wstring& item) const
    {
        Print(product_ + L" " + kind + L" " + item);
    }

private:
    std::wstring product_;
};

using InstallFunction = void (*)(const Product&, const Fields&, const Installation&);
using InventoryFunction = void (*)(const Product&, const Fields&, const Machine&, const Report&);

// Adds "kind = value" to the installation's state, which the inventory reads after the product's lines.
void Record(const Installation& installation, const std::wstring& kind, const std::wstring& value)
{
    const std::string state = Utf8(ReadTextFile(installation.stateFile).value_or(L"") + kind + L" = " + value);
    WriteTextFile(installation.stateFile, state);
}

// ----- files

void ReportFiles(const std::wstring& path, const Report& report)
{
    for (const std::wstring& file : FileTree(path)) {
        report(L"file", file);
    }
}

void FileInventory(const Product&, const Fields& fields, const Machine&, const Report& report)
{
    ReportFiles(fields[0], report);
}

// A folder's files, and the programs that run from it.
void FolderInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    ReportFiles(fields[0], report);
    const std::wstring below = Upper(fields[0] + L"\\");
    for (const std::wstring& program : machine.programs) {
        if (Upper(program).compare(0, below.size(), below) == 0) {
            report(L"process", program);
        }
    }
}

void WriteInstall(const Product&, const Fields& fields, const Installation&)
{
    WriteTextFile(fields[0], Utf8(fields.at(1)));
}

// ----- registry keys and values of HKLM, looked for in both views

void ReportTree(const Machine& machine, const std::wstring& key, const wchar_t* kind, const Report& report)
{
    for (const RegistryDump::Entry* entry : machine.registry.Tree(key)) {
        report(kind, RegistryItem(entry->path) + (entry->unreadable ? L" (refuses reading)" : L""));
    }
}

void KeyInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& key : KeyViews(fields[0])) {
        ReportTree(machine, key, L"key", report);
    }
}

void ValueInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& key : KeyViews(fields[0])) {
        if (const RegistryDump::Entry* value = machine.registry.FindValue(key, fields.at(1))) {
            report(L"value", RegistryItem(value->path));
        }
    }
}

void SetInstall(const Product&, const Fields& fields, const Installation&)
{
    const View view = fields[0] == L"32" ? View::Wow32 : View::Native;
    const std::wstring name = fields.at(2) == L"@" ? L"" : fields[2];
    const std::wstring dword = L"dword:";
    if (fields.at(3).compare(0, dword.size(), dword) == 0) {
        SetDword(view, fields[1], name, std::stoul(fields[3].substr(dword.size())));
    } else {
        SetString(view, fields[1], name, fields[3]);
    }
}

// ----- services and kernel drivers

// The service when its key exists, and the keys below it that refuse reading (protected driver parameters).
void ServiceInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    const std::wstring key = ServiceKey(fields[0]);
    if (!machine.registry.FindKey(key)) {
        return;
    }
    report(L"service", fields[0]);
    for (const RegistryDump::Entry* entry : machine.registry.Tree(key)) {
        if (entry->unreadable) {
            report(L"key", RegistryItem(entry->path) + L" (refuses reading)");
        }
    }
}

void DriverInstall(const Product&, const Fields& fields, const Installation&)
{
    CreateDriverService(fields[0]);
    SetString(View::Native, ServiceKey(fields[0]) + L"\\Parameters", L"Altitude", L"328000");
}

void DeviceInstall(const Product& product, const Fields& fields, const Installation& installation)
{
    if (installation.withAdapter) {
        AddNetworkDevice(fields.at(1), fields[0], product.Get(L"name") + L" Adapter");
    }
}

void DeviceInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const Device& device : machine.devices) {
        const auto& ids = device.hardwareIds;
        if (device.manufacturer == fields[0] && std::find(ids.begin(), ids.end(), fields.at(1)) != ids.end()) {
            report(L"device", device.instanceId);
        }
    }
}

// ----- Programs and Features entries of other builds and of setup bundles

void EntryInstall(const Product& product, const Fields& fields, const Installation&)
{
    const View view = fields[0] == L"32" ? View::Wow32 : View::Native;
    const std::wstring key = kUninstall + fields.at(1);
    SetString(view, key, L"DisplayName", fields.at(2));
    SetString(view, key, L"Publisher", product.Get(L"publisher"));
    SetString(view, key, L"InstallLocation", product.Get(L"dir"));
    if (!fields.at(3).empty()) {
        const std::wstring setup = L"C:\\ProgramData\\Package Cache\\" + fields[1] + L"\\" + fields[3];
        if (fields.size() > 4 && fields[4] == L"uninstall-strings") {
            SetString(view, key, L"UninstallString", L"\"" + setup + L"\" /uninstall");
        } else {
            SetString(view, key, L"BundleCachePath", setup);
        }
        SetString(view, key, L"QuietUninstallString", L"\"" + setup + L"\" /uninstall /quiet");
        WriteTextFile(setup, "setup bundle");
    }
}

void EntryInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& key : KeyViews(kUninstall + fields.at(1))) {
        ReportTree(machine, key, L"key", report);
    }
}

// ----- scheduled tasks: the task file and the task scheduler's cache

void TaskInstall(const Product&, const Fields& fields, const Installation&)
{
    const std::wstring& path = fields[0];
    const std::wstring& id = fields.at(1);
    SetString(View::Native, kTaskCache + L"Tree" + path, L"Id", id);
    SetString(View::Native, kTaskCache + L"Tasks\\" + id, L"Path", path);
    CreateKey(View::Native, kTaskCache + L"Logon\\" + id);
    WriteTextFile(L"C:\\windows\\system32\\tasks" + path, "<?xml version=\"1.0\"?><Task><Actions><Exec><Command>" +
                                                              Utf8(fields.at(2)) +
                                                              "</Command></Exec></Actions></Task>");
}

void TaskInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    const std::wstring file = L"C:\\windows\\system32\\tasks" + fields[0];
    if (Exists(file)) {
        report(L"task", file);
    }
    const std::wstring& id = fields.at(1);
    for (const std::wstring& key :
         {L"Tree" + fields[0], L"Tasks\\" + id, L"Logon\\" + id, L"Plain\\" + id, L"Boot\\" + id}) {
        if (const RegistryDump::Entry* entry = machine.registry.FindKey(kTaskCache + key)) {
            report(L"task", RegistryItem(entry->path));
        }
    }
}

// ----- firewall rules

void FirewallInstall(const Product& product, const Fields& fields, const Installation&)
{
    const std::wstring service = fields.at(2).empty() ? L"" : L"Svc=" + fields[2] + L"|";
    SetString(View::Native, kFirewall, fields[0],
              L"v2.30|Action=Allow|Active=TRUE|Dir=In|Protocol=6|App=" + fields.at(1) + L"|" + service + L"Name=" +
                  product.Get(L"name") + L"|");
}

void FirewallInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    if (const RegistryDump::Entry* rule = machine.registry.FindValue(kFirewall, fields[0])) {
        report(L"firewall", RegistryItem(rule->path));
    }
}

// ----- device class filters: a list that other vendors' filters share

// Filters are called in list order; a new one goes first, before the other vendors' and Windows' own.
void FilterInstall(const Product&, const Fields& fields, const Installation&)
{
    WriteList(kClasses + fields[0], fields.at(1),
              WithFirst(fields.at(2), ReadListOrExit(kClasses + fields[0], fields[1]), L"partmgr"));
}

void FilterInventory(const Product&, const Fields& fields, const Machine&, const Report& report)
{
    for (const std::wstring& filter : ReadListOrExit(kClasses + fields[0], fields.at(1))) {
        if (Upper(filter) == Upper(fields.at(2))) {
            report(L"filter", L"Class\\" + fields[0] + L"\\" + fields[1] + L" " + filter);
        }
    }
}

// ----- driver packages: the next free oem<N>.inf with its compiled .pnf

void DriverPackageInstall(const Product& product, const Fields& fields, const Installation& installation)
{
    std::wstring inf;
    for (int number = 0; inf.empty() || Exists(inf); ++number) {
        inf = L"C:\\windows\\inf\\oem" + std::to_wstring(number) + L".inf";
    }
    // A real install section: each driver's file, and its service with the image it starts.
    std::string files;
    std::string services;
    std::string serviceSections;
    for (const std::wstring& field : fields) {
        const std::string name = Utf8(field);
        files += name + ".sys\r\n";
        services += "AddService=" + name + ",," + name + ".Service\r\n";
        serviceSections += "\r\n[" + name +
                           ".Service]\r\nServiceType=1\r\nStartType=3\r\nErrorControl=1\r\n"
                           "ServiceBinary=%12%\\" +
                           name + ".sys\r\n";
    }
    WriteTextFile(inf, "; " + Utf8(fields[0]) +
                           " driver package\r\n[Version]\r\nSignature=\"$WINDOWS NT$\"\r\n"
                           "Class=System\r\nProvider=%Vendor%\r\nDriverVer=06/01/2026,8.1.0.0\r\n\r\n"
                           "[DestinationDirs]\r\nDefaultDestDir=12\r\n\r\n[DefaultInstall.NTamd64]\r\n"
                           "CopyFiles=Driver.Files\r\n\r\n[DefaultInstall.NTamd64.Services]\r\n" +
                           services + "\r\n[Driver.Files]\r\n" + files + serviceSections +
                           "\r\n[Strings]\r\nVendor=\"" + Utf8(product.Get(L"publisher")) + "\"");
    const std::wstring pnf = inf.substr(0, inf.size() - 4) + L".pnf";
    std::string compiled(512, '\0');
    std::generate(compiled.begin(), compiled.end(), std::mt19937(std::random_device()()));
    WriteBytes(pnf, compiled);
    Record(installation, L"inf", inf);
    Record(installation, L"inf", pnf);
}

void InfInventory(const Product&, const Fields& fields, const Machine&, const Report& report)
{
    if (Exists(fields[0])) {
        report(L"driver-package", fields[0]);
    }
}

// ----- Windows Installer data

// Keeps the cached package's path: "kit break" deletes it, and a package that no registration names any more is
// still the product's.
void CodeInstall(const Product&, const Fields& fields, const Installation& installation)
{
    const std::wstring key = InstallPropertiesKey(fields[0]);
    const std::optional<std::wstring> package = ReadString(key, L"LocalPackage");
    if (!package) {
        Die(L"reading HKLM\\" + key + L"\\LocalPackage", ERROR_FILE_NOT_FOUND);
    }
    Record(installation, L"package", *package);
}

// Every key with a component named after the product or upgrade code (packed or not), and every value so named.
void CodeInventory(const Product& product, const Fields& fields, const Machine& machine, const Report& report)
{
    const std::vector<std::wstring> codes = {Upper(fields[0]), PackGuid(Upper(fields[0])),
                                             PackGuid(Upper(product.Get(L"upgrade")))};
    const auto isCode = [&](const std::wstring& name) {
        return std::find(codes.begin(), codes.end(), name) != codes.end();
    };
    for (const RegistryDump::Entry& entry : machine.registry.Entries()) {
        bool named = false;
        if (entry.isKey) {
            for (size_t start = 0; !named && start <= entry.upper.size();) {
                const size_t end = std::min(entry.upper.find(L'\\', start), entry.upper.size());
                named = isCode(entry.upper.substr(start, end - start));
                start = end + 1;
            }
        } else {
            named = isCode(entry.upper.substr(entry.nameAt));
        }
        if (named) {
            report(L"installer", RegistryItem(entry.path));
        }
    }
}

void PackageInventory(const Product&, const Fields& fields, const Machine&, const Report& report)
{
    if (Exists(fields[0])) {
        report(L"installer", fields[0]);
    }
}

// ----- per user: every loaded hive and every profile folder

void UserKeyInstall(const Product&, const Fields& fields, const Installation& installation)
{
    for (const std::wstring& hive : installation.hives) {
        SetString(View::Native, hive + L"\\" + fields[0], L"Settings", L"per-user settings");
    }
}

void UserKeyInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& hive : machine.hives) {
        ReportTree(machine, hive + L"\\" + fields[0], L"user-key", report);
    }
}

void UserRunInstall(const Product&, const Fields& fields, const Installation& installation)
{
    for (const std::wstring& hive : installation.hives) {
        SetString(View::Native, hive + L"\\" + kRun, fields[0], fields.at(1));
    }
}

void UserRunInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& hive : machine.hives) {
        if (const RegistryDump::Entry* value = machine.registry.FindValue(hive + L"\\" + kRun, fields[0])) {
            report(L"user-value", value->path);
        }
    }
}

void UserFolderInstall(const Product&, const Fields& fields, const Installation& installation)
{
    for (const std::wstring& profile : installation.profiles) {
        WriteTextFile(profile + L"\\" + fields[0] + L"\\settings.dat", "per-user data");
    }
}

void UserFolderInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& profile : machine.profiles) {
        ReportFiles(profile + L"\\" + fields[0], report);
    }
}

void TrayInstall(const Product&, const Fields& fields, const Installation&)
{
    StartProgram(fields[0]);
}

// ----- security hooks ("kit install --hooks")

const std::wstring kSecurityCenter = L"SOFTWARE\\Microsoft\\Security Center\\Provider\\";
const std::wstring kAmsiProviders = L"SOFTWARE\\Microsoft\\AMSI\\Providers\\";
const std::wstring kClsid = L"SOFTWARE\\Classes\\CLSID\\";
const std::wstring kDefenderExclusions = L"SOFTWARE\\Microsoft\\Windows Defender\\Exclusions\\";
const std::wstring kNetworkProviders = L"SYSTEM\\CurrentControlSet\\Control\\NetworkProvider\\";

std::wstring SecurityCenterKey(const Fields& fields)
{
    return kSecurityCenter + fields[0] + L"\\" + fields.at(1);
}

void SecurityCenterInstall(const Product&, const Fields& fields, const Installation&)
{
    const std::wstring key = SecurityCenterKey(fields);
    SetString(View::Native, key, L"DISPLAYNAME", fields.at(2));
    SetString(View::Native, key, L"PRODUCTEXE", fields.at(3));
    SetString(View::Native, key, L"REPORTINGEXE", fields[3]);
    SetDword(View::Native, key, L"STATE", 1);
}

void SecurityCenterInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    ReportTree(machine, SecurityCenterKey(fields), L"security-center", report);
}

// The provider and its COM class in both views, each view's class with its own DLL.
void AmsiInstall(const Product&, const Fields& fields, const Installation&)
{
    for (const auto& [view, dll] : {std::pair{View::Native, fields.at(2)}, std::pair{View::Wow32, fields.at(3)}}) {
        SetString(view, kAmsiProviders + fields[0], L"", fields.at(1));
        SetString(view, kClsid + fields[0], L"", fields[1]);
        SetString(view, kClsid + fields[0] + L"\\InprocServer32", L"", dll);
        SetString(view, kClsid + fields[0] + L"\\InprocServer32", L"ThreadingModel", L"Both");
        WriteTextFile(dll, "AMSI provider");
    }
}

void AmsiInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& key : {kAmsiProviders + fields[0], kClsid + fields[0]}) {
        for (const std::wstring& view : KeyViews(key)) {
            ReportTree(machine, view, L"amsi", report);
        }
    }
}

std::wstring DriverImage(const std::wstring& driver)
{
    return L"C:\\windows\\system32\\drivers\\" + driver + L".sys";
}

// A file-system minifilter (with a group among "FSFilter ...") or an early-launch driver, and its image.
void FilterDriverInstall(const Product&, const Fields& fields, const Installation&)
{
    const bool minifilter = fields.at(2).compare(0, 9, L"FSFilter ") == 0;
    CreateDriverService(fields[0], minifilter ? DriverType::FileSystemFilter : DriverType::Kernel, fields.at(1),
                        fields[2]);
    WriteTextFile(DriverImage(fields[0]), "driver");
}

void FilterDriverInventory(const Product& product, const Fields& fields, const Machine& machine, const Report& report)
{
    ServiceInventory(product, fields, machine, report);
    ReportFiles(DriverImage(fields[0]), report);
}

// A minifilter's instance: the filter manager attaches it at its altitude.
void InstanceInstall(const Product&, const Fields& fields, const Installation&)
{
    const std::wstring instances = ServiceKey(fields[0]) + L"\\Instances";
    SetString(View::Native, instances, L"DefaultInstance", fields.at(1));
    SetString(View::Native, instances + L"\\" + fields[1], L"Altitude", fields.at(2));
    SetDword(View::Native, instances + L"\\" + fields[1], L"Flags", 0);
}

void InstanceInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    ReportTree(machine, ServiceKey(fields[0]) + L"\\Instances\\" + fields.at(1), L"filter-instance", report);
}

void DefenderExclusionInstall(const Product&, const Fields& fields, const Installation&)
{
    SetDword(View::Native, kDefenderExclusions + fields[0], fields.at(1), 0);
}

void DefenderExclusionInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    if (const RegistryDump::Entry* exclusion =
            machine.registry.FindValue(kDefenderExclusions + fields[0], fields.at(1))) {
        report(L"defender-exclusion", RegistryItem(exclusion->path));
    }
}

// The provider's service key, and its name first in both provider orders (names separated by commas).
void NetworkProviderInstall(const Product&, const Fields& fields, const Installation&)
{
    const std::wstring key = ServiceKey(fields[0]) + L"\\NetworkProvider";
    SetString(View::Native, key, L"Name", fields.at(1));
    SetString(View::Native, key, L"ProviderPath", fields.at(2), REG_EXPAND_SZ);
    for (const wchar_t* order : {L"Order", L"HwOrder"}) {
        const std::wstring list = kNetworkProviders + order;
        WriteList(list, L"ProviderOrder",
                  WithFirst(fields[0], ReadListOrExit(list, L"ProviderOrder", ListForm::Commas), L""),
                  ListForm::Commas);
    }
}

void NetworkProviderInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    ReportTree(machine, ServiceKey(fields[0]), L"network-provider", report);
    for (const wchar_t* order : {L"Order", L"HwOrder"}) {
        const std::wstring list = kNetworkProviders + order;
        for (const std::wstring& name : ReadListOrExit(list, L"ProviderOrder", ListForm::Commas)) {
            if (Upper(name) == Upper(fields[0])) {
                report(L"network-provider", RegistryItem(list) + L"\\ProviderOrder " + name);
            }
        }
    }
}

// ----- Windows Installer data outside the per-machine product keys

const std::wstring kInstallerUserData = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";
const std::wstring kInstallerManaged = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\Managed\\";

std::wstring Sid(const std::wstring& hive)
{
    return hive.substr(hive.find(L'\\') + 1);
}

// The product's registration keys below an Installer key ("...\Installer" of a user hive or of a managed SID).
std::vector<std::wstring> RegistrationKeys(const Product& product, const std::wstring& base)
{
    const std::wstring packed = PackGuid(product.Get(L"code"));
    return {base + L"\\Products\\" + packed, base + L"\\Features\\" + packed,
            base + L"\\UpgradeCodes\\" + PackGuid(product.Get(L"upgrade"))};
}

void WriteRegistration(const Product& product, const std::wstring& base)
{
    const std::vector<std::wstring> keys = RegistrationKeys(product, base);
    const std::wstring packed = PackGuid(product.Get(L"code"));
    SetString(View::Native, keys[0], L"ProductName", product.Get(L"name"));
    SetString(View::Native, keys[1], L"Complete", L"");
    SetString(View::Native, keys[2], packed, L"");
}

std::wstring UserInstaller(const std::wstring& hive)
{
    return hive + L"\\Software\\Microsoft\\Installer";
}

std::wstring UserDataProduct(const std::wstring& sid, const Product& product)
{
    return kInstallerUserData + sid + L"\\Products\\" + PackGuid(product.Get(L"code"));
}

// The product installed for each loaded user too: the user's own registration and its UserData.
void UserInstallInstall(const Product& product, const Fields&, const Installation& installation)
{
    for (const std::wstring& hive : installation.hives) {
        WriteRegistration(product, UserInstaller(hive));
        SetString(View::Native, UserDataProduct(Sid(hive), product) + L"\\InstallProperties", L"DisplayName",
                  product.Get(L"name"));
    }
}

void UserInstallInventory(const Product& product, const Fields&, const Machine& machine, const Report& report)
{
    for (const std::wstring& hive : machine.hives) {
        for (const std::wstring& key : RegistrationKeys(product, UserInstaller(hive))) {
            ReportTree(machine, key, L"installer-user", report);
        }
        ReportTree(machine, UserDataProduct(Sid(hive), product), L"installer-user", report);
    }
}

// The product advertised by policy to each loaded user.
void ManagedInstall(const Product& product, const Fields&, const Installation& installation)
{
    for (const std::wstring& hive : installation.hives) {
        WriteRegistration(product, kInstallerManaged + Sid(hive) + L"\\Installer");
    }
}

void ManagedInventory(const Product& product, const Fields&, const Machine& machine, const Report& report)
{
    for (const std::wstring& hive : machine.hives) {
        for (const std::wstring& key : RegistrationKeys(product, kInstallerManaged + Sid(hive) + L"\\Installer")) {
            ReportTree(machine, key, L"installer-managed", report);
        }
    }
}

std::wstring PatchPackage(const std::wstring& code)
{
    return L"C:\\windows\\Installer\\" + PackGuid(code).substr(0, 8) + L".msp";
}

// A patch applied to the product: its registration, the product's list of patches and the cached .msp.
void PatchInstall(const Product& product, const Fields& fields, const Installation&)
{
    const std::wstring patch = PackGuid(fields[0]);
    const std::wstring package = PatchPackage(fields[0]);
    WriteTextFile(package, "patch");
    SetString(View::Native, kInstallerUserData + L"S-1-5-18\\Patches\\" + patch, L"LocalPackage", package);
    const std::wstring listed =
        kInstallerUserData + L"S-1-5-18\\Products\\" + PackGuid(product.Get(L"code")) + L"\\Patches\\" + patch;
    SetString(View::Native, listed, L"DisplayName", fields.at(1));
    SetDword(View::Native, listed, L"State", 1);
    SetString(View::Native, L"SOFTWARE\\Classes\\Installer\\Patches\\" + patch + L"\\SourceList", L"PackageName",
              PackGuid(fields[0]).substr(0, 8) + L".msp");
}

void PatchInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    const std::wstring patch = PackGuid(fields[0]);
    for (const std::wstring& key :
         {kInstallerUserData + L"S-1-5-18\\Patches\\" + patch, L"SOFTWARE\\Classes\\Installer\\Patches\\" + patch}) {
        ReportTree(machine, key, L"installer-patch", report);
    }
    ReportFiles(PatchPackage(fields[0]), report);
}

// The machine's and each loaded user's trusted root stores.
std::vector<std::wstring> RootStores(const std::vector<std::wstring>& hives)
{
    std::vector<std::wstring> stores{L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT"};
    for (const std::wstring& hive : hives) {
        stores.push_back(hive + L"\\Software\\Microsoft\\SystemCertificates\\Root");
    }
    return stores;
}

// One new self-signed root in every store, its thumbprint recorded where the product records it (if it does).
void RootInstall(const Product&, const Fields& fields, const Installation& installation)
{
    const std::wstring thumbprint = AddSelfSignedRoot(fields[0], RootStores(installation.hives));
    if (fields.size() > 2 && !fields[1].empty()) {
        SetString(View::Native, fields[1], fields[2], thumbprint);
    }
}

void RootInventory(const Product&, const Fields& fields, const Machine& machine, const Report& report)
{
    for (const std::wstring& store : RootStores(machine.hives)) {
        for (const std::wstring& thumbprint : RootsWithSubject(store, fields[0])) {
            report(L"root", RegistryItem(store + L"\\Certificates\\" + thumbprint));
        }
    }
}

struct Kind {
    const wchar_t* name;
    InstallFunction install;
    InventoryFunction inventory;
};

// Installation and inventory go through the kinds in this order; the programs start last.
const Kind kKinds[] = {
    {L"name", nullptr, nullptr},
    {L"publisher", nullptr, nullptr},
    {L"dir", nullptr, nullptr},
    {L"upgrade", nullptr, nullptr},
    {L"own-uninstaller", nullptr, nullptr},
    {L"lockable", nullptr, nullptr},
    {L"folder", nullptr, FolderInventory},
    {L"file", nullptr, FileInventory},
    {L"write", WriteInstall, nullptr},
    {L"key", nullptr, KeyInventory},
    {L"value", nullptr, ValueInventory},
    {L"set", SetInstall, nullptr},
    {L"service", nullptr, ServiceInventory},
    {L"driver", DriverInstall, ServiceInventory},
    {L"code", CodeInstall, CodeInventory},
    {L"package", nullptr, PackageInventory},
    {L"user-key", UserKeyInstall, UserKeyInventory},
    {L"user-run", UserRunInstall, UserRunInventory},
    {L"user-folder", UserFolderInstall, UserFolderInventory},
    {L"entry", EntryInstall, EntryInventory},
    {L"task", TaskInstall, TaskInventory},
    {L"firewall", FirewallInstall, FirewallInventory},
    {L"filter", FilterInstall, FilterInventory},
    {L"driver-package", DriverPackageInstall, nullptr},
    {L"inf", nullptr, InfInventory},
    {L"device", DeviceInstall, DeviceInventory},
    {L"security-center", SecurityCenterInstall, SecurityCenterInventory},
    {L"amsi", AmsiInstall, AmsiInventory},
    {L"filter-driver", FilterDriverInstall, FilterDriverInventory},
    {L"instance", InstanceInstall, InstanceInventory},
    {L"defender-exclusion", DefenderExclusionInstall, DefenderExclusionInventory},
    {L"network-provider", NetworkProviderInstall, NetworkProviderInventory},
    {L"root", RootInstall, RootInventory},
    {L"user-install", UserInstallInstall, UserInstallInventory},
    {L"managed", ManagedInstall, ManagedInventory},
    {L"patch", PatchInstall, PatchInventory},
    {L"tray", TrayInstall, nullptr},
};

// Calls visit(kind, fields) for the product's lines, kind by kind in the table's order.
template <typename Visit> void ForEachLine(const Product& product, Visit visit)
{
    for (const ProductLine& line : product.lines) {
        const auto known = [&](const Kind& kind) { return line.kind == kind.name; };
        if (std::none_of(std::begin(kKinds), std::end(kKinds), known)) {
            Die(L"reading " + product.id + L": unknown kind '" + line.kind + L"'", ERROR_INVALID_DATA);
        }
    }
    for (const Kind& kind : kKinds) {
        for (const ProductLine& line : product.lines) {
            if (line.kind == kind.name) {
                visit(kind, line.fields);
            }
        }
    }
}

} // namespace

void Install(const Product& product, const Installation& installation)
{
    ForEachLine(product, [&](const Kind& kind, const Fields& fields) {
        if (kind.install) {
            kind.install(product, fields, installation);
        }
    });
}

void Inventory(const Product& product, const Machine& machine)
{
    const Report report(product.id);
    ForEachLine(product, [&](const Kind& kind, const Fields& fields) {
        if (kind.inventory) {
            kind.inventory(product, fields, machine, report);
        }
    });
}

std::wstring ServiceKey(const std::wstring& name)
{
    return L"SYSTEM\\CurrentControlSet\\Services\\" + name;
}

std::wstring InstallPropertiesKey(const std::wstring& code)
{
    return L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\S-1-5-18\\Products\\" + PackGuid(code) +
           L"\\InstallProperties";
}

std::wstring RegistryItem(const std::wstring& path)
{
    return Upper(path.substr(0, 4)) == L"HKU\\" ? path : L"HKLM\\" + path;
}

} // namespace NvKit
