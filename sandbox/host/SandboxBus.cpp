#include "SandboxBus.h"

#include "message/MessageHeader.h"
#include "win/ProcAddress.h"

#include <chrono>
#include <cwchar>

namespace sandbox {

std::uint32_t BusWatcher::onMessage(void* context, const Orvik::MessageHeader* header, const wchar_t* name,
                                    const wchar_t* sender, const wchar_t* payload)
{
    auto* self = static_cast<BusWatcher*>(context);
    if (self == nullptr || name == nullptr || sender == nullptr || payload == nullptr)
        return 0x80000008;
    {
        std::lock_guard<std::mutex> guard(self->lock_);
        self->seen_.push_back({name, sender, payload, header != nullptr ? header->sessionId : 0});
    }
    self->arrived_.notify_all();
    return 0;
}

bool BusWatcher::waitFor(const std::wstring& name, DWORD milliseconds)
{
    std::unique_lock<std::mutex> guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] {
        for (const Seen& message : seen_)
            if (message.name == name)
                return true;
        return false;
    });
}

bool BusWatcher::waitForNth(const std::wstring& name, const std::wstring& sender, std::size_t index,
                            DWORD milliseconds, Seen& out)
{
    std::unique_lock<std::mutex> guard(lock_);
    return arrived_.wait_for(guard, std::chrono::milliseconds(milliseconds), [&] {
        std::size_t found = 0;
        for (const Seen& message : seen_)
            if (message.name == name && message.sender == sender && found++ == index) {
                out = message;
                return true;
            }
        return false;
    });
}

std::vector<BusWatcher::Seen> BusWatcher::seen()
{
    std::lock_guard<std::mutex> guard(lock_);
    return seen_;
}

SandboxBus::SandboxBus(const std::wstring& folder)
{
    library_.reset(LoadLibraryW((folder + L"BusBroker.dll").c_str()));
    auto create =
        Orvik::win::procAddress<const Orvik::MessageBusFunctions* (*)(std::uint32_t)>(library_.get(), "CreateObject");
    table_ = create != nullptr ? create(Orvik::kMessageBusInterfaceVersion) : nullptr;
}

SandboxBus::~SandboxBus() = default;

const char* SandboxBus::version() const
{
    auto versionText = Orvik::win::procAddress<const char* (*)()>(library_.get(), "GetVersionStr");
    return versionText != nullptr ? versionText() : "?";
}

std::unique_ptr<BusConnection> SandboxBus::connect() const
{
    void* handle = nullptr;
    if (table_->open(&handle) != 0 || handle == nullptr)
        return nullptr;
    return std::make_unique<BusConnection>(table_, handle);
}

std::uint32_t SandboxBus::publish(const BusConnection& from, const wchar_t* name, const wchar_t* sender,
                                  const wchar_t* payload) const
{
    Orvik::MessageHeader header = Orvik::kMessageHeaderTemplate;
    header.totalSize = Orvik::messageTotalSize(std::wcslen(name), std::wcslen(sender), std::wcslen(payload));
    return table_->publish(from.handle(), &header, name, sender, payload);
}

} // namespace sandbox
