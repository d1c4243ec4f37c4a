#pragma once
// The UTF-16 RapidJSON document the two JSON object classes are built on, and
// the parsing, writing and member steps they share.

#include <rapidjson/document.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>

namespace Orvik {
namespace internal {

// RapidJSON's C runtime allocator, except that running out of memory throws
// std::bad_alloc: RapidJSON itself does not check for a null block and would
// write through it.
class JsonHeapAllocator {
public:
    static const bool kNeedFree = true;

    void* Malloc(std::size_t size)
    {
        if (size == 0)
            return nullptr;
        void* block = std::malloc(size);
        if (!block)
            throw std::bad_alloc();
        return block;
    }

    void* Realloc(void* original, std::size_t /*originalSize*/, std::size_t newSize)
    {
        if (newSize == 0) {
            std::free(original);
            return nullptr;
        }
        void* block = std::realloc(original, newSize);
        if (!block)
            throw std::bad_alloc();
        return block;
    }

    static void Free(void* block) { std::free(block); }
};

using JsonEncoding = rapidjson::UTF16<wchar_t>;
// Every value of a document lives in the document's memory pool; the parse
// stacks come from the heap directly.
using JsonDocument = rapidjson::GenericDocument<
    JsonEncoding, rapidjson::MemoryPoolAllocator<JsonHeapAllocator>, JsonHeapAllocator>;
using JsonValue = JsonDocument::ValueType;
using JsonAllocator = JsonDocument::AllocatorType;

// Payloads come from any peer on the bus and are parsed on a bus delivery
// thread. RapidJSON's parser, deep copy and writer recurse once per nesting
// level, so a document nested deeper than this is refused as malformed before
// it can exhaust that thread's stack. Real payloads nest a handful of levels.
constexpr unsigned kMaxJsonNestingDepth = 256;

// Parses zero-terminated text with RapidJSON's default flags. On success the
// parsed value becomes the root of doc; on failure (including nesting deeper
// than kMaxJsonNestingDepth) doc is left as it was.
bool parseJsonText(JsonDocument& doc, const wchar_t* text);

// As above, but the text is exactly `length` code units: a zero code unit
// before the end counts as a character after the root value.
bool parseJsonText(JsonDocument& doc, const wchar_t* text, std::size_t length);

// Reads UTF-16 little-endian bytes from the stream's current position, skipping
// a leading FF FE byte-order mark, and parses them like parseJsonText.
bool parseJsonFile(JsonDocument& doc, std::FILE* file);

// Compact JSON text of value.
std::wstring writeJsonText(const JsonValue& value);

// FF FE, then the compact JSON text of value as UTF-16 little-endian bytes.
void writeJsonFile(const JsonValue& value, std::FILE* file);

// Member lookup by exact code units; MemberEnd() when absent. object must be an object.
// Stores a member's value when `isKind` accepts it; false for a missing member.
template <typename T>
bool takeMember(const JsonValue* member, bool (JsonValue::*isKind)() const, T (JsonValue::*get)() const,
                T& value)
{
    if (member == nullptr || !(member->*isKind)())
        return false;
    value = (member->*get)();
    return true;
}

JsonValue::MemberIterator findMember(JsonValue& object, const wchar_t* name, std::size_t length);
JsonValue::ConstMemberIterator findMember(const JsonValue& object, const wchar_t* name,
                                          std::size_t length);

// Removes the member called `name` if present (the last member moves into its
// place) and appends name/value at the end. Both values are moved in and must
// belong to the allocator of object's document.
void replaceOrAddMember(JsonValue& object, JsonValue& name, JsonValue& value,
                        JsonAllocator& allocator);

// Replaces the root of doc with value (moved in; must use doc's allocator).
inline void replaceRoot(JsonDocument& doc, JsonValue& value)
{
    static_cast<JsonValue&>(doc) = value;
}

} // namespace internal
} // namespace Orvik
