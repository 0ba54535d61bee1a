#include "app/tool_options.h"

#include "base/option_parser.h"

#include <windows.h>

#include <cwchar>

namespace {

constexpr wchar_t kBlanks[] = L" \t";

bool EqualsIgnoringCase(const std::wstring& a, const wchar_t* b)
{
    return ::_wcsicmp(a.c_str(), b) == 0;
}

} // namespace

void DeclareToolOptions(NvOptionParser& parser)
{
    parser.AddOption(NvOptionParser::NoValue, L"testui", 0);
    parser.AddOption(NvOptionParser::NoValue, L"silent", L's');
    parser.AddOption(NvOptionParser::ValueRequired, L"language", L'l');
    parser.AddOption(NvOptionParser::ValueRequired, L"scripts", 0);
    parser.AddOption(NvOptionParser::NoValue, L"detect", 0);
    parser.AddOption(NvOptionParser::ValueRequired, L"products", 0);
    parser.AddOption(NvOptionParser::ValueRequired, L"report", 0);
    parser.AddOption(NvOptionParser::ValueRequired, L"exitcodes", 0);
}

bool CheckToolOptions(const NvOptionParser& parser, std::wstring& error)
{
    if (parser.IsSpecified(L"products")) {
        if (!parser.IsSpecified(L"silent")) {
            error = L"Option 'products' needs 'silent'";
            return false;
        }
        if (parser.IsSpecified(L"detect")) {
            error = L"Option 'products' cannot be combined with 'detect'";
            return false;
        }
        for (const std::wstring& id : SplitProductIds(parser.GetValue(L"products"))) {
            if (id.empty()) {
                error = L"Option 'products' has an empty product id";
                return false;
            }
        }
    }
    if (parser.IsSpecified(L"detect") && parser.IsSpecified(L"testui")) {
        error = L"Option 'detect' cannot be combined with 'testui'";
        return false;
    }
    if (parser.IsSpecified(L"exitcodes") && !EqualsIgnoringCase(parser.GetValue(L"exitcodes"), L"msi")) {
        error = L"Option 'exitcodes' takes the value msi";
        return false;
    }
    return true;
}

std::vector<std::wstring> SplitProductIds(const std::wstring& value)
{
    std::vector<std::wstring> ids;
    size_t start = 0;
    for (;;) {
        const size_t comma = value.find(L',', start);
        std::wstring id = value.substr(start, comma == std::wstring::npos ? std::wstring::npos : comma - start);
        const size_t first = id.find_first_not_of(kBlanks);
        id = first == std::wstring::npos ? std::wstring() : id.substr(first, id.find_last_not_of(kBlanks) - first + 1);
        ids.push_back(std::move(id));
        if (comma == std::wstring::npos) {
            return ids;
        }
        start = comma + 1;
    }
}

ExitCodeConvention ChosenExitCodeConvention(const NvOptionParser& parser)
{
    return parser.IsSpecified(L"exitcodes") && EqualsIgnoringCase(parser.GetValue(L"exitcodes"), L"msi")
               ? ExitCodeConvention::WindowsInstaller
               : ExitCodeConvention::Tool;
}

int MapExitCode(ExitCodeConvention convention, int toolCode, bool restartStarted)
{
    if (convention != ExitCodeConvention::WindowsInstaller) {
        return toolCode;
    }
    switch (toolCode) {
    case 0:
        return ERROR_SUCCESS;
    case 1:
        return ERROR_INSTALL_FAILURE;
    case 2:
        return ERROR_INSTALL_USEREXIT;
    case 3:
        return 1730; // Windows Installer's "You must be an Administrator to remove this application."
    case 4:
        return ERROR_INSTALL_ALREADY_RUNNING; // deployment systems retry later
    case 99:
        return restartStarted ? ERROR_SUCCESS_REBOOT_INITIATED : ERROR_SUCCESS_REBOOT_REQUIRED;
    default:
        return toolCode; // detection results keep their codes
    }
}
