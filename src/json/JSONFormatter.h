#pragma once
// A value-like JSON object held in memory: typed, name-keyed members over one
// document that owns its own memory pool. Copies are deep and get their own
// document. Getters write their out-parameter only on success; the array
// getters append to the caller's list, give true for a missing member, and
// keep what they appended when they stop at a bad element.
//
// Every setter ends in setMember's replace-or-add: a member of the same name
// is removed (the last member moves into its place) and the new one goes to
// the end, so setting a, b, c and then a again gives the order c, b, a.
//
// After a parse that fails or yields a root other than an object, getters
// return false and setters change nothing until the next successful parse.
// A document nested deeper than internal::kMaxJsonNestingDepth, or holding a
// number beyond the double range, does not parse; the setters that could build
// one (setDouble, setObject, setObjectArray, appendObject, setMember) refuse
// instead and return false, leaving the document as it was.
// Not thread-safe: one thread uses a formatter at a time.

#include "json/JsonDocument.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Orvik {

class JSONFormatter {
public:
    using Value = internal::JsonValue;
    using Allocator = internal::JsonAllocator;

    JSONFormatter();
    JSONFormatter(const JSONFormatter& other);
    JSONFormatter& operator=(const JSONFormatter& other);
    virtual ~JSONFormatter();

    // Replaces the whole content; true only when the text parsed and its root
    // is an object. Any character after the root value (a zero code unit
    // included) makes the text invalid.
    virtual bool parse(const std::wstring& text);
    virtual std::wstring toString() const;

    virtual bool getString(const std::wstring& name, std::wstring& value) const;
    virtual bool getBool(const std::wstring& name, bool& value) const;
    virtual bool getInt(const std::wstring& name, std::int32_t& value) const;
    virtual bool getUInt(const std::wstring& name, std::uint32_t& value) const;
    virtual bool getInt64(const std::wstring& name, std::int64_t& value) const;
    virtual bool getUInt64(const std::wstring& name, std::uint64_t& value) const;
    // Floating numbers only: a member holding the integer 5 is refused.
    virtual bool getDouble(const std::wstring& name, double& value) const;
    virtual bool getStringArray(const std::wstring& name, std::vector<std::wstring>& values) const;
    // The member must be an object; value's root becomes a deep copy of it.
    virtual bool getObject(const std::wstring& name, JSONFormatter& value) const;
    virtual bool getObjectArray(const std::wstring& name, std::vector<JSONFormatter>& values) const;

    virtual void setString(const std::wstring& name, const std::wstring& value);
    virtual void setBool(const std::wstring& name, bool value);
    virtual void setInt(const std::wstring& name, std::int32_t value);
    virtual void setUInt(const std::wstring& name, std::uint32_t value);
    virtual void setInt64(const std::wstring& name, std::int64_t value);
    virtual void setUInt64(const std::wstring& name, std::uint64_t value);
    // A NaN or an infinity has no JSON text: refused.
    virtual bool setDouble(const std::wstring& name, double value);
    virtual void setStringArray(const std::wstring& name, const std::vector<std::wstring>& values);
    // Appends to the array member `name`, adding it (empty, at the end, without
    // any replacement) when missing. A member that is not an array is left alone.
    virtual void appendString(const std::wstring& name, const std::wstring& value);
    // Refused when the copy would end up nested deeper than the bound.
    virtual bool setObject(const std::wstring& name, const JSONFormatter& value);
    virtual bool setObjectArray(const std::wstring& name, const std::vector<JSONFormatter>& values);
    virtual bool appendObject(const std::wstring& name, const JSONFormatter& value);

    // The replace-or-add step. name must be a string; both values must come
    // from allocator() and are moved into the document. Refused (false, both
    // left alone) when the root is not an object, or when value nests deeper
    // than a member may or holds a NaN or an infinity.
    virtual bool setMember(Value& name, Value& value);

    // The pool every value handed to setMember must come from.
    Allocator& allocator();

private:
    const Value* findMember(const std::wstring& name) const;
    Value copyName(const std::wstring& name);
    // The array member `name`, added empty when missing; null when the member
    // exists but is not an array, or the root is not an object.
    Value* arrayMember(const std::wstring& name);
    bool setValue(const std::wstring& name, Value& value);
    // Replaces the root with a deep copy of source (which may live in this very document).
    void assignRoot(const Value& source);

    internal::JsonDocument document_;
};

} // namespace Orvik
