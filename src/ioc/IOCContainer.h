#pragma once
// A small inversion-of-control container: components registered by type and
// name, resolved by type.

#include "ioc/IOCFactories.h"

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <typeinfo>

namespace Basalt {

inline const std::wstring& defaultRegistrationName()
{
    static const std::wstring name = L"Unnamed registration";
    return name;
}

class IOCContainer {
public:
    using RegistrationMap = std::map<std::wstring, std::shared_ptr<IOCFactoryInterface>>;

    IOCContainer() = default;
    virtual ~IOCContainer() = default;
    IOCContainer(const IOCContainer&) = delete;
    IOCContainer& operator=(const IOCContainer&) = delete;

    // Registers a factory that makes a new Impl for every resolution of T.
    template <typename T, typename Impl = T>
    void registerType(IOCContainer* container, const std::wstring& name = defaultRegistrationName())
    {
        addFactory<T>(name, std::make_shared<IOCResolvableFactory<T, Impl>>(name, container));
    }

    template <typename T>
    void registerInstance(const std::wstring& name, std::shared_ptr<T> instance)
    {
        addFactory<T>(name, std::make_shared<IOCInstanceReturningFactory<T>>(name, std::move(instance)));
    }

    template <typename T>
    bool isRegistered(const std::wstring& name = defaultRegistrationName()) const
    {
        const RegistrationMap* registrations = find(typeKey<T>());
        return registrations != nullptr && registrations->find(name) != registrations->end();
    }

    template <typename T>
    void unregister(const std::wstring& name = defaultRegistrationName())
    {
        if (RegistrationMap* registrations = find(typeKey<T>()))
            registrations->erase(name);
    }

    // The component from T's first registration in name order; null when T has none.
    template <typename T>
    std::shared_ptr<T> resolve() const
    {
        const RegistrationMap* registrations = find(typeKey<T>());
        if (registrations == nullptr || registrations->empty())
            return nullptr;
        const std::shared_ptr<IOCFactoryInterface> factory = registrations->begin()->second;
        return std::static_pointer_cast<T>(factory->getInstance());
    }

private:
    template <typename T>
    static std::size_t typeKey()
    {
        return typeid(T).hash_code();
    }

    template <typename T>
    void addFactory(const std::wstring& name, std::shared_ptr<IOCFactoryInterface> factory)
    {
        if (isRegistered<T>(name))
            unregister<T>(name);
        types_[typeKey<T>()][name] = std::move(factory);
    }

    const RegistrationMap* find(std::size_t key) const
    {
        auto it = types_.find(key);
        return it == types_.end() ? nullptr : &it->second;
    }
    RegistrationMap* find(std::size_t key)
    {
        auto it = types_.find(key);
        return it == types_.end() ? nullptr : &it->second;
    }

    std::map<std::size_t, RegistrationMap> types_;
};

} // namespace Basalt
