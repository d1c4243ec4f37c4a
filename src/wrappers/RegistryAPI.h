#pragma once
// Replaceable reader of local-machine registry values, for the path macros.

#include "status/ModuleStatus.h"

#include <windows.h>

#include <string>

namespace Orvik {

class RegistryAPI {
public:
    virtual ~RegistryAPI() = default;

    // A string value (REG_SZ or REG_EXPAND_SZ, not expanded) of at most 260
    // characters. MODULE_STATUS_UNSUCCESSFUL when the key does not open or the
    // value is missing, of another type or longer.
    virtual ModuleStatus readString(const std::wstring& keyPath, const std::wstring& valueName, std::wstring& value);
    // A REG_DWORD value; same statuses.
    virtual ModuleStatus readNumber(const std::wstring& keyPath, const std::wstring& valueName, DWORD& value);
};

} // namespace Orvik
