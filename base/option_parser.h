#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Command-line option parser; one process-wide instance, options read by name.
class NvOptionParser {
public:
    enum Kind : int32_t {
        ValueRequired = 0,
        ValueOptional = 1,
        NoValue = 2,
    };

    // An option that occurred on the command line; flag when it is declared without a value.
    struct SpecifiedOption {
        std::wstring name;
        bool flag = false;
        std::wstring value;
    };

    static NvOptionParser& Instance();

    NvOptionParser();
    virtual ~NvOptionParser();

    virtual bool AddOption(int32_t kind, const std::wstring& name, wchar_t shortName);
    virtual bool Parse(const wchar_t* commandLine);
    virtual bool Parse(int argc, const wchar_t* const* argv);
    virtual bool ParseArguments(const std::vector<std::wstring>& arguments);
    virtual bool IsSpecified(const std::wstring& name) const;
    virtual bool HasValue(const std::wstring& name) const;
    virtual std::wstring GetValue(const std::wstring& name) const;
    virtual int32_t GetValueAsNumber(const std::wstring& name) const;
    virtual std::vector<std::wstring> GetPositionalArguments() const;
    virtual std::wstring GetErrorText() const;
    virtual void Reset();
    // The options that occurred, in declaration order, with their declared names.
    virtual std::vector<SpecifiedOption> GetSpecifiedOptions() const;

private:
    struct State;
    struct Option;

    Option* Find(const std::wstring& name) const;
    Option* FindShort(wchar_t shortName) const;
    bool ParseOption(const std::wstring& argument, Option*& pending);
    void SetError(const wchar_t* format, const std::wstring& argument);

    std::unique_ptr<State> m_state;
};

// Splits a command line with the parser's quoting rule; false when a quote is left open.
bool SplitCommandLine(const wchar_t* commandLine, std::vector<std::wstring>& arguments);
