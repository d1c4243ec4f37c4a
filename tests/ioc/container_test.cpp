#include "ioc/IOCContainer.h"

#include <gtest/gtest.h>

using Basalt::IOCContainer;
using Basalt::defaultRegistrationName;

namespace {

struct Service {
    virtual ~Service() = default;
    int id = 0;
};
struct Counted : Service {
    static int made;
    Counted() { id = ++made; }
};
int Counted::made = 0;
struct Other {};

TEST(IOCContainer, UnknownTypeResolvesToNullWithoutAddingAnEntry)
{
    IOCContainer container;
    EXPECT_EQ(nullptr, container.resolve<Service>());
    EXPECT_FALSE(container.isRegistered<Service>());
    container.unregister<Service>(L"never there"); // a no-op
    EXPECT_EQ(nullptr, container.resolve<Service>());
}

TEST(IOCContainer, InstanceRegistrationReturnsTheSameObjectAndTheLatestWins)
{
    IOCContainer container;
    auto a = std::make_shared<Service>();
    auto b = std::make_shared<Service>();
    container.registerInstance<Service>(defaultRegistrationName(), a);
    EXPECT_EQ(a, container.resolve<Service>());
    EXPECT_EQ(a, container.resolve<Service>());
    container.registerInstance<Service>(defaultRegistrationName(), b);
    EXPECT_EQ(b, container.resolve<Service>());
    EXPECT_EQ(2, b.use_count()); // the first registration released a
    EXPECT_EQ(1, a.use_count());
}

TEST(IOCContainer, NullInstanceIsARegistrationThatResolvesToNull)
{
    IOCContainer container;
    container.registerInstance<Service>(defaultRegistrationName(), nullptr);
    EXPECT_TRUE(container.isRegistered<Service>());
    EXPECT_EQ(nullptr, container.resolve<Service>());
}

TEST(IOCContainer, ResolvableTypeMakesANewObjectEachTime)
{
    IOCContainer container;
    container.registerType<Service, Counted>(&container);
    auto first = container.resolve<Service>();
    auto second = container.resolve<Service>();
    ASSERT_NE(nullptr, first);
    ASSERT_NE(nullptr, second);
    EXPECT_NE(first, second);
    EXPECT_NE(first->id, second->id);
}

TEST(IOCContainer, TypesAndNamesAreKeptApart)
{
    IOCContainer container;
    auto service = std::make_shared<Service>();
    container.registerInstance<Service>(L"b-name", service);
    EXPECT_TRUE(container.isRegistered<Service>(L"b-name"));
    EXPECT_FALSE(container.isRegistered<Service>());
    EXPECT_FALSE(container.isRegistered<Other>(L"b-name"));
    EXPECT_EQ(nullptr, container.resolve<Other>());

    // With several names the first in name order answers.
    auto early = std::make_shared<Service>();
    container.registerInstance<Service>(L"a-name", early);
    EXPECT_EQ(early, container.resolve<Service>());
}

TEST(IOCContainer, UnregisteringTheLastNameResolvesToNull)
{
    IOCContainer container;
    container.registerInstance<Service>(defaultRegistrationName(), std::make_shared<Service>());
    container.unregister<Service>();
    EXPECT_FALSE(container.isRegistered<Service>());
    EXPECT_EQ(nullptr, container.resolve<Service>());
}

TEST(IOCContainer, DestroyingTheContainerReleasesItsInstances)
{
    auto service = std::make_shared<Service>();
    {
        IOCContainer container;
        container.registerInstance<Service>(defaultRegistrationName(), service);
        EXPECT_EQ(2, service.use_count());
    }
    EXPECT_EQ(1, service.use_count());
}

} // namespace
