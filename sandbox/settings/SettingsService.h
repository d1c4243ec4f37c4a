#pragma once
// The sandbox's settings service: a participant on the bus broker that keeps
// named text properties and answers the settings client's six requests.
//
// Storage: persistent properties live in one file (UTF-8 JSON text,
// {"properties":[{"name":..,"value":..},...]}), rewritten whole after every
// change; volatile properties are kept in memory only, so a new service over
// the same file (a restart) has the persistent ones and none of the volatile.
// A property set as volatile replaces a persistent one of the same name and is
// gone after a restart.
//
// Prefixes match literally: "a.b" matches "a.bc", never "aXb".
//
// Notifications, after every change: "SETTINGS_MANAGER_PROPERTY_SET" {name}
// and "SettingsManager.Notify.Set.<name>" {name,value} for a set;
// "SETTINGS_MANAGER_PROPERTY_REMOVED" {name} and
// "SettingsManager.Notify.Delete.<name>" {name} for a removal.
//
// For tests the service can be told to misbehave (see Behaviour): answer late,
// with another property name, with a false status, with a payload that is not
// JSON, or not at all.

#include "message/MessageBus.h"
#include "win/SrwLock.h"

#include <atomic>
#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Orvik {
class JSONFormatter;
}

namespace sandbox {

class SettingsService {
public:
    enum class Behaviour {
        Normal,
        Late,        // answers after the configured delay
        WrongName,   // single replies name another property
        FalseStatus, // every status is false
        Malformed,   // the reply payload is not JSON
        Silent,      // never answers
    };

    // Subscribes the six requests on `bus`; `storeFile` keeps the persistent
    // properties (empty: none are kept beyond this object).
    SettingsService(std::shared_ptr<Orvik::MessageBus> bus, std::wstring storeFile);
    // Unsubscribes; answers still running finish first.
    ~SettingsService();
    SettingsService(const SettingsService&) = delete;
    SettingsService& operator=(const SettingsService&) = delete;

    // False when a subscription was refused (the service then answers nothing).
    bool listening() const { return listening_; }
    void setBehaviour(Behaviour behaviour, std::chrono::milliseconds delay = std::chrono::milliseconds(0));
    // Direct access for set-up and checks, without notifications.
    void put(const std::wstring& name, const std::wstring& value, bool isVolatile = false);
    bool lookUp(const std::wstring& name, std::wstring& value) const;
    // Sets a property as a client would, with its notifications.
    void change(const std::wstring& name, const std::wstring& value);
    unsigned requestsSeen() const { return requests_.load(); }

private:
    struct Property {
        std::wstring value;
        bool isVolatile = false;
    };

    // What one request changed, announced once the store is unlocked.
    struct Change {
        std::wstring name;
        std::wstring value;
        bool removed = false;
    };
    struct Outcome {
        std::wstring reply;
        std::vector<Change> changes;
    };

    ModuleStatus answer(const Orvik::MessagePtr& request);
    Outcome handle(const std::wstring& messageName, const std::wstring& payload);
    Outcome setOne(const Orvik::JSONFormatter& request);
    Outcome getOne(const Orvik::JSONFormatter& request);
    Outcome removeOne(const Orvik::JSONFormatter& request);
    Outcome setSeveral(const Orvik::JSONFormatter& request);
    Outcome getSeveral(const Orvik::JSONFormatter& request);
    Outcome removeSeveral(const Orvik::JSONFormatter& request);
    void announce(const Change& change);
    void load();
    void save() const; // under lock_

    std::shared_ptr<Orvik::MessageBus> bus_;
    std::wstring storeFile_;
    mutable Orvik::win::SrwLock lock_;
    std::map<std::wstring, Property> properties_; // under lock_
    std::atomic<Behaviour> behaviour_{Behaviour::Normal};
    std::atomic<long long> delayMs_{0};
    std::atomic<unsigned> requests_{0};
    bool listening_ = false;
};

} // namespace sandbox
