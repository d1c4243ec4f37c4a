#include "json/JSONFormatter.h"

#include <cmath>

namespace Orvik {

using internal::JsonValue;
using internal::kMaxJsonElementDepth;
using internal::kMaxJsonMemberDepth;

JSONFormatter::JSONFormatter()
{
    document_.SetObject();
}

JSONFormatter::JSONFormatter(const JSONFormatter& other)
{
    assignRoot(other.document_);
}

JSONFormatter& JSONFormatter::operator=(const JSONFormatter& other)
{
    if (this != &other)
        assignRoot(other.document_);
    return *this;
}

JSONFormatter::~JSONFormatter() = default;

bool JSONFormatter::parse(const std::wstring& text)
{
    document_.SetNull();
    Value root;
    if (!internal::parseJsonValue(text.c_str(), text.size(), internal::kMaxJsonNestingDepth, allocator(),
                                  root))
        return false;
    internal::replaceRoot(document_, root);
    return document_.IsObject();
}

std::wstring JSONFormatter::toString() const
{
    return internal::writeJsonText(document_);
}

bool JSONFormatter::getString(const std::wstring& name, std::wstring& value) const
{
    const Value* member = findMember(name);
    if (!member || !member->IsString())
        return false;
    value.assign(member->GetString(), member->GetStringLength());
    return true;
}

bool JSONFormatter::getBool(const std::wstring& name, bool& value) const
{
    return internal::takeMember(findMember(name), &Value::IsBool, &Value::GetBool, value);
}

bool JSONFormatter::getInt(const std::wstring& name, std::int32_t& value) const
{
    return internal::takeMember(findMember(name), &Value::IsInt, &Value::GetInt, value);
}

bool JSONFormatter::getUInt(const std::wstring& name, std::uint32_t& value) const
{
    return internal::takeMember(findMember(name), &Value::IsUint, &Value::GetUint, value);
}

bool JSONFormatter::getInt64(const std::wstring& name, std::int64_t& value) const
{
    return internal::takeMember(findMember(name), &Value::IsInt64, &Value::GetInt64, value);
}

bool JSONFormatter::getUInt64(const std::wstring& name, std::uint64_t& value) const
{
    return internal::takeMember(findMember(name), &Value::IsUint64, &Value::GetUint64, value);
}

bool JSONFormatter::getDouble(const std::wstring& name, double& value) const
{
    return internal::takeMember(findMember(name), &Value::IsDouble, &Value::GetDouble, value);
}

bool JSONFormatter::getStringArray(const std::wstring& name, std::vector<std::wstring>& values) const
{
    if (!document_.IsObject())
        return false;
    const Value* member = findMember(name);
    if (!member)
        return true;
    if (!member->IsArray())
        return false;
    for (const Value& element : member->GetArray()) {
        if (!element.IsString())
            return false;
        values.emplace_back(element.GetString(), element.GetStringLength());
    }
    return true;
}

bool JSONFormatter::getObject(const std::wstring& name, JSONFormatter& value) const
{
    const Value* member = findMember(name);
    if (!member || !member->IsObject())
        return false;
    value.assignRoot(*member);
    return true;
}

bool JSONFormatter::getObjectArray(const std::wstring& name, std::vector<JSONFormatter>& values) const
{
    if (!document_.IsObject())
        return false;
    const Value* member = findMember(name);
    if (!member)
        return true;
    if (!member->IsArray())
        return false;
    for (const Value& element : member->GetArray()) {
        if (!element.IsObject())
            return false;
        JSONFormatter item;
        item.assignRoot(element);
        values.push_back(item);
    }
    return true;
}

void JSONFormatter::setString(const std::wstring& name, const std::wstring& value)
{
    // The full length is copied, embedded zero code units included.
    Value v(value.data(), static_cast<rapidjson::SizeType>(value.size()), allocator());
    setValue(name, v);
}

void JSONFormatter::setBool(const std::wstring& name, bool value)
{
    Value v(value);
    setValue(name, v);
}

void JSONFormatter::setInt(const std::wstring& name, std::int32_t value)
{
    Value v(value);
    setValue(name, v);
}

void JSONFormatter::setUInt(const std::wstring& name, std::uint32_t value)
{
    Value v(value);
    setValue(name, v);
}

void JSONFormatter::setInt64(const std::wstring& name, std::int64_t value)
{
    Value v(value);
    setValue(name, v);
}

void JSONFormatter::setUInt64(const std::wstring& name, std::uint64_t value)
{
    Value v(value);
    setValue(name, v);
}

bool JSONFormatter::setDouble(const std::wstring& name, double value)
{
    if (!std::isfinite(value))
        return false;
    Value v(value);
    return setValue(name, v);
}

void JSONFormatter::setStringArray(const std::wstring& name, const std::vector<std::wstring>& values)
{
    Allocator& a = allocator();
    Value array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(values.size()), a);
    for (const std::wstring& s : values)
        array.PushBack(Value(s.data(), static_cast<rapidjson::SizeType>(s.size()), a), a);
    setValue(name, array);
}

void JSONFormatter::appendString(const std::wstring& name, const std::wstring& value)
{
    Value* array = arrayMember(name);
    if (!array)
        return;
    Allocator& a = allocator();
    array->PushBack(Value(value.data(), static_cast<rapidjson::SizeType>(value.size()), a), a);
}

bool JSONFormatter::setObject(const std::wstring& name, const JSONFormatter& value)
{
    // Checked before copying, so a refused value takes nothing from the pool.
    // Copied before anything changes, so a formatter may be set into itself.
    if (!document_.IsObject() || !internal::fitsWithin(value.document_, kMaxJsonMemberDepth))
        return false;
    Value copy(value.document_, allocator());
    return setValue(name, copy);
}

bool JSONFormatter::setObjectArray(const std::wstring& name, const std::vector<JSONFormatter>& values)
{
    if (!document_.IsObject())
        return false;
    for (const JSONFormatter& f : values) {
        if (!internal::fitsWithin(f.document_, kMaxJsonElementDepth))
            return false;
    }
    Allocator& a = allocator();
    Value array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(values.size()), a);
    for (const JSONFormatter& f : values)
        array.PushBack(Value(f.document_, a), a);
    return setValue(name, array);
}

bool JSONFormatter::appendObject(const std::wstring& name, const JSONFormatter& value)
{
    if (!document_.IsObject() || !internal::fitsWithin(value.document_, kMaxJsonElementDepth))
        return false;
    Value copy(value.document_, allocator());
    Value* array = arrayMember(name);
    if (!array)
        return false;
    array->PushBack(copy, allocator());
    return true;
}

bool JSONFormatter::setMember(Value& name, Value& value)
{
    if (!document_.IsObject() || !name.IsString() || !internal::fitsWithin(value, kMaxJsonMemberDepth))
        return false;
    internal::replaceOrAddMember(document_, name, value, allocator());
    return true;
}

JSONFormatter::Allocator& JSONFormatter::allocator()
{
    return document_.GetAllocator();
}

const JsonValue* JSONFormatter::findMember(const std::wstring& name) const
{
    if (!document_.IsObject())
        return nullptr;
    auto it = internal::findMember(document_, name.data(), name.size());
    return it != document_.MemberEnd() ? &it->value : nullptr;
}

JsonValue JSONFormatter::copyName(const std::wstring& name)
{
    return Value(name.data(), static_cast<rapidjson::SizeType>(name.size()), allocator());
}

JsonValue* JSONFormatter::arrayMember(const std::wstring& name)
{
    if (!document_.IsObject())
        return nullptr;
    auto it = internal::findMember(document_, name.data(), name.size());
    if (it == document_.MemberEnd()) {
        document_.AddMember(copyName(name), Value(rapidjson::kArrayType), allocator());
        return &(document_.MemberEnd() - 1)->value;
    }
    return it->value.IsArray() ? &it->value : nullptr;
}

bool JSONFormatter::setValue(const std::wstring& name, Value& value)
{
    if (!document_.IsObject())
        return false;
    Value copiedName = copyName(name);
    return setMember(copiedName, value);
}

void JSONFormatter::assignRoot(const Value& source)
{
    Value copy(source, allocator());
    internal::replaceRoot(document_, copy);
}

} // namespace Orvik
