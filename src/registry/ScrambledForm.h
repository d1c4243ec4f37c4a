#pragma once
// The scrambled form of registry values and log.ini values, and the functions
// that make and check it. The scrambled registry key, the scrambled INI reader
// and support tools all go through these functions, so they agree by
// construction.
//
// Blob (all integers little-endian):
//
//   offset  size  field
//   0       4     magic 0x42524353 (the bytes "SCRB")
//   4       2     format version, 1
//   6       2     header size, 48
//   8       4     declared value type (REG_SZ, REG_DWORD, REG_BINARY, ...)
//   12      4     payload size N in bytes
//   16      32    tag = HMAC-SHA-256(kTagKey, bytes 0..15 || scrambled payload)
//   48      N     scrambled payload: payload[i] XOR S[i], where the key stream S
//                 is the concatenation of the blocks
//                 HMAC-SHA-256(kMaskKey, bytes 0..15 || LE32(block index)),
//                 block index 0, 1, 2, ...
//
//   The blob is exactly 48 + N bytes. A reader refuses (code 13) anything whose
//   magic, version, header size, length or tag does not match; the tag is
//   compared before anything is unscrambled. kTagKey and kMaskKey are the two
//   32-byte constants in ScrambledForm.cpp. They keep casual edits out and make
//   tampering evident; they are no secret from anyone who has this library, so
//   the form is not meant to protect confidential data. Equal values give equal
//   blobs (no nonce), which keeps rewritten log.ini files stable.
//
// Payload by declared type:
//   REG_SZ, REG_MULTI_SZ   UTF-8 text, terminators included: the registry
//                          value's UTF-16 data (its byte size must be even),
//                          converted character for character, NULs kept.
//   anything else          the value's bytes as given (REG_DWORD: 4 bytes,
//                          REG_QWORD: 8 bytes, REG_EXPAND_SZ: UTF-16 as given).
//
// Registry: the blob is stored as a REG_BINARY value whose name is the value
// name converted to the thread's ANSI code page.
//
// log.ini: the blob is written with WritePrivateProfileStructW, that is, each
// byte as two upper-case hexadecimal digits followed by one checksum byte (the
// sum of all blob bytes modulo 256), also as two digits. INI values are either
// REG_SZ (UTF-8 with its terminator) or REG_DWORD (4 bytes, read back as its
// signed decimal text, "%d"). A log.ini line is read up to 1024 bytes, so the
// scrambled INI reader refuses to write a value whose line would be longer
// (about 450 payload bytes, less the key's length).

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

namespace Basalt {
namespace scrambled {

constexpr DWORD kMagic = 0x42524353;
constexpr WORD kVersion = 1;
constexpr DWORD kHeaderSize = 48;
constexpr DWORD kTagSize = 32;
// Longest log.ini line the INI reader reads whole, in bytes.
constexpr size_t kMaxIniLine = 1024;

// Blob level: the payload is taken and given back as stored (strings already
// UTF-8). Answer 0, or 13 for a blob that does not check out, 87 for a bad
// argument, 14 when memory runs out, 6000 when the platform's HMAC fails.
LONG encodeBlob(DWORD type, const BYTE* payload, DWORD size, std::vector<BYTE>& blob) noexcept;
LONG decodeBlob(const BYTE* blob, size_t size, DWORD& type, std::vector<BYTE>& payload) noexcept;

// Registry level: `data` is a value as the registry functions see it (UTF-16
// for strings); REG_SZ and REG_MULTI_SZ pass through UTF-8 on the way.
LONG encodeRegistryValue(DWORD type, const BYTE* data, DWORD size, std::vector<BYTE>& blob) noexcept;
LONG decodeRegistryValue(const BYTE* blob, size_t size, DWORD& type, std::vector<BYTE>& data) noexcept;

// log.ini level. Encoding gives the blob, for WritePrivateProfileStructW or
// toProfileStructText; decoding takes the text after "key=" in the file and
// gives the string, or a DWORD's "%d" text, with its type (REG_SZ or REG_DWORD).
LONG encodeIniString(const std::wstring& text, std::vector<BYTE>& blob) noexcept;
LONG encodeIniDWORD(DWORD value, std::vector<BYTE>& blob) noexcept;
LONG decodeIniValue(const std::wstring& iniText, std::wstring& clearText, DWORD& type) noexcept;

// The hexadecimal-with-checksum text of the private-profile structure functions.
std::wstring toProfileStructText(const std::vector<BYTE>& bytes);
bool fromProfileStructText(const std::wstring& text, std::vector<BYTE>& bytes);

} // namespace scrambled
} // namespace Basalt
