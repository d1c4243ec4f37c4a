#include "json/JSONParser.h"

#include <cmath>
#include <cstddef>
#include <cwchar>

namespace Orvik {

using internal::JsonAllocator;
using internal::JsonDocument;
using internal::JsonValue;

namespace {

// A parser's document with the first chunk of its pool next to it.
struct DocumentStorage {
    static constexpr std::size_t kFirstChunkBytes = 1024;

    DocumentStorage()
        : pool(firstChunk, sizeof firstChunk, internal::kJsonPoolChunkBytes,
               internal::sharedHeapAllocator()),
          document(&pool)
    {
    }

    alignas(8) unsigned char firstChunk[kFirstChunkBytes];
    JsonAllocator pool;
    JsonDocument document;
};

std::shared_ptr<JsonDocument> makeDocument()
{
    auto storage = std::make_shared<DocumentStorage>();
    return std::shared_ptr<JsonDocument>(storage, &storage->document);
}

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

JSONParser::JSONParser() : document_(makeDocument()) {}

JSONParser::~JSONParser() = default;

bool JSONParser::parse(const std::wstring& text)
{
    return parse(text.c_str());
}

bool JSONParser::parse(const wchar_t* text)
{
    return text && parseRoot(text);
}

bool JSONParser::parseFile(std::FILE* file)
{
    return file && parseRoot(internal::readJsonFile(file).c_str());
}

std::wstring JSONParser::toString() const
{
    return internal::writeJsonText(*document_);
}

void JSONParser::writeFile(std::FILE* file) const
{
    if (file)
        internal::writeJsonFile(*document_, file);
}

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

void JSONParser::clear()
{
    if (document_->IsObject())
        document_->RemoveAllMembers();
}

bool JSONParser::isEmpty() const
{
    return !document_->IsObject() || document_->MemberCount() == 0;
}

bool JSONParser::parseRoot(const wchar_t* text)
{
    document_->SetNull();
    JsonValue root;
    if (!internal::parseJsonValue(text, internal::kJsonTextToTerminator, internal::kMaxJsonNestingDepth,
                                  allocator(), root))
        return false;
    internal::replaceRoot(*document_, root);
    return true;
}

const JsonValue* JSONParser::findMember(const wchar_t* name) const
{
    const JsonValue& root = *document_;
    if (!name || !root.IsObject())
        return nullptr;
    auto it = internal::findMember(root, name, std::wcslen(name));
    return it != root.MemberEnd() ? &it->value : nullptr;
}

JsonValue& JSONParser::objectRoot()
{
    if (!document_->IsObject())
        document_->SetObject();
    return *document_;
}

void JSONParser::setMember(const wchar_t* name, JsonValue& value)
{
    if (!name)
        return;
    JsonValue copiedName(name, allocator());
    internal::replaceOrAddMember(objectRoot(), copiedName, value, allocator());
}

JsonValue* JSONParser::arrayMember(const wchar_t* name)
{
    JsonValue& root = objectRoot();
    auto it = internal::findMember(root, name, std::wcslen(name));
    if (it == root.MemberEnd()) {
        root.AddMember(JsonValue(name, allocator()), JsonValue(rapidjson::kArrayType), allocator());
        return &(root.MemberEnd() - 1)->value;
    }
    return it->value.IsArray() ? &it->value : nullptr;
}

JsonAllocator& JSONParser::allocator()
{
    return document_->GetAllocator();
}

} // namespace Orvik
