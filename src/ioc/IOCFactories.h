#pragma once
// Factories a component container keeps, one per (type, registration name).

#include <functional>
#include <memory>
#include <string>
#include <typeinfo>

namespace Basalt {

class IOCContainer;

class IOCFactoryInterface {
public:
    virtual ~IOCFactoryInterface() = default;
    virtual const std::type_info& getType() const = 0;
    virtual const std::wstring& getRegistrationName() const = 0;
    virtual std::shared_ptr<void> getInstance() = 0;
};

template <typename T>
class IOCBaseFactory : public IOCFactoryInterface {
public:
    explicit IOCBaseFactory(std::wstring registrationName) : registrationName_(std::move(registrationName)) {}

    const std::type_info& getType() const override { return typeid(T); }
    const std::wstring& getRegistrationName() const override { return registrationName_; }
    std::shared_ptr<void> getInstance() override { return std::static_pointer_cast<void>(getTypedInstance()); }
    virtual std::shared_ptr<T> getTypedInstance() = 0;

private:
    std::wstring registrationName_;
};

// Hands out the same instance (possibly null) on every resolution.
template <typename T>
class IOCInstanceReturningFactory : public IOCBaseFactory<T> {
public:
    IOCInstanceReturningFactory(std::wstring registrationName, std::shared_ptr<T> instance)
        : IOCBaseFactory<T>(std::move(registrationName)), instance_(std::move(instance))
    {
    }
    std::shared_ptr<T> getTypedInstance() override { return instance_; }

private:
    std::shared_ptr<T> instance_;
};

// Resolution policy: dependencies of the created object come from the container.
struct IOCRecursiveResolve {};

template <typename... Types>
struct IOCTypeList {};

template <typename T, typename Policy, typename Delegate, typename TypeList = IOCTypeList<>>
class IOCDelegateFactory : public IOCBaseFactory<T> {
public:
    IOCDelegateFactory(std::wstring registrationName, IOCContainer* container, Delegate delegate)
        : IOCBaseFactory<T>(std::move(registrationName)), container_(container), delegate_(std::move(delegate))
    {
    }
    std::shared_ptr<T> getTypedInstance() override { return delegate_(); }

protected:
    IOCContainer* container_; // not owned: the container owns this factory
    Delegate delegate_;
};

// Makes a new, default-constructed Impl on every resolution.
template <typename T, typename Impl = T, typename TypeList = IOCTypeList<>>
class IOCResolvableFactory
    : public IOCDelegateFactory<T, IOCRecursiveResolve, std::function<std::shared_ptr<T>()>, TypeList> {
    using Base = IOCDelegateFactory<T, IOCRecursiveResolve, std::function<std::shared_ptr<T>()>, TypeList>;

public:
    IOCResolvableFactory(std::wstring registrationName, IOCContainer* container)
        : Base(std::move(registrationName), container,
               []() -> std::shared_ptr<T> { return std::make_shared<Impl>(); })
    {
    }
};

} // namespace Basalt
