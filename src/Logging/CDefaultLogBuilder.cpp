#include "Logging/LoggingIf.h"

#include "Logging/CETWLogging.h"
#include "Logging/CLogging.h"
#include "Logging/Immortal.h"
#include "Logging/LoggingNames.h"
#include "registry/CRegKey.h"

#include <memory>
#include <new>

namespace ETWLogging {
namespace {

bool givenButEmpty(const wchar_t* text)
{
    return text != nullptr && *text == L'\0';
}

// True when the machine asks for the file back end: "Logging Mechanism" 1,
// read from the configuration source if there is one, else from the
// scrambled logging key. No key or no value means the trace back end.
bool machineWantsFileBackEnd(CLogConfigSourceIf* config)
{
    DWORD mechanism = 0;
    if (config != nullptr)
        return config->QueryDword(names::kLoggingMechanismValue, mechanism) && mechanism == names::kMechanismFile;
    return internal::readLoggingMechanism(mechanism) == ERROR_SUCCESS && mechanism == names::kMechanismFile;
}

// Hands a started back end to the caller with the builder's reference.
bool deliver(std::unique_ptr<CLoggingIf> backEnd, CLoggingIf** output)
{
    *output = backEnd.release();
    (*output)->AddRef();
    return true;
}

} // namespace

LONG internal::readLoggingMechanism(DWORD& mechanism)
{
    Basalt::CObfuscatedRegKey key;
    const LONG opened = key.Open(HKEY_LOCAL_MACHINE, names::kLoggingKey, KEY_READ);
    if (opened != ERROR_SUCCESS)
        return opened;
    return key.QueryDWORDValue(names::kLoggingMechanismValue, mechanism);
}

CDefaultLogBuilder& CDefaultLogBuilder::instance()
{
    return Basalt::internal::immortal<CDefaultLogBuilder>();
}

bool CDefaultLogBuilder::Build(const wchar_t* groupName, HMODULE moduleInstance, const wchar_t* hostName,
                               std::int32_t selector, CLoggingIf** output, CLogConfigSourceIf* config)
{
    return Build_ex(nullptr, groupName, moduleInstance, hostName, selector, output, config);
}

bool CDefaultLogBuilder::Build_ex(const wchar_t* applicationName, const wchar_t* groupName, HMODULE moduleInstance,
                                  const wchar_t* hostName, std::int32_t selector, CLoggingIf** output,
                                  CLogConfigSourceIf* config)
{
    if (output == nullptr || *output != nullptr || givenButEmpty(groupName) || givenButEmpty(hostName))
        return false;
    if (selector == names::kSelectFileBackEnd || machineWantsFileBackEnd(config)) {
        std::unique_ptr<CLogging> file(new (std::nothrow) CLogging);
        if (!file || file->Initialize(groupName, moduleInstance, hostName, nullptr) != 0)
            return false;
        return deliver(std::move(file), output);
    }
    std::unique_ptr<CETWLogging> trace(new (std::nothrow) CETWLogging);
    if (!trace)
        return false;
    if (trace->Initialize_ex(applicationName, groupName, moduleInstance, hostName, nullptr) != 0 &&
        trace->Initialize(groupName, moduleInstance, hostName, nullptr) != 0)
        return false;
    return deliver(std::move(trace), output);
}

} // namespace ETWLogging
