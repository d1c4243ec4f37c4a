#pragma once
// The host's side of the sandbox message bus: BusBroker.dll loaded from the
// host's own folder, connections to it, and a watcher that collects the
// messages the host subscribed to.

#include "message/MessageBusFunctions.h"
#include "win/UniqueHandle.h"

#include <windows.h>

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace sandbox {

// One open broker handle, closed on destruction.
class BusConnection {
public:
    BusConnection(const Orvik::MessageBusFunctions* table, void* handle) : table_(table), handle_(handle) {}
    ~BusConnection() { table_->close(handle_); }
    BusConnection(const BusConnection&) = delete;
    BusConnection& operator=(const BusConnection&) = delete;
    void* handle() const { return handle_; }

private:
    const Orvik::MessageBusFunctions* table_;
    void* handle_;
};

// Messages delivered to the host's subscriptions, kept for the demo to print.
class BusWatcher {
public:
    struct Seen {
        std::wstring name;
        std::wstring sender;
        std::wstring payload;
        std::uint32_t session;
    };
    static std::uint32_t onMessage(void* context, const Orvik::MessageHeader* header, const wchar_t* name,
                                   const wchar_t* sender, const wchar_t* payload);
    // Waits at most `milliseconds` for a message named `name`; true when one came.
    bool waitFor(const std::wstring& name, DWORD milliseconds);
    // Waits for the `index`-th (from 0) message named `name` from `sender`.
    bool waitForNth(const std::wstring& name, const std::wstring& sender, std::size_t index, DWORD milliseconds,
                    Seen& out);
    std::vector<Seen> seen();

private:
    std::mutex lock_;
    std::condition_variable arrived_;
    std::vector<Seen> seen_;
};

class SandboxBus {
public:
    // Loads BusBroker.dll from `folder`; check loaded() before use.
    explicit SandboxBus(const std::wstring& folder);
    ~SandboxBus();
    SandboxBus(const SandboxBus&) = delete;
    SandboxBus& operator=(const SandboxBus&) = delete;

    bool loaded() const { return table_ != nullptr; }
    const Orvik::MessageBusFunctions* table() const { return table_; }
    const char* version() const;
    // A new connection, or null when the broker refuses.
    std::unique_ptr<BusConnection> connect() const;
    std::uint32_t publish(const BusConnection& from, const wchar_t* name, const wchar_t* sender,
                          const wchar_t* payload) const;

private:
    Orvik::win::UniqueLibrary library_;
    const Orvik::MessageBusFunctions* table_ = nullptr;
};

} // namespace sandbox
