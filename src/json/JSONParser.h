#pragma once
// A read-write JSON object for update payloads: parse text or a file, read
// typed members by name, build members with replace-or-add setters, and turn
// the result back into compact text.
//
// Most operations come in pairs: the wide-string form forwards the strings'
// character pointers to the pointer form, which does the work and treats a
// null name as "do nothing" (getters return false). Getters write their
// out-parameter only on success; array getters append to the caller's list
// and keep what they appended when they stop at a bad element.
//
// The root of a new parser is null. Setters turn a root that is not an object
// into an empty object first; getters on such a root find nothing. A document
// nested deeper than internal::kMaxJsonNestingDepth, or holding a number
// beyond the double range, does not parse, and no setter builds one.
// Not thread-safe: one thread uses a parser at a time.

#include "json/JsonDocument.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace Orvik {

class JSONParser {
public:
    JSONParser();
    JSONParser(const JSONParser&) = delete;
    JSONParser& operator=(const JSONParser&) = delete;
    virtual ~JSONParser();

    // True when the text parsed, whatever the kind of its root; on failure the
    // root is null. A null text returns false and changes nothing.
    virtual bool parse(const std::wstring& text);
    virtual bool parse(const wchar_t* text);
    // Reads UTF-16 little-endian text from an open stream, with or without a
    // leading FF FE mark. The stream is neither opened nor closed here.
    virtual bool parseFile(std::FILE* file);
    // Compact JSON text; "null" for a new parser.
    virtual std::wstring toString() const;
    // Writes FF FE and the compact JSON text as UTF-16 little-endian.
    virtual void writeFile(std::FILE* file) const;

    virtual bool getBool(const std::wstring& name, bool& value) const;
    virtual bool getBool(const wchar_t* name, bool& value) const;
    virtual bool getString(const std::wstring& name, std::wstring& value) const;
    virtual bool getString(const wchar_t* name, std::wstring& value) const;
    virtual bool getInt(const std::wstring& name, std::int32_t& value) const;
    virtual bool getInt(const wchar_t* name, std::int32_t& value) const;
    virtual bool getInt64(const std::wstring& name, std::int64_t& value) const;
    virtual bool getInt64(const wchar_t* name, std::int64_t& value) const;
    virtual bool getUInt(const std::wstring& name, std::uint32_t& value) const;
    virtual bool getUInt(const wchar_t* name, std::uint32_t& value) const;
    virtual bool getUInt64(const std::wstring& name, std::uint64_t& value) const;
    virtual bool getUInt64(const wchar_t* name, std::uint64_t& value) const;
    // Floating numbers only: a member holding the integer 5 is refused.
    virtual bool getDouble(const std::wstring& name, double& value) const;
    virtual bool getDouble(const wchar_t* name, double& value) const;

    // The member must be an array. With a non-empty field name every element
    // must be an object whose member of that name is a string; otherwise every
    // element must be a string. A missing member gives false.
    virtual bool getStringArray(const std::wstring& name, std::vector<std::wstring>& values,
                                const std::wstring& fieldName = std::wstring()) const;
    virtual bool getStringArray(const wchar_t* name, std::vector<std::wstring>& values,
                                const wchar_t* fieldName = nullptr) const;
    // Every element must be an object; each gives its compact JSON text.
    virtual bool getObjectArray(const std::wstring& name, std::vector<std::wstring>& values) const;
    virtual bool getObjectArray(const wchar_t* name, std::vector<std::wstring>& values) const;
    // As getStringArray, for integers that fit signed 32 bits.
    virtual bool getIntArray(const std::wstring& name, std::vector<std::int32_t>& values,
                             const std::wstring& fieldName = std::wstring()) const;
    virtual bool getIntArray(const wchar_t* name, std::vector<std::int32_t>& values,
                             const wchar_t* fieldName = nullptr) const;
    // Any kind: a string gives its text, null the empty text, anything else
    // its compact JSON text.
    virtual bool getValueText(const std::wstring& name, std::wstring& value) const;
    virtual bool getValueText(const wchar_t* name, std::wstring& value) const;

    // Setters replace a member of the same name (the last member moves into its
    // place) or add one; the new member always goes to the end.
    virtual void setBool(const std::wstring& name, bool value);
    virtual void setBool(const wchar_t* name, bool value);
    virtual void setString(const std::wstring& name, const std::wstring& value);
    virtual void setString(const std::wstring& name, const wchar_t* value);
    virtual void setString(const wchar_t* name, const std::wstring& value);
    virtual void setString(const wchar_t* name, const wchar_t* value);
    virtual void setInt(const std::wstring& name, std::int32_t value);
    virtual void setInt(const wchar_t* name, std::int32_t value);
    virtual void setInt64(const std::wstring& name, std::int64_t value);
    virtual void setInt64(const wchar_t* name, std::int64_t value);
    virtual void setUInt(const std::wstring& name, std::uint32_t value);
    virtual void setUInt(const wchar_t* name, std::uint32_t value);
    virtual void setUInt64(const std::wstring& name, std::uint64_t value);
    virtual void setUInt64(const wchar_t* name, std::uint64_t value);
    // A NaN or an infinity has no JSON text: it is refused (false, nothing changes).
    virtual bool setDouble(const std::wstring& name, double value);
    virtual bool setDouble(const wchar_t* name, double value);
    virtual void setStringArray(const std::wstring& name, const std::vector<std::wstring>& values);
    virtual void setStringArray(const wchar_t* name, const std::vector<std::wstring>& values);
    // Null entries are skipped.
    virtual void setStringArray(const wchar_t* name, const std::vector<const wchar_t*>& values);

    // Appends to the array member `name`, adding it (empty) when missing: the
    // text itself, or with a non-empty field name a one-member object
    // {fieldName: text}. A member that is not an array is left alone.
    virtual void appendString(const std::wstring& name, const std::wstring& text,
                              const std::wstring& fieldName = std::wstring());
    virtual void appendString(const wchar_t* name, const wchar_t* text,
                              const wchar_t* fieldName = nullptr);
    // Sets (replace-or-add) or appends the value parsed from a JSON text of any
    // kind; true when it was placed. Text that does not parse, or whose value
    // would end up nested deeper than the bound, changes nothing.
    virtual bool setJson(const wchar_t* name, const wchar_t* json);
    virtual bool appendJson(const wchar_t* name, const wchar_t* json);

    // Removes every member of an object root; any other root is left alone.
    virtual void clear();
    // True unless the root is an object with at least one member.
    virtual bool isEmpty() const;

private:
    // Replaces the root with the value of text; on failure the root is null.
    bool parseRoot(const wchar_t* text);
    const internal::JsonValue* findMember(const wchar_t* name) const;
    // The root as an object, replacing whatever else it held.
    internal::JsonValue& objectRoot();
    // Replace-or-add of name (copied) with value (moved in).
    void setMember(const wchar_t* name, internal::JsonValue& value);
    // The array member `name`, added empty when missing; null when the member
    // exists but is not an array.
    internal::JsonValue* arrayMember(const wchar_t* name);
    internal::JsonAllocator& allocator();

    // The document and, in the same heap block, the first chunk of its pool,
    // which a typical payload fits in: a parser made for one message costs
    // one allocation. Bigger documents add heap chunks.
    std::shared_ptr<internal::JsonDocument> document_;
};

} // namespace Orvik
