#pragma once
// A message-name pattern in the ECMAScript grammar, matched against a whole
// name. It answers what std::wregex with regex_match answers for the
// patterns peers subscribe with (literals, escapes, classes, groups,
// alternation, repetition, anchors, word boundaries), without the locale and
// stream machinery that std::regex pulls into the library, and in time
// linear in the name, with no recursion, so a long name cannot exhaust a
// delivery thread's stack. Lookaheads and back-references are refused as
// errors.

#include <cstdint>
#include <string>
#include <vector>

namespace Orvik {

class NamePattern {
public:
    NamePattern() = default;

    // Compiles `pattern`; false with a description in `error` when it is not
    // a pattern (or uses what is not supported). The object then matches nothing.
    bool assign(const std::wstring& pattern, std::string& error);

    // True when the pattern matches the whole of `name`.
    bool matches(const std::wstring& name) const;

    struct Range {
        wchar_t first;
        wchar_t last;
    };
    // One bracket expression or class escape: a union of ranges, maybe negated.
    struct CharSet {
        std::vector<Range> ranges;
        bool negated = false;
        bool contains(wchar_t c) const;
    };
    enum class Op : std::uint8_t { Char, Any, Set, Split, Jump, Begin, End, WordBoundary, NotWordBoundary, Match };
    struct Instruction {
        Op op;
        wchar_t c = 0;
        std::uint32_t x = 0;  // Set: index of the set; Split/Jump: target
        std::uint32_t y = 0;  // Split: second target
    };

private:
    std::vector<Instruction> program_;
    std::vector<CharSet> sets_;
};

} // namespace Orvik
