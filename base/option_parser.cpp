#include "base/option_parser.h"

#include <windows.h>

#include <atomic>
#include <cstdarg>
#include <cwchar>
#include <cwctype>

struct NvOptionParser::Option {
    std::wstring name;
    wchar_t shortName = 0;
    int32_t kind = NoValue;
    bool specified = false;
    std::wstring value;
};

struct NvOptionParser::State {
    std::vector<std::wstring> positional;
    std::wstring errorText;
    std::vector<Option> options;
    bool parsed = false;
};

namespace {

bool EqualsIgnoringCase(const std::wstring& a, const std::wstring& b)
{
    return a.size() == b.size() && ::_wcsnicmp(a.c_str(), b.c_str(), a.size()) == 0;
}

} // namespace

NvOptionParser& NvOptionParser::Instance()
{
    // Built by the first caller; a losing thread yields until the winner has finished.
    static std::atomic<NvOptionParser*> instance{nullptr};
    static std::atomic<int> building{0};
    for (;;) {
        if (NvOptionParser* existing = instance.load(std::memory_order_acquire)) {
            return *existing;
        }
        if (building.exchange(1) == 0) {
            instance.store(new NvOptionParser(), std::memory_order_release);
        } else {
            ::SwitchToThread();
        }
    }
}

NvOptionParser::NvOptionParser() : m_state(std::make_unique<State>()) {}

NvOptionParser::~NvOptionParser() = default;

bool NvOptionParser::AddOption(int32_t kind, const std::wstring& name, wchar_t shortName)
{
    for (const Option& option : m_state->options) {
        if (EqualsIgnoringCase(option.name, name) || (shortName != 0 && option.shortName == shortName)) {
            return false;
        }
    }
    m_state->options.push_back(Option{name, shortName, kind, false, {}});
    return true;
}

bool SplitCommandLine(const wchar_t* commandLine, std::vector<std::wstring>& arguments)
{
    arguments.clear();
    if (commandLine == nullptr) {
        return false;
    }
    std::wstring current;
    bool started = false;
    bool quoted = false;
    bool justClosedQuote = false;
    for (const wchar_t* p = commandLine; *p != L'\0'; ++p) {
        const wchar_t c = *p;
        if (c == L'"') {
            if (justClosedQuote) {
                // "" right after a closing quote: one literal quote, and the quoted stretch goes on.
                current.push_back(L'"');
                quoted = true;
                justClosedQuote = false;
                continue;
            }
            started = true;
            quoted = !quoted;
            justClosedQuote = !quoted;
            continue;
        }
        justClosedQuote = false;
        if (c == L' ' && !quoted) {
            if (started) {
                arguments.push_back(std::move(current));
                current.clear();
                started = false;
            }
            continue;
        }
        current.push_back(c);
        started = true;
    }
    if (quoted) {
        return false;
    }
    if (started) {
        arguments.push_back(std::move(current));
    }
    return true;
}

bool NvOptionParser::Parse(const wchar_t* commandLine)
{
    std::vector<std::wstring> arguments;
    if (!SplitCommandLine(commandLine, arguments)) {
        if (commandLine != nullptr && !arguments.empty()) {
            m_state->errorText = L"Mismatching quotes";
        }
        return false;
    }
    if (arguments.empty()) {
        return false;
    }
    arguments.erase(arguments.begin());
    return ParseArguments(arguments);
}

bool NvOptionParser::Parse(int argc, const wchar_t* const* argv)
{
    if (argc <= 0 || argv == nullptr) {
        return false;
    }
    return ParseArguments(std::vector<std::wstring>(argv + 1, argv + argc));
}

void NvOptionParser::SetError(const wchar_t* format, const std::wstring& argument)
{
    wchar_t buffer[1024];
    // Truncates silently, like the fixed buffer it stands for.
    const int written = ::_snwprintf(buffer, std::size(buffer), format, argument.c_str());
    if (written < 0 || static_cast<size_t>(written) >= std::size(buffer)) {
        buffer[std::size(buffer) - 1] = L'\0';
    }
    m_state->errorText = buffer;
}

bool NvOptionParser::ParseOption(const std::wstring& argument, Option*& pending)
{
    if (argument.size() == 1) {
        return false;
    }
    Option* match = nullptr;
    if (argument[0] == L'/') {
        // "/name" or "/name=value"; a one-character name is tried as a short name first.
        const std::wstring body = argument.substr(1);
        const size_t equals = body.find(L'=');
        const std::wstring name = body.substr(0, equals);
        if (name.size() == 1) {
            match = FindShort(name[0]);
        }
        if (match == nullptr) {
            match = Find(name);
        }
        if (match != nullptr) {
            match->value = equals == std::wstring::npos ? std::wstring() : body.substr(equals + 1);
            if (match->kind == NoValue && !match->value.empty()) {
                SetError(L"Option '%s' has no value", match->name);
                return false;
            }
            if (match->kind == ValueRequired && match->value.empty()) {
                SetError(L"Option '%s' requires a value", match->name);
                return false;
            }
        }
    } else if (argument.size() == 2 && argument[1] != L'-') {
        match = FindShort(argument[1]);
    } else if (argument.size() > 2 && argument[1] == L'-') {
        match = Find(argument.substr(2));
    }

    if (match == nullptr) {
        SetError(L"Unknown option: %s", argument);
        return false;
    }
    if (match->specified) {
        SetError(L"Option '%s' specified twice", match->name);
        return false;
    }
    match->specified = true;
    if (match->kind != NoValue && match->value.empty()) {
        pending = match;
    }
    return true;
}

bool NvOptionParser::ParseArguments(const std::vector<std::wstring>& arguments)
{
    if (m_state->parsed) {
        m_state->errorText = L"Already parsed";
        return false;
    }
    Option* pending = nullptr;
    for (const std::wstring& argument : arguments) {
        const bool isOption = !argument.empty() && (argument[0] == L'-' || argument[0] == L'/');
        if (isOption) {
            if (pending != nullptr && pending->kind == ValueRequired) {
                SetError(L"Option '%s' requires a value", pending->name);
                return false;
            }
            pending = nullptr;
            if (!ParseOption(argument, pending)) {
                return false;
            }
        } else if (pending != nullptr) {
            pending->value = argument;
            pending = nullptr;
        } else {
            m_state->positional.push_back(argument);
        }
    }
    if (pending != nullptr && pending->kind == ValueRequired) {
        SetError(L"Option '%s' requires a value", pending->name);
        return false;
    }
    m_state->parsed = true;
    return true;
}

NvOptionParser::Option* NvOptionParser::Find(const std::wstring& name) const
{
    for (Option& option : m_state->options) {
        if (EqualsIgnoringCase(option.name, name)) {
            return &option;
        }
    }
    return nullptr;
}

NvOptionParser::Option* NvOptionParser::FindShort(wchar_t shortName) const
{
    for (Option& option : m_state->options) {
        if (option.shortName != 0 && option.shortName == shortName) {
            return &option;
        }
    }
    return nullptr;
}

bool NvOptionParser::IsSpecified(const std::wstring& name) const
{
    const Option* option = Find(name);
    return option != nullptr && option->specified;
}

bool NvOptionParser::HasValue(const std::wstring& name) const
{
    const Option* option = Find(name);
    return option != nullptr && !option->value.empty();
}

std::wstring NvOptionParser::GetValue(const std::wstring& name) const
{
    const Option* option = Find(name);
    return option != nullptr ? option->value : std::wstring();
}

int32_t NvOptionParser::GetValueAsNumber(const std::wstring& name) const
{
    const Option* option = Find(name);
    if (option == nullptr || option->value.empty()) {
        return 0;
    }
    return static_cast<int32_t>(::_wtoi(option->value.c_str()));
}

std::vector<std::wstring> NvOptionParser::GetPositionalArguments() const
{
    return m_state->positional;
}

std::wstring NvOptionParser::GetErrorText() const
{
    return m_state->errorText;
}

void NvOptionParser::Reset()
{
    m_state = std::make_unique<State>();
}

std::vector<NvOptionParser::SpecifiedOption> NvOptionParser::GetSpecifiedOptions() const
{
    std::vector<SpecifiedOption> specified;
    for (const Option& option : m_state->options) {
        if (option.specified) {
            specified.push_back({option.name, option.kind == NoValue, option.value});
        }
    }
    return specified;
}
