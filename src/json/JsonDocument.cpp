#include "json/JsonDocument.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <charconv>
#include <cmath>
#include <cwchar>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace Orvik {
namespace internal {

JsonHeapAllocator* sharedHeapAllocator()
{
    static JsonHeapAllocator allocator;
    return &allocator;
}

namespace {

using rapidjson::SizeType;
using TextStream = rapidjson::GenericStringStream<JsonEncoding>;
// Working memory of one parse: the reader's string stack and the value stack
// of the document being built.
using ScratchPool = rapidjson::MemoryPoolAllocator<JsonHeapAllocator>;
using ParseDocument = rapidjson::GenericDocument<JsonEncoding, JsonAllocator, ScratchPool>;
using Reader = rapidjson::GenericReader<JsonEncoding, JsonEncoding, ScratchPool>;

// Enough for both stacks of a typical payload, so that parsing one takes
// nothing from the heap; bigger texts add heap chunks that go with the parse.
constexpr std::size_t kScratchBytes = 2048;
constexpr std::size_t kValueStackBytes = 1024;
constexpr std::size_t kStringStackBytes = 512;
constexpr std::size_t kScratchChunkBytes = 16 * 1024;

class ScratchSpace {
public:
    ScratchSpace() : pool_(buffer_, sizeof buffer_, kScratchChunkBytes, sharedHeapAllocator()) {}
    ScratchSpace(const ScratchSpace&) = delete;
    ScratchSpace& operator=(const ScratchSpace&) = delete;

    ScratchPool& pool() { return pool_; }

private:
    alignas(8) unsigned char buffer_[kScratchBytes];
    ScratchPool pool_;
};

bool isDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

// The characters a JSON number is made of; none of them may follow one.
bool isNumberChar(wchar_t c)
{
    return isDigit(c) || c == L'-' || c == L'+' || c == L'.' || c == L'e' || c == L'E';
}

// The value of the floating number whose text starts at `number`, correctly
// rounded. RapidJSON's default conversion can be off by several units in the
// last place, which makes every round trip drift, and its full-precision mode
// is unsafe in the version we build with: it turns numbers beyond the double
// range into arbitrary finite values or NaN, and reads out of bounds on
// numbers with hundreds of leading fraction zeros (0.000...1). A number
// beyond the double range is refused; one too small for it becomes a zero of
// its sign. RapidJSON's own value (approx) is never off by orders of
// magnitude, so it tells those two apart.
bool exactValue(const wchar_t* number, double approx, double& value)
{
    if (*number != L'-' && !isDigit(*number))
        return false; // not where the number is: refuse rather than guess
    std::size_t length = 0;
    while (isNumberChar(number[length]))
        ++length;
    char shortText[64];
    std::string longText;
    char* narrow = shortText;
    if (length > sizeof shortText) {
        longText.resize(length);
        narrow = &longText[0];
    }
    for (std::size_t i = 0; i < length; ++i)
        narrow[i] = static_cast<char>(number[i]);
    const std::from_chars_result result = std::from_chars(narrow, narrow + length, value);
    if (result.ptr != narrow + length)
        return false;
    if (result.ec == std::errc())
        return true;
    if (result.ec != std::errc::result_out_of_range || !(std::fabs(approx) < 1.0))
        return false;
    value = *number == L'-' ? -0.0 : 0.0;
    return true;
}

// Hands the reader's events to the document being built, except that opening
// a container deeper than the bound ends the parse, and floating numbers are
// read again from the text. The reader checks the handler's answer before it
// recurses into a container, so neither its recursion nor the later copies
// and writes of the result go much deeper than the bound.
class ValueBuilder {
public:
    ValueBuilder(ParseDocument& doc, const wchar_t* text, const TextStream& in, unsigned maxDepth)
        : doc_(doc), text_(text), in_(in), maxDepth_(maxDepth)
    {
    }

    bool Null() { return doc_.Null(); }
    bool Bool(bool b) { return doc_.Bool(b); }
    bool Int(int i) { return doc_.Int(i); }
    bool Uint(unsigned u) { return doc_.Uint(u); }
    bool Int64(int64_t i) { return doc_.Int64(i); }
    bool Uint64(uint64_t u) { return doc_.Uint64(u); }
    bool Double(double approx)
    {
        // The reader reads a number on a copy of the stream and hands the
        // copy back only after this event: the stream is still at the number.
        double value;
        return exactValue(text_ + in_.Tell(), approx, value) && doc_.Double(value);
    }
    bool RawNumber(const wchar_t* s, SizeType n, bool copy) { return doc_.RawNumber(s, n, copy); }
    bool String(const wchar_t* s, SizeType n, bool copy) { return doc_.String(s, n, copy); }
    bool Key(const wchar_t* s, SizeType n, bool copy) { return doc_.Key(s, n, copy); }

    bool StartObject() { return enter() && doc_.StartObject(); }
    bool EndObject(SizeType members)
    {
        --depth_;
        return doc_.EndObject(members);
    }
    bool StartArray() { return enter() && doc_.StartArray(); }
    bool EndArray(SizeType elements)
    {
        --depth_;
        return doc_.EndArray(elements);
    }

private:
    bool enter() { return ++depth_ <= maxDepth_; }

    ParseDocument& doc_;
    const wchar_t* text_;
    const TextStream& in_;
    unsigned maxDepth_;
    unsigned depth_ = 0;
};

// One pass of the reader over text. The value is built in pool; the stacks
// come from scratch memory that goes when the pass ends.
rapidjson::ParseResult parseOnce(const wchar_t* text, std::size_t length, unsigned maxDepth,
                                 JsonAllocator& pool, JsonValue& root)
{
    ScratchSpace scratch;
    ParseDocument doc(&pool, kValueStackBytes, &scratch.pool());
    TextStream in(text);
    rapidjson::ParseResult result;
    auto generate = [&](ParseDocument& target) {
        ValueBuilder builder(target, text, in, maxDepth);
        Reader reader(&scratch.pool(), kStringStackBytes);
        result = reader.Parse<rapidjson::kParseDefaultFlags>(in, builder);
        // The reader stops at the first zero code unit after the root.
        if (!result.IsError() && length != kJsonTextToTerminator && in.Tell() != length)
            result.Set(rapidjson::kParseErrorDocumentRootNotSingular, in.Tell());
        return !result.IsError();
    };
    // The document takes the parsed value only when generate returns true.
    doc.Populate(generate);
    if (!result.IsError())
        root = static_cast<JsonValue&>(doc);
    return result;
}

// Where the exponent digits start when the number at `number` has only zero
// digits before its exponent (0e400, -0.00E+999); null otherwise.
const wchar_t* exponentOfZero(const wchar_t* number)
{
    const wchar_t* p = number;
    if (*p == L'-')
        ++p;
    if (*p++ != L'0')
        return nullptr;
    if (*p == L'.') {
        if (*++p != L'0')
            return nullptr;
        while (*p == L'0')
            ++p;
    }
    if (*p != L'e' && *p != L'E')
        return nullptr;
    ++p;
    if (*p == L'+' || *p == L'-')
        ++p;
    return isDigit(*p) ? p : nullptr;
}

// Writes zeros over the exponent digits of every zero with an exponent from
// `from` on (which must be outside any string). The reader refuses an
// exponent beyond the double range even on a zero, whose value it does not
// change. The text keeps its length, so offsets and the end check hold.
void flattenZeroExponents(std::wstring& text, std::size_t from)
{
    const std::size_t size = text.size();
    std::size_t i = from;
    while (i < size) {
        if (text[i] == L'"') {
            for (++i; i < size && text[i] != L'"'; ++i) {
                if (text[i] == L'\\')
                    ++i;
            }
            ++i;
        } else if (isNumberChar(text[i])) {
            std::size_t end = i;
            while (end < size && isNumberChar(text[end]))
                ++end;
            if (const wchar_t* digits = exponentOfZero(&text[i])) {
                std::size_t d = static_cast<std::size_t>(digits - text.data());
                for (; d < end && isDigit(text[d]); ++d)
                    text[d] = L'0';
            }
            i = end;
        } else {
            ++i;
        }
    }
}

using Member = JsonValue::Member;

std::wstring_view nameOf(const Member& member)
{
    return std::wstring_view(member.name.GetString(), member.name.GetStringLength());
}

} // namespace

bool parseJsonValue(const wchar_t* text, std::size_t length, unsigned maxDepth, JsonAllocator& pool,
                    JsonValue& root)
{
    const rapidjson::ParseResult result = parseOnce(text, length, maxDepth, pool, root);
    if (!result.IsError())
        return true;
    // Rare: a zero with a huge exponent. Read again with its exponent flattened.
    if (result.Code() != rapidjson::kParseErrorNumberTooBig || !exponentOfZero(text + result.Offset()))
        return false;
    std::wstring flattened(text, length == kJsonTextToTerminator ? std::wcslen(text) : length);
    flattenZeroExponents(flattened, result.Offset());
    return !parseOnce(flattened.c_str(), length, maxDepth, pool, root).IsError();
}

std::wstring readJsonFile(std::FILE* file)
{
    std::wstring text;
    unsigned char bytes[4096];
    int low = -1; // a byte still waiting for its high partner
    std::size_t got;
    while ((got = std::fread(bytes, 1, sizeof bytes, file)) > 0) {
        for (std::size_t i = 0; i < got; ++i) {
            if (low < 0) {
                low = bytes[i];
            } else {
                text.push_back(static_cast<wchar_t>(low | bytes[i] << 8));
                low = -1;
            }
        }
    }
    // A lone last byte reads with a zero high byte, as a byte stream gives
    // zeros past its end.
    if (low >= 0)
        text.push_back(static_cast<wchar_t>(low));
    if (!text.empty() && text[0] == 0xFEFF)
        text.erase(0, 1);
    return text;
}

std::wstring writeJsonText(const JsonValue& value)
{
    using Buffer = rapidjson::GenericStringBuffer<JsonEncoding, JsonHeapAllocator>;
    Buffer buffer;
    rapidjson::Writer<Buffer, JsonEncoding, JsonEncoding, JsonHeapAllocator> writer(buffer);
    value.Accept(writer);
    const wchar_t* text = buffer.GetString();
    return std::wstring(text, buffer.GetSize() / sizeof(wchar_t));
}

void writeJsonFile(const JsonValue& value, std::FILE* file)
{
    using Utf16LeOut = rapidjson::EncodedOutputStream<rapidjson::UTF16LE<wchar_t>,
                                                      rapidjson::FileWriteStream>;
    char buffer[4096];
    rapidjson::FileWriteStream bytes(file, buffer, sizeof buffer);
    Utf16LeOut out(bytes, true);
    // The writer emits the same code units as writeJsonText; the stream only
    // lays them out as little-endian bytes, so no string is re-decoded here.
    // The writer flushes the stream when the root value is complete.
    rapidjson::Writer<Utf16LeOut, JsonEncoding, JsonEncoding, JsonHeapAllocator> writer(out);
    value.Accept(writer);
}

std::wstring writeJsonObjectSetInTurn(const JsonValue& object)
{
    // Replays replace-or-add on member pointers; the names index keeps each
    // step constant time, so a wide object costs no more than a narrow one
    // per member.
    std::vector<const Member*> members;
    members.reserve(object.MemberCount());
    std::unordered_map<std::wstring_view, std::size_t> slotOf;
    slotOf.reserve(object.MemberCount());
    for (const Member& member : object.GetObject()) {
        auto found = slotOf.find(nameOf(member));
        if (found != slotOf.end()) {
            const std::size_t slot = found->second;
            members[slot] = members.back();
            slotOf[nameOf(*members[slot])] = slot;
            members.pop_back();
        }
        slotOf[nameOf(member)] = members.size();
        members.push_back(&member);
    }

    using Buffer = rapidjson::GenericStringBuffer<JsonEncoding, JsonHeapAllocator>;
    Buffer buffer;
    rapidjson::Writer<Buffer, JsonEncoding, JsonEncoding, JsonHeapAllocator> writer(buffer);
    writer.StartObject();
    for (const Member* member : members) {
        writer.Key(member->name.GetString(), member->name.GetStringLength());
        member->value.Accept(writer);
    }
    writer.EndObject(static_cast<SizeType>(members.size()));
    return std::wstring(buffer.GetString(), buffer.GetSize() / sizeof(wchar_t));
}

bool fitsWithin(const JsonValue& value, unsigned levels)
{
    if (value.IsDouble())
        return std::isfinite(value.GetDouble());
    if (value.IsArray()) {
        if (levels == 0)
            return false;
        for (const JsonValue& element : value.GetArray()) {
            if (!fitsWithin(element, levels - 1))
                return false;
        }
    } else if (value.IsObject()) {
        if (levels == 0)
            return false;
        for (const Member& member : value.GetObject()) {
            if (!fitsWithin(member.value, levels - 1))
                return false;
        }
    }
    return true;
}

JsonValue::MemberIterator findMember(JsonValue& object, const wchar_t* name, std::size_t length)
{
    return object.FindMember(JsonValue(rapidjson::StringRef(name, length)));
}

JsonValue::ConstMemberIterator findMember(const JsonValue& object, const wchar_t* name,
                                          std::size_t length)
{
    return object.FindMember(JsonValue(rapidjson::StringRef(name, length)));
}

void replaceOrAddMember(JsonValue& object, JsonValue& name, JsonValue& value,
                        JsonAllocator& allocator)
{
    // A parsed object may repeat a name, and a get reads the first member of
    // it. Every member of the name goes, so the one appended is what the next
    // get reads and the only value the written text holds for the name.
    auto member = findMember(object, name.GetString(), name.GetStringLength());
    while (member != object.MemberEnd()) {
        if (member->name == name)
            member = object.RemoveMember(member); // the last member takes its place
        else
            ++member;
    }
    object.AddMember(name, value, allocator);
}

} // namespace internal
} // namespace Orvik
