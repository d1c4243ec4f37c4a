#pragma once
// The log back-end interfaces and the builder that chooses a back end.

#include <windows.h>

#include <cstdarg>
#include <cstdint>
#include <string>

namespace ETWLogging {

// Answers of the back ends beside the Win32 codes they return: Initialize on a
// back end that is initialised already, and a write before Initialize.
constexpr std::uint32_t kAlreadyInitialised = 20001;
constexpr std::uint32_t kNotInitialised = 20002;

// Receives control notifications of the back end (trace enable/disable).
class CLoggingListenerIf {
public:
    virtual ~CLoggingListenerIf() = default;
};

class CLoggingIf {
public:
    // Longest message the bounded formatting operations produce, terminator included.
    static constexpr std::size_t kFormatCapacity = 4160;

    virtual ~CLoggingIf() = default;
    virtual std::uint32_t Initialize(const wchar_t* groupName, HMODULE moduleInstance,
                                     const wchar_t* hostName, CLoggingListenerIf* listener) = 0;
    virtual std::uint32_t PrepareWrite() = 0;
    virtual void GetAppModulePath(std::wstring& path) {}
    virtual void GetAppName(std::wstring& name) {}
    virtual std::uint32_t Uninitialize() = 0;
    virtual void SetEnabled(std::uint32_t flag) = 0;
    virtual bool IsEnabled() = 0;
    virtual std::uint32_t LogFormat(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                    std::int32_t line, const wchar_t* format, ...) = 0;
    virtual std::uint32_t WriteFormatted(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                         std::uint32_t level, const wchar_t* message) = 0;
    virtual bool IsLevelEnabled(std::uint32_t level) = 0;
    virtual void SetMaxEntries(std::uint32_t entries) = 0;
    virtual std::uint32_t GetMaxEntries() = 0;
    virtual void SetMaxSize(std::uint32_t bytes) = 0;
    virtual std::uint32_t GetMaxSize() = 0;
    virtual void SetSeverity(std::uint32_t level) = 0;
    virtual std::uint32_t GetSeverity() = 0;
    virtual long AddRef() { return 0; }
    virtual long Release() { return 0; }
    virtual std::uint32_t LogNormal(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                    const wchar_t* format, ...);
    virtual std::uint32_t LogError(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                   const wchar_t* format, ...);
    virtual std::uint32_t LogWarning(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                     const wchar_t* format, ...);
    virtual std::uint32_t LogCritical(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                      const wchar_t* format, ...);
    virtual std::uint32_t LogInformation(const wchar_t* file, const wchar_t* function, std::int32_t line,
                                         const wchar_t* format, ...);

protected:
    // Shared body of the fixed-level operations: bounded format, no level test.
    std::uint32_t writeFixedLevel(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                  std::int32_t line, const wchar_t* format, va_list args);
};

class CLoggingIf_ex : public CLoggingIf {
public:
    virtual std::uint32_t Initialize_ex(const wchar_t* applicationName, const wchar_t* groupName,
                                        HMODULE moduleInstance, const wchar_t* hostName,
                                        CLoggingListenerIf* listener) = 0;
    virtual std::uint32_t WriteFormatted_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                            std::int32_t line, const wchar_t* message) = 0;
    virtual std::uint32_t LogV_ex(std::uint32_t level, const wchar_t* file, const wchar_t* function,
                                  std::int32_t line, const wchar_t* format, va_list args) = 0;
};

// Optional source of configuration values for a builder (a DWORD query).
class CLogConfigSourceIf {
public:
    virtual ~CLogConfigSourceIf() = default;
    virtual bool QueryDword(const wchar_t* name, DWORD& value) = 0;
};

class CLogBuilderIf {
public:
    virtual ~CLogBuilderIf() = default;
    virtual bool Build(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                       std::int32_t selector, CLoggingIf** output, CLogConfigSourceIf* config) = 0;
};

class CLogBuilderIf_ex : public CLogBuilderIf {
public:
    virtual bool Build_ex(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                          const wchar_t* hostName, std::int32_t selector, CLoggingIf** output,
                          CLogConfigSourceIf* config) = 0;
};

namespace internal {
// The scrambled "Logging Mechanism" value the default builder chooses by:
// ERROR_SUCCESS with the value, else why it could not be read (the builder
// then takes the trace back end). Reads only.
LONG readLoggingMechanism(DWORD& mechanism);
} // namespace internal

// Chooses and builds the process's back end.
class CDefaultLogBuilder : public CLogBuilderIf_ex {
public:
    static CDefaultLogBuilder& instance();

    bool Build(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
               std::int32_t selector, CLoggingIf** output, CLogConfigSourceIf* config) override;
    bool Build_ex(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                  const wchar_t* hostName, std::int32_t selector, CLoggingIf** output,
                  CLogConfigSourceIf* config) override;
};

} // namespace ETWLogging
