#include "json/JsonDocument.h"

#include <rapidjson/encodedstream.h>
#include <rapidjson/filereadstream.h>
#include <rapidjson/filewritestream.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <limits>

namespace Orvik {
namespace internal {

namespace {

using rapidjson::SizeType;

// Hands the reader's events to the document unchanged, except that opening a
// container deeper than the bound ends the parse. The reader checks the
// handler's answer before it recurses into the container, so neither its
// recursion nor the later copies and writes of the result go much deeper.
class DepthLimitedHandler {
public:
    explicit DepthLimitedHandler(JsonDocument& doc) : doc_(doc) {}

    bool Null() { return doc_.Null(); }
    bool Bool(bool b) { return doc_.Bool(b); }
    bool Int(int i) { return doc_.Int(i); }
    bool Uint(unsigned u) { return doc_.Uint(u); }
    bool Int64(int64_t i) { return doc_.Int64(i); }
    bool Uint64(uint64_t u) { return doc_.Uint64(u); }
    bool Double(double d) { return doc_.Double(d); }
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
    bool enter() { return ++depth_ <= kMaxJsonNestingDepth; }

    JsonDocument& doc_;
    unsigned depth_ = 0;
};

constexpr std::size_t kAnyEnd = std::numeric_limits<std::size_t>::max();

// The generator GenericDocument::Populate expects: the document moves the
// parsed root into place only when this returns true, so a failed parse leaves
// the previous root untouched.
template <typename InputStream>
class BoundedParse {
public:
    BoundedParse(InputStream& in, std::size_t requiredEnd) : in_(in), requiredEnd_(requiredEnd) {}

    bool operator()(JsonDocument& doc)
    {
        DepthLimitedHandler handler(doc);
        rapidjson::GenericReader<JsonEncoding, JsonEncoding, JsonHeapAllocator> reader;
        succeeded_ = !reader.Parse<rapidjson::kParseDefaultFlags>(in_, handler).IsError() &&
                     (requiredEnd_ == kAnyEnd || in_.Tell() == requiredEnd_);
        return succeeded_;
    }

    bool succeeded() const { return succeeded_; }

private:
    InputStream& in_;
    std::size_t requiredEnd_;
    bool succeeded_ = false;
};

template <typename InputStream>
bool populate(JsonDocument& doc, InputStream& in, std::size_t requiredEnd)
{
    BoundedParse<InputStream> parse(in, requiredEnd);
    doc.Populate(parse);
    return parse.succeeded();
}

} // namespace

bool parseJsonText(JsonDocument& doc, const wchar_t* text)
{
    rapidjson::GenericStringStream<JsonEncoding> in(text);
    return populate(doc, in, kAnyEnd);
}

bool parseJsonText(JsonDocument& doc, const wchar_t* text, std::size_t length)
{
    // The reader stops at the first zero code unit after the root; anything
    // past it would otherwise be ignored.
    rapidjson::GenericStringStream<JsonEncoding> in(text);
    return populate(doc, in, length);
}

bool parseJsonFile(JsonDocument& doc, std::FILE* file)
{
    char buffer[4096];
    rapidjson::FileReadStream bytes(file, buffer, sizeof buffer);
    // The stream assembles little-endian code units (dropping a leading mark);
    // the reader then sees the same UTF-16 units an in-memory text gives it.
    rapidjson::EncodedInputStream<rapidjson::UTF16LE<wchar_t>, rapidjson::FileReadStream> in(bytes);
    return populate(doc, in, kAnyEnd);
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
    auto existing = object.FindMember(name);
    if (existing != object.MemberEnd())
        object.RemoveMember(existing); // the last member takes the removed one's place
    object.AddMember(name, value, allocator);
}

} // namespace internal
} // namespace Orvik
