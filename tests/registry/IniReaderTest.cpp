// The scrambled INI reader over real files in a temp folder.

#include "RegistryTestSupport.h"

#include "registry/CObfuscatedIniReader.h"
#include "registry/ScrambledForm.h"

#include <fstream>

using namespace RegistryTest;
using Basalt::CObfuscatedIniReader;
using Basalt::IniSection;

namespace {

void writeFile(const std::wstring& path, const std::string& content)
{
    std::ofstream(std::string(path.begin(), path.end()), std::ios::binary) << content;
}

std::string readFile(const std::wstring& path)
{
    std::ifstream in(std::string(path.begin(), path.end()), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A scrambled DWORD as it stands in a file; `spoil` changes the blob before the
// checksum is made, so that only the blob's own checks can catch it.
std::string scrambledText(DWORD value, void (*spoil)(Bytes&) = nullptr)
{
    Bytes blob;
    EXPECT_EQ(ERROR_SUCCESS, Basalt::scrambled::encodeIniDWORD(value, blob));
    if (spoil != nullptr)
        spoil(blob);
    const std::wstring text = Basalt::scrambled::toProfileStructText(blob);
    return std::string(text.begin(), text.end());
}

class IniReader : public ::testing::Test {
protected:
    TempFolder folder_;
};

TEST_F(IniReader, ParsingCornerCases)
{
    const std::wstring path = folder_.file(L"parse.ini");
    writeFile(path, "before any section=1\r\n  [  Config  ]  \r\n  Spaced Key  =  value with spaces  \r\n"
                    "; Commented=1\nno equals sign\nPair=a=b\nPair=repeated: the first counts\nEmpty=\n=no key\n"
                    "[   ]\nStillConfig=yes\n[config]\nCase=lower\nPAIR=repeated in another case\n[Last]\nNoNewline=end");
    CObfuscatedIniReader reader(false);
    ASSERT_TRUE(reader.LoadFile(path));
    EXPECT_EQ(3u, reader.GetSectionCount());
    EXPECT_EQ(6u, reader.GetKeyLineCount());
    IniSection config;
    ASSERT_TRUE(reader.CopySection(L"Config", config));
    // Names match without regard to case, as for the profile functions: "[config]" goes on "[Config]".
    EXPECT_EQ((IniSection{{L"Spaced Key", L"value with spaces"}, {L"Pair", L"a=b"}, {L"Empty", L""},
                          {L"StillConfig", L"yes"}, {L"Case", L"lower"}}),
              config);
    std::wstring lower, last;
    EXPECT_TRUE(reader.ReadString(L"config", L"Case", lower) && lower == L"lower");
    EXPECT_TRUE(reader.ReadString(L"CONFIG", L"pair", lower) && lower == L"a=b");
    EXPECT_TRUE(reader.ReadString(L"Last", L"NoNewline", last) && last == L"end");
    EXPECT_FALSE(reader.ReadString(L"", L"before any section", last));
    EXPECT_FALSE(reader.CopySection(L"Nowhere", config));
}

TEST_F(IniReader, LinesOf1024BytesAndBeyond)
{
    const std::wstring path = folder_.file(L"long.ini");
    writeFile(path, "[S]\nExact=" + std::string(1024 - 6, 'e') + "\nOver=" + std::string(1200, 'o') +
                        "=Invented=1\n" + std::string(1 << 20, 'h') + "\r\nAfter=ok\n");
    CObfuscatedIniReader reader(false);
    ASSERT_TRUE(reader.LoadFile(path));
    IniSection section;
    ASSERT_TRUE(reader.CopySection(L"S", section));
    EXPECT_EQ(3u, section.size()) << "the tail of a long line was read as a line of its own";
    EXPECT_EQ(1024u - 6, section[L"Exact"].size());
    EXPECT_EQ(1024u - 5, section[L"Over"].size()); // cut at the limit
    EXPECT_EQ(L"ok", section[L"After"]);
}

TEST_F(IniReader, StrictReaderFindsOnlyScrambledValues)
{
    const std::wstring path = folder_.file(L"log.ini");
    std::string badChecksum = scrambledText(9);
    badChecksum.back() = badChecksum.back() == '0' ? '1' : '0';
    writeFile(path, "[Config]\nPlain=5\nGood=" + scrambledText(7) + "\nNegative=" + scrambledText(DWORD(-2)) +
                        "\nBadChecksum=" + badChecksum +
                        "\nTamperedTag=" + scrambledText(9, [](Bytes& b) { b[20] ^= 0x80; }) +
                        "\nTamperedData=" + scrambledText(9, [](Bytes& b) { b[48] ^= 0x80; }) +
                        "\nTruncated=" + scrambledText(9, [](Bytes& b) { b.pop_back(); }) +
                        "\nWrongType=" + scrambledText(9, [](Bytes& b) { b[8] = REG_BINARY; }) + "\n");
    CObfuscatedIniReader strict(true), lenient(false);
    ASSERT_TRUE(strict.LoadFile(path));
    ASSERT_TRUE(lenient.LoadFile(path));
    for (const wchar_t* key : {L"Plain", L"BadChecksum", L"TamperedTag", L"TamperedData", L"Truncated", L"WrongType"}) {
        std::wstring text;
        EXPECT_FALSE(strict.ReadString(L"Config", key, text)) << key;
        EXPECT_TRUE(lenient.ReadString(L"Config", key, text)) << key;
    }
    DWORD value = 0;
    EXPECT_TRUE(lenient.ReadDWORD(L"Config", L"Plain", value));
    EXPECT_EQ(5u, value);
    EXPECT_FALSE(lenient.ReadDWORD(L"Config", L"TamperedTag", value)) << "hex text is no number";
    IniSection section;
    ASSERT_TRUE(strict.CopySection(L"Config", section));
    EXPECT_EQ((IniSection{{L"Good", L"7"}, {L"Negative", L"-2"}}), section);
    EXPECT_TRUE(strict.ReadDWORD(L"Config", L"Negative", value));
    EXPECT_EQ(DWORD(-2), value);
}

TEST_F(IniReader, WritesAreScrambledAndReadBack)
{
    const std::wstring path = folder_.file(L"new.ini");
    CObfuscatedIniReader writer(true);
    EXPECT_FALSE(writer.LoadFile(path)); // missing: keeps the path for writing
    ASSERT_TRUE(writer.WriteDWORD(L"Config", L"MaxSize", 262144));
    ASSERT_TRUE(writer.WriteDWORD(L"Config", L"All", 0xFFFFFFFF));
    ASSERT_TRUE(writer.WriteString(L"Config", L"Text", L"caf\u00E9 \u2713"));
    DWORD value = 0;
    EXPECT_TRUE(writer.ReadDWORD(L"Config", L"MaxSize", value));
    EXPECT_EQ(262144u, value);
    const std::string file = readFile(path);
    EXPECT_EQ(std::string::npos, file.find("262144"));
    // Exactly the documented text, so a support tool can read and write the file.
    EXPECT_NE(std::string::npos, file.find("MaxSize=" + scrambledText(262144)));

    CObfuscatedIniReader reader(true);
    ASSERT_TRUE(reader.LoadFile(path));
    std::wstring text;
    EXPECT_TRUE(reader.ReadDWORD(L"Config", L"All", value));
    EXPECT_EQ(0xFFFFFFFFu, value);
    EXPECT_TRUE(reader.ReadString(L"Config", L"Text", text));
    EXPECT_EQ(L"caf\u00E9 \u2713", text);
    // A value whose line the reader would cut is refused, and the file stays as it was.
    EXPECT_FALSE(reader.WriteString(L"Config", L"Long", std::wstring(600, L'x')));
    EXPECT_EQ(file, readFile(path));
}

TEST_F(IniReader, BadFilesNeverCrash)
{
    CObfuscatedIniReader reader(false);
    EXPECT_FALSE(reader.LoadFile(L""));
    EXPECT_FALSE(reader.WriteDWORD(L"Config", L"X", 1)) << "no path";
    const std::wstring folderPath = folder_.file(L"a folder");
    ASSERT_TRUE(::CreateDirectoryW(folderPath.c_str(), nullptr));
    EXPECT_FALSE(reader.LoadFile(folderPath));
    EXPECT_TRUE(reader.GetPath().empty());

    const std::wstring garbage = folder_.file(L"garbage.ini");
    std::string bytes;
    for (unsigned i = 0; i < 70000; ++i)
        bytes += static_cast<char>((i * 2654435761u) >> 13);
    const char tail[] = "\n[Config]\n\0\0=\0\nKey=\xFF\xFE\x00\x01\n";
    writeFile(garbage, bytes + std::string(tail, sizeof(tail) - 1));
    EXPECT_TRUE(reader.LoadFile(garbage));
    std::wstring text;
    DWORD value = 0;
    EXPECT_TRUE(reader.ReadString(L"Config", L"Key", text));
    EXPECT_FALSE(reader.ReadDWORD(L"Config", L"Key", value));
    EXPECT_FALSE(reader.WriteString(L"", L"Key", L"v"));
    EXPECT_FALSE(reader.WriteString(L"Config", L"", L"v"));
}

} // namespace
