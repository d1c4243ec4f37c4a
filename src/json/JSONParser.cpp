#include "json/JSONParser.h"

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
