// The product kit's Windows program: it installs the products' traces that the kit's data file describes, lists
// what of them is on the machine, breaks installations and reads the machine's state, all through the API.
//   install DATA STATE PRODUCT [with-adapter] [with-hooks]
//                                              what the product adds beside its Windows Installer package
//   inventory DATA STATE PRODUCT...            "<product> <kind> <item>" for every item present
//   break DATA STATE PRODUCT HOW               cached-msi, localpackage, uninstaller, acl or unstoppable
//   snapshot                                   registry keys and value names, programs and devices, as lines
//   add-user NAME                              a profile folder, its ProfileList entry and a loaded hive
//   list KEY VALUE                             the strings of HKLM\KEY's REG_MULTI_SZ value, one per line
//   hold READY FILE...                         opens the files without sharing, creates READY, then sleeps
//   dump [32:]KEY...                           each key's tree with the values' types and data (32: its 32-bit view)
//   add-root SUBJECT                           a new self-signed root in the machine's trusted roots; prints its
//                                              thumbprint
// DATA is the data file, STATE the folder where the kit keeps what each installation chose ("<STATE>\<product>").
#include "tests/products/nv_kit/certificates.h"
#include "tests/products/nv_kit/files.h"
#include "tests/products/nv_kit/kinds.h"
#include "tests/products/nv_kit/output.h"
#include "tests/products/nv_kit/processes.h"
#include "tests/products/nv_kit/services.h"

#include <windows.h>

#include <algorithm>

namespace {

using namespace NvKit;

const std::wstring kProfiles = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

Product Load(const std::wstring& data, const std::wstring& state, const std::wstring& id, bool withHooks = true)
{
    std::optional<Product> product = LoadProduct(data, state + L"\\" + id, id, withHooks);
    if (!product) {
        Die(L"finding product '" + id + L"' in " + data, ERROR_NOT_FOUND);
    }
    return *product;
}

// Options: "with-adapter" (the devices), "with-hooks" (the lines of the product's "hooks" section).
int InstallProduct(const std::vector<std::wstring>& args)
{
    const auto given = [&](const wchar_t* option) {
        return std::find(args.begin() + 4, args.end(), option) != args.end();
    };
    if (std::any_of(args.begin() + 4, args.end(),
                    [](const std::wstring& option) { return option != L"with-adapter" && option != L"with-hooks"; })) {
        Die(L"reading the options", ERROR_INVALID_PARAMETER);
    }
    Install(Load(args[1], args[2], args[3], given(L"with-hooks")),
            {args[2] + L"\\" + args[3], given(L"with-adapter"), UserHives(), Profiles()});
    return 0;
}

int ListProducts(const std::wstring& data, const std::wstring& state, const std::vector<std::wstring>& ids)
{
    std::vector<Product> products;
    for (const std::wstring& id : ids) {
        products.push_back(Load(data, state, id));
    }
    const Machine machine{RegistryDump::Read(), RunningPrograms(), PresentDevices(), UserHives(), Profiles()};
    for (const Product& product : products) {
        Inventory(product, machine);
    }
    return 0;
}

// Self-protection: the product's own keys refuse deletion and their Settings refuse every access, reading
// included; its services' keys refuse deletion, its drivers' parameters every access; its files are read-only.
void Protect(const Product& product)
{
    const wchar_t* denyDelete = L"D:P(D;;SD;;;WD)(A;;KA;;;WD)";
    const wchar_t* denyAll = L"D:P(D;;KA;;;WD)";
    const std::wstring own = Upper(L"SOFTWARE\\" + product.Get(L"publisher") + L"\\");
    for (const Fields& key : product.All(L"key")) {
        if (Upper(key[0]).compare(0, own.size(), own) == 0) {
            for (View view : {View::Native, View::Wow32}) {
                SetKeySecurity(view, key[0] + L"\\Settings", denyAll);
                SetKeySecurity(view, key[0], denyDelete);
            }
        }
    }
    for (const Fields& service : product.All(L"service")) {
        SetKeySecurity(View::Native, ServiceKey(service[0]), denyDelete);
    }
    for (const Fields& driver : product.All(L"driver")) {
        SetKeySecurity(View::Native, ServiceKey(driver[0]), denyDelete);
        SetKeySecurity(View::Native, ServiceKey(driver[0]) + L"\\Parameters", denyAll);
    }
    for (const wchar_t* kind : {L"folder", L"file"}) {
        for (const Fields& path : product.All(kind)) {
            MakeReadOnly(path[0]);
        }
    }
}

int Break(const std::wstring& data, const std::wstring& state, const std::wstring& id, const std::wstring& how)
{
    const Product product = Load(data, state, id);
    const std::wstring package = product.Get(L"package");
    if (how == L"cached-msi" && !package.empty()) {
        if (!::DeleteFileW(package.c_str())) {
            Die(L"deleting " + package);
        }
    } else if (how == L"localpackage" && !package.empty()) {
        // An uninstallation interrupted after it dropped the registration's record of the cached package.
        DeleteValue(InstallPropertiesKey(product.Get(L"code")), L"LocalPackage");
    } else if (how == L"uninstaller" && !product.Get(L"own-uninstaller").empty()) {
        if (!::DeleteFileW(product.Get(L"own-uninstaller").c_str())) {
            Die(L"deleting " + product.Get(L"own-uninstaller"));
        }
    } else if (how == L"acl") {
        Protect(product);
    } else if (how == L"unstoppable") {
        for (const Fields& service : product.All(L"service")) {
            RestartRefusingStop(service[0]);
        }
    } else {
        Die(L"breaking " + id + L" by '" + how + L"'", ERROR_INVALID_PARAMETER);
    }
    return 0;
}

// Wine's display keys come and go with the first windowed program, and its own programs (all below C:\windows)
// with the services it needs: neither is the machine's state.
int Snapshot()
{
    const RegistryDump registry = RegistryDump::Read();
    for (const RegistryDump::Entry& entry : registry.Entries()) {
        const size_t control = entry.upper.find(L"\\CONTROL\\VIDEO\\");
        if (entry.upper.compare(0, 7, L"SYSTEM\\") != 0 || control == std::wstring::npos ||
            entry.upper.find(L'\\', 7) != control) {
            Print((entry.isKey ? L"K " : L"V ") + entry.path);
        }
    }
    std::vector<std::wstring> lines;
    for (const std::wstring& program : RunningPrograms()) {
        if (Upper(program).compare(0, 11, L"C:\\WINDOWS\\") != 0) {
            lines.push_back(program);
        }
    }
    for (const Device& device : PresentDevices()) {
        std::wstring line = device.instanceId + L"|" + device.manufacturer + L"|";
        for (const std::wstring& hardwareId : device.hardwareIds) {
            line += hardwareId + L";";
        }
        lines.push_back(line);
    }
    std::sort(lines.begin(), lines.end());
    for (const std::wstring& line : lines) {
        Print(line);
    }
    return 0;
}

// Wine keeps an added hive in its server only, like a user who is logged on until the next restart.
int AddUser(const std::wstring& name)
{
    const std::wstring sid = L"S-1-5-21-1000-2000-3000-" + std::to_wstring(1001 + UserHives().size());
    const std::wstring profile = L"C:\\users\\" + name;
    WriteBytes(profile + L"\\NTUSER.DAT", "regf");
    for (const wchar_t* folder : {L"\\AppData\\Local", L"\\AppData\\Roaming"}) {
        CreateFolders(profile + folder);
    }
    CreateKey(View::Native, L"HKU\\" + sid + L"\\Software\\Microsoft\\Windows\\CurrentVersion\\Run");
    SetString(View::Native, kProfiles + sid, L"ProfileImagePath", profile);
    Print(L"kit: added user " + name + L" (" + sid + L")");
    return 0;
}

int PrintList(const std::wstring& key, const std::wstring& name)
{
    for (const std::wstring& entry : ReadListOrExit(key, name)) {
        Print(entry);
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    const std::wstring command = args.empty() ? L"" : args[0];
    if (command == L"install" && args.size() >= 4) {
        return InstallProduct(args);
    }
    if (command == L"inventory" && args.size() >= 3) {
        return ListProducts(args[1], args[2], std::vector<std::wstring>(args.begin() + 3, args.end()));
    }
    if (command == L"break" && args.size() == 5) {
        return Break(args[1], args[2], args[3], args[4]);
    }
    if (command == L"snapshot" && args.size() == 1) {
        return Snapshot();
    }
    if (command == L"add-user" && args.size() == 2) {
        return AddUser(args[1]);
    }
    if (command == L"list" && args.size() == 3) {
        return PrintList(args[1], args[2]);
    }
    if (command == L"hold" && args.size() >= 3) {
        return Hold(args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
    }
    if (command == L"dump" && args.size() >= 2) {
        for (auto key = args.begin() + 1; key != args.end(); ++key) {
            const bool wow32 = key->compare(0, 3, L"32:") == 0;
            PrintTree(wow32 ? View::Wow32 : View::Native, wow32 ? key->substr(3) : *key);
        }
        return 0;
    }
    if (command == L"add-root" && args.size() == 2) {
        Print(AddSelfSignedRoot(args[1], {L"SOFTWARE\\Microsoft\\SystemCertificates\\ROOT"}));
        return 0;
    }
    Print(L"usage: nv_kit install DATA STATE PRODUCT [with-adapter] [with-hooks] | inventory DATA STATE PRODUCT... | "
          L"break DATA STATE PRODUCT HOW | snapshot | add-user NAME | list KEY VALUE | hold READY FILE... | "
          L"dump [32:]KEY... | add-root SUBJECT");
    return 2;
}
