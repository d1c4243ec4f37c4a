#include "json/JSONParser.h"

#include <cwchar>

namespace Orvik {

using internal::JsonValue;

namespace {

// Reads the elements of an array member into values, each through take. With
// a non-empty field name each element must be an object and take reads its
// member of that name. Stops at the first element that does not qualify.
template <typename T, typename Take>
bool readArray(const JsonValue* member, std::vector<T>& values, const wchar_t* fieldName, Take take)
{
    if (!member || !member->IsArray())
        return false;
    const bool byField = fieldName && *fieldName;
    for (const JsonValue& element : member->GetArray()) {
        const JsonValue* source = &element;
        if (byField) {
            if (!element.IsObject())
                return false;
            auto field = internal::findMember(element, fieldName, std::wcslen(fieldName));
            if (field == element.MemberEnd())
                return false;
            source = &field->value;
        }
        T value{};
        if (!take(*source, value))
            return false;
        values.push_back(std::move(value));
    }
    return true;
}

bool takeString(const JsonValue& v, std::wstring& out)
{
    if (!v.IsString())
        return false;
    out.assign(v.GetString(), v.GetStringLength());
    return true;
}

bool takeInt(const JsonValue& v, std::int32_t& out)
{
    if (!v.IsInt())
        return false;
    out = v.GetInt();
    return true;
}

} // namespace

bool JSONParser::getBool(const std::wstring& name, bool& value) const
{
    return getBool(name.c_str(), value);
}

bool JSONParser::getBool(const wchar_t* name, bool& value) const
{
    return internal::takeMember(findMember(name), &JsonValue::IsBool, &JsonValue::GetBool, value);
}

bool JSONParser::getString(const std::wstring& name, std::wstring& value) const
{
    return getString(name.c_str(), value);
}

bool JSONParser::getString(const wchar_t* name, std::wstring& value) const
{
    const JsonValue* member = findMember(name);
    return member && takeString(*member, value);
}

bool JSONParser::getInt(const std::wstring& name, std::int32_t& value) const
{
    return getInt(name.c_str(), value);
}

bool JSONParser::getInt(const wchar_t* name, std::int32_t& value) const
{
    const JsonValue* member = findMember(name);
    return member && takeInt(*member, value);
}

bool JSONParser::getInt64(const std::wstring& name, std::int64_t& value) const
{
    return getInt64(name.c_str(), value);
}

bool JSONParser::getInt64(const wchar_t* name, std::int64_t& value) const
{
    return internal::takeMember(findMember(name), &JsonValue::IsInt64, &JsonValue::GetInt64, value);
}

bool JSONParser::getUInt(const std::wstring& name, std::uint32_t& value) const
{
    return getUInt(name.c_str(), value);
}

bool JSONParser::getUInt(const wchar_t* name, std::uint32_t& value) const
{
    return internal::takeMember(findMember(name), &JsonValue::IsUint, &JsonValue::GetUint, value);
}

bool JSONParser::getUInt64(const std::wstring& name, std::uint64_t& value) const
{
    return getUInt64(name.c_str(), value);
}

bool JSONParser::getUInt64(const wchar_t* name, std::uint64_t& value) const
{
    return internal::takeMember(findMember(name), &JsonValue::IsUint64, &JsonValue::GetUint64, value);
}

bool JSONParser::getDouble(const std::wstring& name, double& value) const
{
    return getDouble(name.c_str(), value);
}

bool JSONParser::getDouble(const wchar_t* name, double& value) const
{
    return internal::takeMember(findMember(name), &JsonValue::IsDouble, &JsonValue::GetDouble, value);
}

bool JSONParser::getStringArray(const std::wstring& name, std::vector<std::wstring>& values,
                                const std::wstring& fieldName) const
{
    return getStringArray(name.c_str(), values, fieldName.c_str());
}

bool JSONParser::getStringArray(const wchar_t* name, std::vector<std::wstring>& values,
                                const wchar_t* fieldName) const
{
    return readArray(findMember(name), values, fieldName, takeString);
}

bool JSONParser::getObjectArray(const std::wstring& name, std::vector<std::wstring>& values) const
{
    return getObjectArray(name.c_str(), values);
}

bool JSONParser::getObjectArray(const wchar_t* name, std::vector<std::wstring>& values) const
{
    const JsonValue* member = findMember(name);
    if (!member || !member->IsArray())
        return false;
    // Each element reads as if its members were set in turn on a fresh
    // parser, so a repeated name keeps only its last value.
    for (const JsonValue& element : member->GetArray()) {
        if (!element.IsObject())
            return false;
        values.push_back(internal::writeJsonObjectSetInTurn(element));
    }
    return true;
}

bool JSONParser::getIntArray(const std::wstring& name, std::vector<std::int32_t>& values,
                             const std::wstring& fieldName) const
{
    return getIntArray(name.c_str(), values, fieldName.c_str());
}

bool JSONParser::getIntArray(const wchar_t* name, std::vector<std::int32_t>& values,
                             const wchar_t* fieldName) const
{
    return readArray(findMember(name), values, fieldName, takeInt);
}

bool JSONParser::getValueText(const std::wstring& name, std::wstring& value) const
{
    return getValueText(name.c_str(), value);
}

bool JSONParser::getValueText(const wchar_t* name, std::wstring& value) const
{
    const JsonValue* member = findMember(name);
    if (!member)
        return false;
    if (member->IsString())
        value.assign(member->GetString(), member->GetStringLength());
    else if (member->IsNull())
        value.clear();
    else
        value = internal::writeJsonText(*member);
    return true;
}

} // namespace Orvik
