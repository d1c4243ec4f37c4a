#pragma once
// The syntax tree a message-name pattern parses into: the parser builds it and
// the compiler turns it into the program the matcher runs.

#include "message/NamePattern.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Orvik {
namespace detail {

struct Node {
    enum class Kind { Empty, Char, Any, Set, Begin, End, WordBoundary, NotWordBoundary, Concat, Alternation, Repeat };
    Kind kind = Kind::Empty;
    wchar_t c = 0;
    std::uint32_t set = 0;
    unsigned min = 0;
    unsigned max = 0;  // kUnbounded: no upper bound
    std::vector<std::unique_ptr<Node>> children;
};
constexpr unsigned kUnbounded = ~0u;

// Parses the whole of `text`, adding its bracket expressions and class escapes
// to `sets`; null with a description in `error` when it is not a pattern (or
// uses what is not supported).
std::unique_ptr<Node> parseNamePattern(const std::wstring& text, std::vector<NamePattern::CharSet>& sets,
                                       std::string& error);

// Appends the program for `root`, ending in Match; false when the program
// grew beyond what a pattern may cost.
bool compileNamePattern(const Node& root, std::vector<NamePattern::Instruction>& program);

} // namespace detail
} // namespace Orvik
