#include "json/JSONParser.h"

#include <cmath>

namespace Orvik {

using internal::JsonAllocator;
using internal::JsonValue;

void JSONParser::setBool(const std::wstring& name, bool value)
{
    setBool(name.c_str(), value);
}

void JSONParser::setBool(const wchar_t* name, bool value)
{
    JsonValue v(value);
    setMember(name, v);
}

void JSONParser::setString(const std::wstring& name, const std::wstring& value)
{
    setString(name.c_str(), value.c_str());
}

void JSONParser::setString(const std::wstring& name, const wchar_t* value)
{
    setString(name.c_str(), value);
}

void JSONParser::setString(const wchar_t* name, const std::wstring& value)
{
    setString(name, value.c_str());
}

void JSONParser::setString(const wchar_t* name, const wchar_t* value)
{
    if (!name || !value)
        return;
    JsonValue v(value, allocator());
    setMember(name, v);
}

void JSONParser::setInt(const std::wstring& name, std::int32_t value)
{
    setInt(name.c_str(), value);
}

void JSONParser::setInt(const wchar_t* name, std::int32_t value)
{
    JsonValue v(value);
    setMember(name, v);
}

void JSONParser::setInt64(const std::wstring& name, std::int64_t value)
{
    setInt64(name.c_str(), value);
}

void JSONParser::setInt64(const wchar_t* name, std::int64_t value)
{
    JsonValue v(value);
    setMember(name, v);
}

void JSONParser::setUInt(const std::wstring& name, std::uint32_t value)
{
    setUInt(name.c_str(), value);
}

void JSONParser::setUInt(const wchar_t* name, std::uint32_t value)
{
    JsonValue v(value);
    setMember(name, v);
}

void JSONParser::setUInt64(const std::wstring& name, std::uint64_t value)
{
    setUInt64(name.c_str(), value);
}

void JSONParser::setUInt64(const wchar_t* name, std::uint64_t value)
{
    JsonValue v(value);
    setMember(name, v);
}

bool JSONParser::setDouble(const std::wstring& name, double value)
{
    return setDouble(name.c_str(), value);
}

bool JSONParser::setDouble(const wchar_t* name, double value)
{
    if (!name || !std::isfinite(value))
        return false;
    JsonValue v(value);
    setMember(name, v);
    return true;
}

void JSONParser::setStringArray(const std::wstring& name, const std::vector<std::wstring>& values)
{
    setStringArray(name.c_str(), values);
}

void JSONParser::setStringArray(const wchar_t* name, const std::vector<std::wstring>& values)
{
    if (!name)
        return;
    JsonAllocator& a = allocator();
    JsonValue array(rapidjson::kArrayType);
    array.Reserve(static_cast<rapidjson::SizeType>(values.size()), a);
    for (const std::wstring& s : values)
        array.PushBack(JsonValue(s.data(), static_cast<rapidjson::SizeType>(s.size()), a), a);
    setMember(name, array);
}

void JSONParser::setStringArray(const wchar_t* name, const std::vector<const wchar_t*>& values)
{
    if (!name)
        return;
    JsonAllocator& a = allocator();
    JsonValue array(rapidjson::kArrayType);
    for (const wchar_t* s : values) {
        if (s)
            array.PushBack(JsonValue(s, a), a);
    }
    setMember(name, array);
}

void JSONParser::appendString(const std::wstring& name, const std::wstring& text,
                              const std::wstring& fieldName)
{
    appendString(name.c_str(), text.c_str(), fieldName.c_str());
}

void JSONParser::appendString(const wchar_t* name, const wchar_t* text, const wchar_t* fieldName)
{
    if (!name || !text)
        return;
    JsonValue* array = arrayMember(name);
    if (!array)
        return;
    JsonAllocator& a = allocator();
    if (fieldName && *fieldName) {
        JsonValue element(rapidjson::kObjectType);
        element.AddMember(JsonValue(fieldName, a), JsonValue(text, a), a);
        array->PushBack(element, a);
    } else {
        array->PushBack(JsonValue(text, a), a);
    }
}

bool JSONParser::setJson(const wchar_t* name, const wchar_t* json)
{
    // Parsed straight into this document's pool, so the value moves in uncopied.
    JsonValue value;
    if (!name || !json ||
        !internal::parseJsonValue(json, internal::kJsonTextToTerminator, internal::kMaxJsonMemberDepth,
                                  allocator(), value))
        return false;
    setMember(name, value);
    return true;
}

bool JSONParser::appendJson(const wchar_t* name, const wchar_t* json)
{
    JsonValue value;
    if (!name || !json ||
        !internal::parseJsonValue(json, internal::kJsonTextToTerminator, internal::kMaxJsonElementDepth,
                                  allocator(), value))
        return false;
    JsonValue* array = arrayMember(name);
    if (!array)
        return false;
    array->PushBack(value, allocator());
    return true;
}

} // namespace Orvik
