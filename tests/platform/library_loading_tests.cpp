#include "platform/library_loading.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <delayimp.h>
#include <msi.h>
#include <msiquery.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

extern "C" IMAGE_DOS_HEADER __ImageBase;
extern "C" FARPROC WINAPI __delayLoadHelper2(PCImgDelayDescr descriptor, FARPROC* iatEntry);

namespace {

const std::wstring kKey100 = L"Software\\Norvane\\QOR\\Delay Loading\\100";
const std::wstring kSystemMsi = L"C:\\windows\\system32\\msi.dll";

struct RegistryValue {
    std::wstring key;
    bool view32;
    std::wstring name;
    DWORD type;
    std::wstring data; // raw: a REG_DWORD is two characters
    bool terminated = true;
};

// Records what the loader asks Windows for. Only the listed paths load, as kernel32, which has no
// "NVDelayLoadDependencies" export.
class RecordingSystemCalls final : public DelayLoadSystemCalls {
public:
    std::vector<RegistryValue> values;
    std::vector<std::wstring> loadable;
    std::wstring executablePath = L"C:\\app\\tool.exe";
    std::vector<std::wstring> openedKeys;
    std::vector<std::wstring> loadAttempts;
    int keysOpen = 0;

    LSTATUS RegOpenKeyExW(HKEY root, const wchar_t* subKey, DWORD, REGSAM access, HKEY* key) override
    {
        const bool view32 = (access & KEY_WOW64_32KEY) != 0;
        openedKeys.push_back(std::wstring(subKey) + (view32 ? L" (32)" : L" (64)"));
        const auto exists = std::any_of(values.begin(), values.end(), [&](const RegistryValue& value) {
            return value.key == subKey && value.view32 == view32;
        });
        if (root != HKEY_LOCAL_MACHINE || (access & KEY_READ) != KEY_READ || !exists) {
            return ERROR_FILE_NOT_FOUND;
        }
        m_handles.push_back({subKey, view32});
        *key = reinterpret_cast<HKEY>(m_handles.size());
        ++keysOpen;
        return ERROR_SUCCESS;
    }
    LSTATUS RegQueryValueExW(HKEY key, const wchar_t* name, DWORD*, DWORD* type, BYTE* data, DWORD* size) override
    {
        const auto& [keyPath, view32] = m_handles.at(reinterpret_cast<size_t>(key) - 1);
        for (const RegistryValue& value : values) {
            if (value.key != keyPath || value.view32 != view32 || ::lstrcmpiW(value.name.c_str(), name) != 0) {
                continue;
            }
            const DWORD bytes = static_cast<DWORD>((value.data.size() + (value.terminated ? 1 : 0)) * sizeof(wchar_t));
            *type = value.type;
            if (data != nullptr && *size < bytes) {
                *size = bytes;
                return ERROR_MORE_DATA;
            }
            if (data != nullptr) {
                std::memcpy(data, value.data.c_str(), bytes);
            }
            *size = bytes;
            return ERROR_SUCCESS;
        }
        return ERROR_FILE_NOT_FOUND;
    }
    LSTATUS RegCloseKey(HKEY) override
    {
        --keysOpen;
        return ERROR_SUCCESS;
    }
    DWORD GetModuleFileNameW(HMODULE, wchar_t* buffer, DWORD size) override
    {
        const size_t copied = std::min<size_t>(executablePath.size(), size - 1);
        std::memcpy(buffer, executablePath.c_str(), copied * sizeof(wchar_t));
        buffer[copied] = L'\0';
        return executablePath.size() < size ? static_cast<DWORD>(copied) : size;
    }
    HMODULE LoadLibraryW(const wchar_t* path) override
    {
        loadAttempts.push_back(path);
        if (std::find(loadable.begin(), loadable.end(), path) == loadable.end()) {
            return nullptr;
        }
        return ::GetModuleHandleW(L"kernel32.dll");
    }
    UINT GetSystemDirectoryW(wchar_t* buffer, UINT size) override
    {
        constexpr wchar_t kSystem[] = L"C:\\windows\\system32";
        if (size < std::size(kSystem)) {
            return std::size(kSystem);
        }
        std::memcpy(buffer, kSystem, sizeof(kSystem));
        return std::size(kSystem) - 1;
    }

private:
    std::vector<std::pair<std::wstring, bool>> m_handles;
};

void ApplyOptions(int32_t version, bool searchExecutableDirectory, const wchar_t* directoryOverride)
{
    const DelayLoadDependencies dependencies{sizeof(DelayLoadDependencies),
                                             version,
                                             static_cast<uint8_t>(searchExecutableDirectory ? 1 : 0),
                                             {},
                                             directoryOverride};
    ASSERT_TRUE(ApplyDelayLoadDependencies(dependencies));
}

class LibraryLoadingTest : public testing::Test {
protected:
    void TearDown() override
    {
        ApplyOptions(kDelayLoadConfigurationVersion, true, nullptr);
        SetDelayLoadCustomLoader(nullptr, nullptr);
        ReplaceDelayLoadSystemCalls(nullptr);
    }
};

TEST_F(LibraryLoadingTest, LoadLibrarySafelyFollowsTheSearchOrder)
{
    struct Case {
        const char* what;
        int32_t version;
        bool executableDirectory;
        const wchar_t* directoryOverride;
        std::vector<RegistryValue> values;
        std::vector<std::wstring> loadable;
        std::vector<std::wstring> expectedKeys;
        std::vector<std::wstring> expectedAttempts;
        std::wstring executablePath = L"C:\\app\\tool.exe";
    };
    const std::wstring longDirectory = L"C:\\" + std::wstring(300, L'd');
    const std::vector<std::wstring> bothViews = {kKey100 + L" (64)", kKey100 + L" (32)"};
    const Case cases[] = {
        {"defaults", 100, true, nullptr, {}, {kSystemMsi}, bothViews, {L"C:\\app\\msi.dll", kSystemMsi}},
        {"executable directory off", 100, false, nullptr, {}, {kSystemMsi}, bothViews, {kSystemMsi}},
        {"executable directory wins", 100, true, nullptr, {}, {L"C:\\app\\msi.dll"}, {}, {L"C:\\app\\msi.dll"}},
        {"long executable path",
         100,
         true,
         nullptr,
         {},
         {},
         bothViews,
         {longDirectory + L"\\msi.dll", kSystemMsi},
         longDirectory + L"\\tool.exe"},
        {"override first, registry skipped",
         100,
         true,
         L"D:\\libs\\",
         {{kKey100, false, L"msi.dll", REG_SZ, L"E:\\reg\\msi.dll"}},
         {kSystemMsi},
         {},
         {L"D:\\libs\\msi.dll", L"C:\\app\\msi.dll", kSystemMsi}},
        {"override loads", 100, true, L"D:\\libs\\", {}, {L"D:\\libs\\msi.dll"}, {}, {L"D:\\libs\\msi.dll"}},
        {"registry 64-bit view",
         100,
         false,
         nullptr,
         {{kKey100, false, L"MSI.DLL", REG_SZ, L"E:\\reg\\msi.dll"}},
         {L"E:\\reg\\msi.dll"},
         {kKey100 + L" (64)"},
         {L"E:\\reg\\msi.dll"}},
        {"registry 32-bit view",
         100,
         false,
         nullptr,
         {{kKey100, false, L"userenv.dll", REG_SZ, L"E:\\reg\\userenv.dll"},
          {kKey100, true, L"msi.dll", REG_SZ, L"E:\\reg32\\msi.dll"}},
         {L"E:\\reg32\\msi.dll"},
         bothViews,
         {L"E:\\reg32\\msi.dll"}},
        {"REG_EXPAND_SZ unexpanded",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_EXPAND_SZ, L"%ProgramFiles%\\msi.dll"}},
         {L"%ProgramFiles%\\msi.dll"},
         {kKey100 + L" (64)"},
         {L"%ProgramFiles%\\msi.dll"}},
        {"REG_MULTI_SZ first string",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_MULTI_SZ, std::wstring(L"E:\\m\\msi.dll") + L'\0' + L"E:\\x.dll" + L'\0'}},
         {L"E:\\m\\msi.dll"},
         {kKey100 + L" (64)"},
         {L"E:\\m\\msi.dll"}},
        {"unterminated REG_SZ",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_SZ, L"E:\\reg\\msi.dll", false}},
         {L"E:\\reg\\msi.dll"},
         {kKey100 + L" (64)"},
         {L"E:\\reg\\msi.dll"}},
        {"REG_DWORD ignored",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_DWORD, {L'\1', L'\0'}}},
         {kSystemMsi},
         bothViews,
         {kSystemMsi}},
        {"empty value ignored",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_SZ, L""}},
         {kSystemMsi},
         bothViews,
         {kSystemMsi}},
        {"registry path that fails",
         100,
         false,
         nullptr,
         {{kKey100, false, L"msi.dll", REG_SZ, L"E:\\no.dll"}},
         {kSystemMsi},
         {kKey100 + L" (64)"},
         {L"E:\\no.dll", kSystemMsi}},
        {"version 0: legacy key",
         0,
         false,
         nullptr,
         {{L"Software\\Brannock\\Norvane\\Delay Loading", false, L"msi.dll", REG_SZ, L"E:\\old\\msi.dll"}},
         {L"E:\\old\\msi.dll"},
         {L"Software\\Brannock\\Norvane\\Delay Loading (64)"},
         {L"E:\\old\\msi.dll"}},
        {"other version: own key",
         7,
         false,
         nullptr,
         {},
         {kSystemMsi},
         {L"Software\\Norvane\\QOR\\Delay Loading\\7 (64)", L"Software\\Norvane\\QOR\\Delay Loading\\7 (32)"},
         {kSystemMsi}},
    };
    for (const Case& c : cases) {
        auto calls = std::make_shared<RecordingSystemCalls>();
        calls->values = c.values;
        calls->loadable = c.loadable;
        calls->executablePath = c.executablePath;
        ReplaceDelayLoadSystemCalls(calls);
        ApplyOptions(c.version, c.executableDirectory, c.directoryOverride);

        const HMODULE module = LoadLibrarySafely(L"msi.dll");

        EXPECT_EQ(calls->openedKeys, c.expectedKeys) << c.what;
        EXPECT_EQ(calls->loadAttempts, c.expectedAttempts) << c.what;
        EXPECT_EQ(module != nullptr,
                  std::find(c.loadable.begin(), c.loadable.end(), c.expectedAttempts.back()) != c.loadable.end())
            << c.what;
        EXPECT_EQ(calls->keysOpen, 0) << c.what;
    }
}

TEST_F(LibraryLoadingTest, OptionsChangeOnlyAsAsked)
{
    auto calls = std::make_shared<RecordingSystemCalls>();
    ReplaceDelayLoadSystemCalls(calls);
    const auto firstAttempt = [&] {
        calls->loadAttempts.clear();
        LoadLibrarySafely(L"msi.dll");
        return calls->loadAttempts.front();
    };

    SetDelayLoadOptions(1, 0);
    EXPECT_EQ(firstAttempt(), L"C:\\app\\msi.dll") << "kept";
    SetDelayLoadOptions(0, 0);
    EXPECT_EQ(firstAttempt(), kSystemMsi) << "cleared";
    DelayLoadDependencies otherSize{sizeof(DelayLoadDependencies) + 4, 100, 1, {}, L"D:\\libs\\"};
    EXPECT_FALSE(ApplyDelayLoadDependencies(otherSize));
    EXPECT_EQ(firstAttempt(), kSystemMsi) << "record of another size";
    ApplyOptions(100, false, L"");
    EXPECT_EQ(firstAttempt(), kSystemMsi) << "empty override";
}

std::wstring BesideThisProgram(const wchar_t* name)
{
    wchar_t path[MAX_PATH] = {};
    ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring directory = path;
    return directory.substr(0, directory.rfind(L'\\') + 1) + name;
}

// A private copy of the planted library, so that its marker file lands in a scratch folder.
class PlantedLibraryCopy {
public:
    PlantedLibraryCopy()
    {
        wchar_t temp[MAX_PATH] = {};
        ::GetTempPathW(MAX_PATH, temp);
        m_directory = std::wstring(temp) + L"nv-library-loading-" + std::to_wstring(::GetCurrentProcessId());
        ::CreateDirectoryW(m_directory.c_str(), nullptr);
        m_path = m_directory + L"\\nv_planted_library.dll";
        m_copied = ::CopyFileW(BesideThisProgram(L"nv_planted_library.dll").c_str(), m_path.c_str(), FALSE) != FALSE;
    }
    PlantedLibraryCopy(const PlantedLibraryCopy&) = delete;
    PlantedLibraryCopy& operator=(const PlantedLibraryCopy&) = delete;
    ~PlantedLibraryCopy()
    {
        ::DeleteFileW((m_path + L".loaded").c_str());
        ::DeleteFileW(m_path.c_str());
        ::RemoveDirectoryW(m_directory.c_str());
    }
    bool Copied() const { return m_copied; }
    const std::wstring& Path() const { return m_path; }
    std::string Marker() const
    {
        std::ifstream file(std::filesystem::path(m_path + L".loaded"), std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

private:
    std::wstring m_directory;
    std::wstring m_path;
    bool m_copied = false;
};

TEST(DelayLoadedImports, BindEveryMsiFunctionToItsOrdinal)
{
    // Each call gives a result that only the right function gives for a product nobody installed.
    const wchar_t* unknown = L"{6D1B5E0C-3F2A-4C7E-9B1D-2A7F4E8C9D10}";
    wchar_t buffer[64] = {};
    DWORD length = std::size(buffer);
    MSIHANDLE handle = 0;
    struct Case {
        const char* function;
        std::function<INT_PTR()> call;
        INT_PTR expected;
    };
    const Case cases[] = {
        {"MsiEnumRelatedProductsW", [&] { return MsiEnumRelatedProductsW(unknown, 0, 0, buffer); },
         ERROR_NO_MORE_ITEMS},
        {"MsiQueryProductStateW", [&] { return MsiQueryProductStateW(unknown); }, INSTALLSTATE_UNKNOWN},
        {"MsiGetProductInfoW",
         [&] { return MsiGetProductInfoW(unknown, INSTALLPROPERTY_PRODUCTNAME, buffer, &length); },
         ERROR_UNKNOWN_PRODUCT},
        {"MsiConfigureProductW", [&] { return MsiConfigureProductW(unknown, 0, INSTALLSTATE_ABSENT); },
         ERROR_UNKNOWN_PRODUCT},
        {"MsiConfigureProductExW", [&] { return MsiConfigureProductExW(unknown, 0, INSTALLSTATE_ABSENT, L""); },
         ERROR_UNKNOWN_PRODUCT},
        {"MsiEnableLogW", [&] { return MsiEnableLogW(0, nullptr, 0); }, ERROR_SUCCESS},
        {"MsiSetInternalUI", [&] { return MsiSetInternalUI(INSTALLUILEVEL_NOCHANGE, nullptr); },
         INSTALLUILEVEL_DEFAULT},
        {"MsiSetExternalUIW", [&] { return reinterpret_cast<INT_PTR>(MsiSetExternalUIW(nullptr, 0, nullptr)); }, 0},
        {"MsiOpenDatabaseW",
         [&] { return MsiOpenDatabaseW(L"C:\\no such folder\\x.msi", MSIDBOPEN_READONLY, &handle); },
         ERROR_FUNCTION_FAILED},
        {"MsiDatabaseOpenViewW", [&] { return MsiDatabaseOpenViewW(0, L"SELECT `Value` FROM `Property`", &handle); },
         ERROR_INVALID_HANDLE},
        {"MsiViewExecute", [&] { return MsiViewExecute(0, 0); }, ERROR_INVALID_HANDLE},
        {"MsiViewFetch", [&] { return MsiViewFetch(0, &handle); }, ERROR_INVALID_HANDLE},
        {"MsiRecordGetStringW", [&] { return MsiRecordGetStringW(0, 1, buffer, &length); }, ERROR_INVALID_HANDLE},
        {"MsiCloseHandle", [&] { return MsiCloseHandle(0x7FFF); }, ERROR_INVALID_HANDLE},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.call(), c.expected) << c.function;
    }
}

// Import data laid out as the linker lays it out, inside this image, so that its offsets are relative to
// __ImageBase: "nv_synthetic.dll", GetProfilesDirectoryW by name and ordinal 205.
struct SyntheticImports {
    char library[32];
    struct {
        WORD hint;
        char name[30];
    } byName;
    IMAGE_THUNK_DATA names[2];
    IMAGE_THUNK_DATA bound[2];
    FARPROC addresses[2];
    HMODULE module;
    ImgDelayDescr descriptor;
};
SyntheticImports g_imports;

RVA Rva(const void* address)
{
    return static_cast<RVA>(static_cast<const BYTE*>(address) - reinterpret_cast<const BYTE*>(&__ImageBase));
}

void BuildSyntheticImports(DWORD timeStamp)
{
    g_imports = {};
    std::strcpy(g_imports.library, "nv_synthetic.dll");
    std::strcpy(g_imports.byName.name, "GetProfilesDirectoryW");
    g_imports.names[0].u1.AddressOfData = Rva(&g_imports.byName);
    g_imports.names[1].u1.Ordinal = IMAGE_ORDINAL_FLAG | 205;
    g_imports.descriptor = {dlattrRva,
                            Rva(g_imports.library),
                            Rva(&g_imports.module),
                            Rva(g_imports.addresses),
                            Rva(g_imports.names),
                            Rva(g_imports.bound),
                            0,
                            timeStamp};
}

struct LoaderRecord {
    std::wstring path;
    std::vector<std::wstring> requested;
};

HMODULE RecordingLoader(const wchar_t* fileName, void* context)
{
    auto* record = static_cast<LoaderRecord*>(context);
    record->requested.push_back(fileName);
    return ::LoadLibraryW(record->path.c_str());
}

const IMAGE_NT_HEADERS& HeadersOf(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    return *reinterpret_cast<const IMAGE_NT_HEADERS*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
}

void BoundStandIn() {}

TEST_F(LibraryLoadingTest, HelperBindsByNameAndOrdinalThroughTheCustomLoaderOnce)
{
    PlantedLibraryCopy planted;
    ASSERT_TRUE(planted.Copied());
    LoaderRecord record{planted.Path(), {}};
    SetDelayLoadCustomLoader(&RecordingLoader, &record);
    BuildSyntheticImports(0);

    const FARPROC byName = __delayLoadHelper2(&g_imports.descriptor, &g_imports.addresses[0]);
    const FARPROC byOrdinal = __delayLoadHelper2(&g_imports.descriptor, &g_imports.addresses[1]);

    ASSERT_NE(g_imports.module, nullptr);
    EXPECT_EQ(record.requested, std::vector<std::wstring>{L"nv_synthetic.dll"});
    EXPECT_EQ(byName, ::GetProcAddress(g_imports.module, "GetProfilesDirectoryW"));
    EXPECT_EQ(byOrdinal, ::GetProcAddress(g_imports.module, MAKEINTRESOURCEA(205)));
    EXPECT_NE(byName, byOrdinal);
    EXPECT_EQ(g_imports.addresses[0], byName);
    EXPECT_EQ(g_imports.addresses[1], byOrdinal);
    ::FreeLibrary(g_imports.module);
    EXPECT_EQ(planted.Marker(), "loaded\n") << "the custom loader replaces the whole search";
}

TEST_F(LibraryLoadingTest, HelperTakesBoundAddressOnlyForTheImageItWasBoundAgainst)
{
    PlantedLibraryCopy planted;
    ASSERT_TRUE(planted.Copied());
    LoaderRecord record{planted.Path(), {}};
    SetDelayLoadCustomLoader(&RecordingLoader, &record);
    const HMODULE module = ::LoadLibraryW(planted.Path().c_str());
    ASSERT_NE(module, nullptr);
    const IMAGE_NT_HEADERS& headers = HeadersOf(module);
    ASSERT_EQ(headers.OptionalHeader.ImageBase, reinterpret_cast<ULONG_PTR>(module)) << "not at its preferred base";

    for (const bool matching : {true, false}) {
        BuildSyntheticImports(headers.FileHeader.TimeDateStamp + (matching ? 0 : 1));
        g_imports.bound[0].u1.Function = reinterpret_cast<ULONG_PTR>(&BoundStandIn);
        const FARPROC function = __delayLoadHelper2(&g_imports.descriptor, &g_imports.addresses[0]);
        EXPECT_EQ(function, matching ? reinterpret_cast<FARPROC>(&BoundStandIn)
                                     : ::GetProcAddress(module, "GetProfilesDirectoryW"))
            << (matching ? "matching" : "other") << " time stamp";
        ::FreeLibrary(g_imports.module);
    }
    ::FreeLibrary(module);
}

// Another thread bound the library while this one was still loading it.
HMODULE LoaderLosingTheRace(const wchar_t*, void* context)
{
    const auto* record = static_cast<LoaderRecord*>(context);
    g_imports.module = ::LoadLibraryW(record->path.c_str());
    return ::LoadLibraryW(record->path.c_str());
}

TEST_F(LibraryLoadingTest, HelperKeepsOneHandleWhenAnotherThreadBoundFirst)
{
    PlantedLibraryCopy planted;
    ASSERT_TRUE(planted.Copied());
    LoaderRecord record{planted.Path(), {}};
    SetDelayLoadCustomLoader(&LoaderLosingTheRace, &record);
    BuildSyntheticImports(0);

    ASSERT_NE(__delayLoadHelper2(&g_imports.descriptor, &g_imports.addresses[0]), nullptr);

    ::FreeLibrary(g_imports.module);
    EXPECT_EQ(::GetModuleHandleW(planted.Path().c_str()), nullptr) << "the second handle was kept";
}

} // namespace
