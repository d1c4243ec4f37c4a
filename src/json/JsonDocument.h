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

// The one instance handed to pools and stacks that would otherwise allocate
// an allocator object of their own; it has no state.
JsonHeapAllocator* sharedHeapAllocator();

using JsonEncoding = rapidjson::UTF16<wchar_t>;
// Every value of a document lives in the document's memory pool. (Parsing
// never uses the document's own stack; see parseJsonValue.)
using JsonDocument = rapidjson::GenericDocument<
    JsonEncoding, rapidjson::MemoryPoolAllocator<JsonHeapAllocator>, JsonHeapAllocator>;
using JsonValue = JsonDocument::ValueType;
using JsonAllocator = JsonDocument::AllocatorType;

// Size of each pool chunk taken from the heap (RapidJSON's own default).
constexpr std::size_t kJsonPoolChunkBytes = 64 * 1024;

// Payloads come from any peer on the bus and are parsed on a bus delivery
// thread. RapidJSON's parser, deep copy and writer recurse once per nesting
// level, so a document nested deeper than this is refused as malformed before
// it can exhaust that thread's stack. Real payloads nest a handful of levels.
constexpr unsigned kMaxJsonNestingDepth = 256;
// What is left for the value of a member of an object root, and for an
// element of an array member: placing anything deeper would make a document
// that does not parse again.
constexpr unsigned kMaxJsonMemberDepth = kMaxJsonNestingDepth - 1;
constexpr unsigned kMaxJsonElementDepth = kMaxJsonNestingDepth - 2;

// Length of a text that ends at its first zero code unit.
constexpr std::size_t kJsonTextToTerminator = static_cast<std::size_t>(-1);

// Parses text with RapidJSON's default flags into a value whose memory comes
// from pool, and on success moves it into root (else root is left alone).
// With a length, every one of those code units must belong to the JSON text
// (a zero code unit before the end counts as a character after the root);
// with kJsonTextToTerminator the text ends at its first zero. Either way the
// text must be zero-terminated. A text fails when it nests more than
// maxDepth containers or holds a number beyond the double range; floating
// numbers are correctly rounded, and a zero keeps its value whatever its
// exponent (0e400).
bool parseJsonValue(const wchar_t* text, std::size_t length, unsigned maxDepth, JsonAllocator& pool,
                    JsonValue& root);

// All UTF-16 little-endian code units from the stream's current position to
// its end, without a leading FF FE byte-order mark.
std::wstring readJsonFile(std::FILE* file);

// Compact JSON text of value.
std::wstring writeJsonText(const JsonValue& value);

// FF FE, then the compact JSON text of value as UTF-16 little-endian bytes.
void writeJsonFile(const JsonValue& value, std::FILE* file);

// Compact JSON text of the object that setting the members of object in turn,
// each by replace-or-add, would build: a repeated name keeps its last value
// and moves to the end, the member that was last taking its old place.
std::wstring writeJsonObjectSetInTurn(const JsonValue& object);

// True when value nests at most `levels` containers (a scalar needs none) and
// holds finite numbers only: what a document can take and write back out.
bool fitsWithin(const JsonValue& value, unsigned levels);

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

// Member lookup by exact code units: the first member of the name, or
// MemberEnd() when absent. object must be an object. Every get, set and append
// finds its member through this.
JsonValue::MemberIterator findMember(JsonValue& object, const wchar_t* name, std::size_t length);
JsonValue::ConstMemberIterator findMember(const JsonValue& object, const wchar_t* name,
                                          std::size_t length);

// Removes every member called `name` (for each, the last member moves into
// its place) and appends name/value at the end. Both values are moved in and must
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
