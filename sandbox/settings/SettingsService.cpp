#include "SettingsService.h"

#include "json/JSONFormatter.h"
#include "message/Message.h"
#include "message/MessageHeader.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <utility>

namespace sandbox {
namespace {

using Orvik::JSONFormatter;
using Orvik::MessagePtr;


constexpr wchar_t kSender[] = L"SettingsService";
constexpr wchar_t kSet[] = L"SETTINGS_MANAGER_SET_PROPERTY";
constexpr wchar_t kGet[] = L"SETTINGS_MANAGER_GET_PROPERTY";
constexpr wchar_t kRemove[] = L"SETTINGS_MANAGER_REMOVE_PROPERTY";
constexpr wchar_t kSetSeveral[] = L"SettingsManager.SetProperties.Request";
constexpr wchar_t kGetSeveral[] = L"SettingsManager.GetProperties.Request";
constexpr wchar_t kRemoveSeveral[] = L"SettingsManager.RemoveProperties.Request";
constexpr const wchar_t* kRequests[] = {kSet, kGet, kRemove, kSetSeveral, kGetSeveral, kRemoveSeveral};

std::string toUtf8(const std::wstring& text)
{
    if (text.empty())
        return {};
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size, nullptr, nullptr);
    return out;
}

std::wstring fromUtf8(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size);
    return out;
}

bool startsWith(const std::wstring& text, const std::wstring& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

JSONFormatter entry(const std::wstring& name, bool status)
{
    JSONFormatter element;
    element.setString(L"name", name);
    element.setBool(L"status", status);
    return element;
}

std::wstring responses(const std::vector<JSONFormatter>& elements)
{
    JSONFormatter reply;
    reply.setObjectArray(L"responses", elements);
    return reply.toString();
}

} // namespace

SettingsService::SettingsService(std::shared_ptr<Orvik::MessageBus> bus, std::wstring storeFile)
    : bus_(std::move(bus)), storeFile_(std::move(storeFile))
{
    load();
    listening_ = true;
    for (const wchar_t* name : kRequests) {
        if (bus_->subscribe(name, [this](const MessagePtr& request) { return answer(request); }) != 0)
            listening_ = false;
    }
}

SettingsService::~SettingsService()
{
    for (const wchar_t* name : kRequests)
        (void)bus_->unsubscribe(name);
}

void SettingsService::setBehaviour(Behaviour behaviour, std::chrono::milliseconds delay)
{
    delayMs_.store(delay.count());
    behaviour_.store(behaviour);
}

void SettingsService::put(const std::wstring& name, const std::wstring& value, bool isVolatile)
{
    const Orvik::win::ExclusiveGuard guard(lock_);
    properties_[name] = Property{value, isVolatile};
    save();
}

bool SettingsService::lookUp(const std::wstring& name, std::wstring& value) const
{
    const Orvik::win::SharedGuard guard(lock_);
    const auto found = properties_.find(name);
    if (found == properties_.end())
        return false;
    value = found->second.value;
    return true;
}

void SettingsService::change(const std::wstring& name, const std::wstring& value)
{
    put(name, value);
    announce(Change{name, value, false});
}

ModuleStatus SettingsService::answer(const MessagePtr& request)
{
    ++requests_;
    const Behaviour behaviour = behaviour_.load();
    if (behaviour == Behaviour::Silent)
        return 0;
    if (behaviour == Behaviour::Late)
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs_.load()));
    Outcome outcome = handle(request->getName(), request->getPayload());
    if (behaviour == Behaviour::Malformed)
        outcome.reply = L"{\"name\": not json";
    MessagePtr reply = Orvik::createMessage(request->getName() + L".Reply", kSender, outcome.reply);
    if (reply) {
        Orvik::copyHeader(reply, request->getHeader()); // carries the reply routing
        Orvik::setFlag(*reply->getHeader(), Orvik::kMessageFlagReply);
        (void)bus_->publish(reply);
    }
    for (const Change& change : outcome.changes)
        announce(change);
    return 0;
}

SettingsService::Outcome SettingsService::handle(const std::wstring& messageName, const std::wstring& payload)
{
    JSONFormatter request;
    if (!request.parse(payload)) {
        JSONFormatter refusal;
        refusal.setBool(L"status", false);
        return Outcome{refusal.toString(), {}};
    }
    if (messageName == kSet)
        return setOne(request);
    if (messageName == kGet)
        return getOne(request);
    if (messageName == kRemove)
        return removeOne(request);
    if (messageName == kSetSeveral)
        return setSeveral(request);
    if (messageName == kGetSeveral)
        return getSeveral(request);
    return removeSeveral(request);
}

SettingsService::Outcome SettingsService::setOne(const JSONFormatter& request)
{
    const bool refuse = behaviour_.load() == Behaviour::FalseStatus;
    std::wstring name;
    std::wstring value;
    bool isVolatile = false;
    const bool complete = request.getString(L"name", name) && request.getString(L"value", value);
    request.getBool(L"volatile", isVolatile);
    Outcome outcome;
    if (complete && !refuse) {
        put(name, value, isVolatile);
        outcome.changes.push_back(Change{name, value, false});
    }
    if (behaviour_.load() == Behaviour::WrongName)
        name += L".other";
    outcome.reply = entry(name, complete && !refuse).toString();
    return outcome;
}

SettingsService::Outcome SettingsService::getOne(const JSONFormatter& request)
{
    std::wstring name;
    request.getString(L"name", name);
    std::wstring value;
    const bool found = behaviour_.load() != Behaviour::FalseStatus && lookUp(name, value);
    JSONFormatter reply = entry(behaviour_.load() == Behaviour::WrongName ? name + L".other" : name, found);
    if (found)
        reply.setString(L"value", value);
    return Outcome{reply.toString(), {}};
}

SettingsService::Outcome SettingsService::removeOne(const JSONFormatter& request)
{
    std::wstring name;
    request.getString(L"name", name);
    bool removed = false;
    if (behaviour_.load() != Behaviour::FalseStatus) {
        const Orvik::win::ExclusiveGuard guard(lock_);
        removed = properties_.erase(name) != 0;
        if (removed)
            save();
    }
    Outcome outcome;
    if (removed)
        outcome.changes.push_back(Change{name, {}, true});
    outcome.reply = entry(behaviour_.load() == Behaviour::WrongName ? name + L".other" : name, removed).toString();
    return outcome;
}

SettingsService::Outcome SettingsService::setSeveral(const JSONFormatter& request)
{
    const bool refuse = behaviour_.load() == Behaviour::FalseStatus;
    std::vector<JSONFormatter> elements;
    request.getObjectArray(L"properties", elements);
    Outcome outcome;
    std::vector<JSONFormatter> answers;
    {
        const Orvik::win::ExclusiveGuard guard(lock_);
        for (const JSONFormatter& element : elements) {
            std::wstring name;
            std::wstring value;
            bool isVolatile = false;
            if (!element.getString(L"name", name))
                continue;
            const bool complete = element.getString(L"value", value);
            element.getBool(L"volatile", isVolatile);
            if (complete && !refuse) {
                properties_[name] = Property{value, isVolatile};
                outcome.changes.push_back(Change{name, value, false});
            }
            answers.push_back(entry(name, complete && !refuse));
        }
        save();
    }
    outcome.reply = responses(answers);
    return outcome;
}

SettingsService::Outcome SettingsService::getSeveral(const JSONFormatter& request)
{
    const bool refuse = behaviour_.load() == Behaviour::FalseStatus;
    std::vector<JSONFormatter> elements;
    request.getObjectArray(L"properties", elements);
    std::vector<JSONFormatter> answers;
    const Orvik::win::SharedGuard guard(lock_);
    for (const JSONFormatter& element : elements) {
        std::wstring name;
        bool isPrefix = false;
        if (!element.getString(L"name", name))
            continue;
        element.getBool(L"isPrefix", isPrefix);
        if (isPrefix) {
            for (auto it = properties_.lower_bound(name); it != properties_.end() && startsWith(it->first, name);
                 ++it) {
                JSONFormatter answer = entry(it->first, !refuse);
                if (!refuse)
                    answer.setString(L"value", it->second.value);
                answers.push_back(std::move(answer));
            }
            continue;
        }
        const auto found = properties_.find(name);
        const bool ok = !refuse && found != properties_.end();
        JSONFormatter answer = entry(name, ok);
        if (ok)
            answer.setString(L"value", found->second.value);
        answers.push_back(std::move(answer));
    }
    return Outcome{responses(answers), {}};
}

SettingsService::Outcome SettingsService::removeSeveral(const JSONFormatter& request)
{
    const bool refuse = behaviour_.load() == Behaviour::FalseStatus;
    std::vector<JSONFormatter> elements;
    request.getObjectArray(L"properties", elements);
    Outcome outcome;
    std::vector<JSONFormatter> answers;
    {
        const Orvik::win::ExclusiveGuard guard(lock_);
        for (const JSONFormatter& element : elements) {
            std::wstring name;
            bool isPrefix = false;
            if (!element.getString(L"name", name))
                continue;
            element.getBool(L"isPrefix", isPrefix);
            if (isPrefix) {
                auto it = properties_.lower_bound(name);
                while (it != properties_.end() && startsWith(it->first, name)) {
                    answers.push_back(entry(it->first, !refuse));
                    if (refuse) {
                        ++it;
                        continue;
                    }
                    outcome.changes.push_back(Change{it->first, {}, true});
                    it = properties_.erase(it);
                }
                continue;
            }
            const bool removed = !refuse && properties_.erase(name) != 0;
            if (removed)
                outcome.changes.push_back(Change{name, {}, true});
            answers.push_back(entry(name, removed));
        }
        save();
    }
    outcome.reply = responses(answers);
    return outcome;
}

void SettingsService::announce(const Change& change)
{
    JSONFormatter named;
    named.setString(L"name", change.name);
    if (change.removed) {
        (void)bus_->publish(Orvik::createMessage(L"SETTINGS_MANAGER_PROPERTY_REMOVED", kSender, named.toString()));
        (void)bus_->publish(
            Orvik::createMessage(L"SettingsManager.Notify.Delete." + change.name, kSender, named.toString()));
        return;
    }
    (void)bus_->publish(Orvik::createMessage(L"SETTINGS_MANAGER_PROPERTY_SET", kSender, named.toString()));
    JSONFormatter valued = named;
    valued.setString(L"value", change.value);
    (void)bus_->publish(Orvik::createMessage(L"SettingsManager.Notify.Set." + change.name, kSender, valued.toString()));
}

void SettingsService::load()
{
    if (storeFile_.empty())
        return;
    std::ifstream file(std::filesystem::path(storeFile_), std::ios::binary);
    if (!file)
        return;
    const std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    JSONFormatter store;
    std::vector<JSONFormatter> elements;
    if (!store.parse(fromUtf8(text)) || !store.getObjectArray(L"properties", elements))
        return;
    for (const JSONFormatter& element : elements) {
        std::wstring name;
        std::wstring value;
        if (element.getString(L"name", name) && element.getString(L"value", value))
            properties_[name] = Property{value, false};
    }
}

void SettingsService::save() const
{
    if (storeFile_.empty())
        return;
    std::vector<JSONFormatter> elements;
    for (const auto& [name, property] : properties_) {
        if (property.isVolatile)
            continue;
        JSONFormatter element;
        element.setString(L"name", name);
        element.setString(L"value", property.value);
        elements.push_back(std::move(element));
    }
    JSONFormatter store;
    store.setObjectArray(L"properties", elements);
    // Written aside and moved over the old file, so a crash leaves one whole store.
    const std::filesystem::path target(storeFile_);
    std::filesystem::path temporary = target;
    temporary += L".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        file << toUtf8(store.toString());
        if (!file)
            return;
    }
    ::MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING);
}

} // namespace sandbox
