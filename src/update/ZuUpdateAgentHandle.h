#pragma once
// Turns the update module's requests into calls on the update agent.

#include "status/ModuleStatus.h"
#include "win/ComPtr.h"
#include "update/IZuUpdateAgent.h"

#include <cstdint>
#include <string>

namespace Orvik {

class ZuUpdateAgentHandle {
public:
    ZuUpdateAgentHandle() = default;
    virtual ~ZuUpdateAgentHandle() = default;
    ZuUpdateAgentHandle(const ZuUpdateAgentHandle&) = delete;
    ZuUpdateAgentHandle& operator=(const ZuUpdateAgentHandle&) = delete;

    // The automatic-update setting: 0 off, 1 to 3 on with that option.
    virtual ModuleStatus getUpdateSetting(std::int32_t& value);
    // Applies a "Core.Update.ChangeState" payload.
    virtual ModuleStatus changeState(const std::wstring& payload, bool& enable, std::int32_t& option);
    // Installs the products a "Core.Update.Personalize" payload lists.
    virtual ModuleStatus personalize(const std::wstring& payload);
    // Starts an update of the package (blank means "default").
    virtual ModuleStatus startUpdate(std::wstring package);

    ModuleStatus getUpdateMgr();
    ModuleStatus parsingChangeState(const std::wstring& payload, bool& enable, std::int32_t& option);
    ModuleStatus parsingAppIDList(const std::wstring& payload, std::wstring& list);
    ModuleStatus install(const std::wstring& appIdList, const std::wstring& package);
    ModuleStatus setProperty(const std::wstring& name, const std::wstring& value, const std::wstring& package);
    ModuleStatus getProperty(const std::wstring& name, std::wstring& value, const std::wstring& package);

private:
    win::ComPtr<IZuUpdateAgent> agent_;
};

} // namespace Orvik
