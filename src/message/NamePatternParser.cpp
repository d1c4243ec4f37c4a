#include "message/NamePatternSyntax.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace Orvik {
namespace detail {
namespace {

// Bounds that keep a hostile pattern from costing more than a small one.
constexpr std::size_t kMaxNesting = 200;
constexpr unsigned kMaxRepeat = 1000;

bool isDigit(wchar_t c)
{
    return c >= L'0' && c <= L'9';
}

int hexValue(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if (c >= L'a' && c <= L'f')
        return c - L'a' + 10;
    if (c >= L'A' && c <= L'F')
        return c - L'A' + 10;
    return -1;
}

using CharSet = NamePattern::CharSet;
using Range = NamePattern::Range;

void addClass(wchar_t letter, std::vector<Range>& ranges)
{
    switch (letter) {
    case L'd':
        ranges.push_back({L'0', L'9'});
        break;
    case L'w':
        ranges.insert(ranges.end(), {{L'0', L'9'}, {L'A', L'Z'}, {L'_', L'_'}, {L'a', L'z'}});
        break;
    case L's':
        ranges.insert(ranges.end(), {{L'\t', L'\r'}, {L' ', L' '}});
        break;
    }
}

// The complement of a class escape (\D, \W, \S) as plain ranges.
std::vector<Range> complement(std::vector<Range> ranges)
{
    std::vector<Range> out;
    std::sort(ranges.begin(), ranges.end(), [](const Range& a, const Range& b) { return a.first < b.first; });
    unsigned next = 0;
    for (const Range& range : ranges) {
        if (range.first > next)
            out.push_back({static_cast<wchar_t>(next), static_cast<wchar_t>(range.first - 1)});
        next = static_cast<unsigned>(range.last) + 1;
    }
    if (next <= 0xFFFF)
        out.push_back({static_cast<wchar_t>(next), static_cast<wchar_t>(0xFFFF)});
    return out;
}

class Parser {
public:
    Parser(const std::wstring& text, std::vector<CharSet>& sets) : text_(text), sets_(sets) {}

    std::unique_ptr<Node> parse(std::string& error)
    {
        std::unique_ptr<Node> root = alternation(0);
        if (error_.empty() && pos_ < text_.size())
            fail("Unmatched ')' in the pattern.");
        error = error_;
        return error_.empty() ? std::move(root) : nullptr;
    }

private:
    bool atEnd() const { return pos_ >= text_.size(); }
    wchar_t peek() const { return text_[pos_]; }
    void fail(const char* message)
    {
        if (error_.empty())
            error_ = message;
    }

    std::unique_ptr<Node> alternation(std::size_t depth)
    {
        if (depth > kMaxNesting) {
            fail("The pattern nests too deeply.");
            return nullptr;
        }
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Alternation;
        node->children.push_back(sequence(depth));
        while (error_.empty() && !atEnd() && peek() == L'|') {
            ++pos_;
            node->children.push_back(sequence(depth));
        }
        return node;
    }

    std::unique_ptr<Node> sequence(std::size_t depth)
    {
        auto node = std::make_unique<Node>();
        node->kind = Node::Kind::Concat;
        while (error_.empty() && !atEnd() && peek() != L'|' && peek() != L')') {
            std::unique_ptr<Node> item = atom(depth);
            if (!error_.empty())
                break;
            item = quantified(std::move(item));
            node->children.push_back(std::move(item));
        }
        return node;
    }

    // Reads "{n}", "{n,}" or "{n,m}" after the opening brace.
    bool braces(unsigned& min, unsigned& max)
    {
        auto number = [&](unsigned& value) {
            if (atEnd() || !isDigit(peek()))
                return false;
            value = 0;
            while (!atEnd() && isDigit(peek())) {
                value = value * 10 + static_cast<unsigned>(peek() - L'0');
                if (value > kMaxRepeat)
                    return false;
                ++pos_;
            }
            return true;
        };
        if (!number(min))
            return false;
        max = min;
        if (!atEnd() && peek() == L',') {
            ++pos_;
            max = kUnbounded;
            if (!atEnd() && isDigit(peek()) && !number(max))
                return false;
        }
        if (atEnd() || peek() != L'}')
            return false;
        ++pos_;
        return max >= min;
    }

    std::unique_ptr<Node> quantified(std::unique_ptr<Node> item)
    {
        while (error_.empty() && !atEnd()) {
            unsigned min = 0, max = 0;
            const wchar_t c = peek();
            if (c == L'*') {
                min = 0, max = kUnbounded;
                ++pos_;
            } else if (c == L'+') {
                min = 1, max = kUnbounded;
                ++pos_;
            } else if (c == L'?') {
                min = 0, max = 1;
                ++pos_;
            } else if (c == L'{') {
                ++pos_;
                if (!braces(min, max)) {
                    fail("Unexpected token in brace expression.");
                    return item;
                }
            } else {
                break;
            }
            if (item->kind == Node::Kind::Begin || item->kind == Node::Kind::End ||
                item->kind == Node::Kind::WordBoundary || item->kind == Node::Kind::NotWordBoundary) {
                fail("Nothing to repeat before a quantifier.");
                return item;
            }
            // A lazy quantifier matches the same whole names as a greedy one.
            if (!atEnd() && peek() == L'?')
                ++pos_;
            auto repeat = std::make_unique<Node>();
            repeat->kind = Node::Kind::Repeat;
            repeat->min = min;
            repeat->max = max;
            repeat->children.push_back(std::move(item));
            item = std::move(repeat);
        }
        return item;
    }

    std::unique_ptr<Node> single(Node::Kind kind, wchar_t c = 0)
    {
        auto node = std::make_unique<Node>();
        node->kind = kind;
        node->c = c;
        return node;
    }

    std::unique_ptr<Node> setNode(CharSet set)
    {
        sets_.push_back(std::move(set));
        auto node = single(Node::Kind::Set);
        node->set = static_cast<std::uint32_t>(sets_.size() - 1);
        return node;
    }

    // After a backslash, an escape that stands for one character; -1 when it is not one.
    long characterEscape(bool inClass)
    {
        const wchar_t c = peek();
        ++pos_;
        switch (c) {
        case L'n': return L'\n';
        case L'r': return L'\r';
        case L't': return L'\t';
        case L'f': return L'\f';
        case L'v': return L'\v';
        case L'b':
            if (inClass)
                return L'\b';
            break;
        case L'0':
            if (atEnd() || !isDigit(peek()))
                return 0;
            break;
        case L'c':
            if (!atEnd() && ((peek() >= L'a' && peek() <= L'z') || (peek() >= L'A' && peek() <= L'Z')))
                return text_[pos_++] % 32;
            break;
        case L'x':
        case L'u': {
            const std::size_t digits = c == L'x' ? 2 : 4;
            long value = 0;
            for (std::size_t i = 0; i < digits; ++i) {
                if (atEnd() || hexValue(peek()) < 0)
                    return -1;
                value = value * 16 + hexValue(text_[pos_++]);
            }
            return value;
        }
        default:
            // Any other character stands for itself, as with the standard matcher.
            return c;
        }
        return -1;
    }

    std::unique_ptr<Node> escape()
    {
        if (atEnd()) {
            fail("Unexpected end of the pattern after an escape.");
            return nullptr;
        }
        const wchar_t c = peek();
        switch (c) {
        case L'b': ++pos_; return single(Node::Kind::WordBoundary);
        case L'B': ++pos_; return single(Node::Kind::NotWordBoundary);
        case L'd': case L'w': case L's': case L'D': case L'W': case L'S': {
            ++pos_;
            CharSet set;
            addClass(static_cast<wchar_t>(c | 0x20), set.ranges);
            set.negated = c < L'a';
            return setNode(std::move(set));
        }
        default:
            break;
        }
        if (isDigit(c) && c != L'0') {
            fail("Back-references are not supported in a message-name pattern.");
            return nullptr;
        }
        const long value = characterEscape(false);
        if (value < 0) {
            fail("Unexpected escape character.");
            return nullptr;
        }
        return single(Node::Kind::Char, static_cast<wchar_t>(value));
    }

    // After the opening bracket.
    std::unique_ptr<Node> bracket()
    {
        CharSet set;
        if (!atEnd() && peek() == L'^') {
            set.negated = true;
            ++pos_;
        }
        // One class member: a character (value >= 0) or a class escape's ranges.
        auto member = [&](long& value, std::vector<Range>& classRanges) {
            value = -1;
            const wchar_t c = peek();
            ++pos_;
            if (c != L'\\') {
                value = c;
                return true;
            }
            if (atEnd())
                return false;
            const wchar_t e = peek();
            if (e == L'd' || e == L'w' || e == L's' || e == L'D' || e == L'W' || e == L'S') {
                ++pos_;
                std::vector<Range> ranges;
                addClass(static_cast<wchar_t>(e | 0x20), ranges);
                classRanges = e < L'a' ? complement(std::move(ranges)) : std::move(ranges);
                return true;
            }
            if (isDigit(e) && e != L'0')
                return false;
            value = characterEscape(true);
            return value >= 0;
        };
        while (true) {
            if (atEnd()) {
                fail("Unexpected end of the pattern in a bracket expression.");
                return nullptr;
            }
            if (peek() == L']') {
                ++pos_;
                break;
            }
            long first = -1;
            std::vector<Range> firstClass;
            if (!member(first, firstClass)) {
                fail("Unexpected escape character in a bracket expression.");
                return nullptr;
            }
            const bool range = first >= 0 && pos_ + 1 < text_.size() && peek() == L'-' && text_[pos_ + 1] != L']';
            if (!range) {
                if (first >= 0)
                    set.ranges.push_back({static_cast<wchar_t>(first), static_cast<wchar_t>(first)});
                else
                    set.ranges.insert(set.ranges.end(), firstClass.begin(), firstClass.end());
                continue;
            }
            ++pos_;  // the dash
            long last = -1;
            std::vector<Range> lastClass;
            if (!member(last, lastClass) || last < 0 || last < first) {
                fail("Invalid range in bracket expression.");
                return nullptr;
            }
            set.ranges.push_back({static_cast<wchar_t>(first), static_cast<wchar_t>(last)});
        }
        return setNode(std::move(set));
    }

    std::unique_ptr<Node> atom(std::size_t depth)
    {
        const wchar_t c = peek();
        ++pos_;
        switch (c) {
        case L'^': return single(Node::Kind::Begin);
        case L'$': return single(Node::Kind::End);
        case L'.': return single(Node::Kind::Any);
        case L'\\': return escape();
        case L'[': return bracket();
        case L'*': case L'+': case L'?': case L'{':
            fail("Nothing to repeat before a quantifier.");
            return nullptr;
        case L'(': {
            if (!atEnd() && peek() == L'?') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == L':') {
                    pos_ += 2;
                } else {
                    fail("Lookaheads are not supported in a message-name pattern.");
                    return nullptr;
                }
            }
            std::unique_ptr<Node> inner = alternation(depth + 1);
            if (error_.empty() && (atEnd() || peek() != L')')) {
                fail("Mismatched '(' and ')' in the pattern.");
                return nullptr;
            }
            ++pos_;
            return inner;
        }
        default:
            return single(Node::Kind::Char, c);
        }
    }

    const std::wstring& text_;
    std::vector<CharSet>& sets_;
    std::size_t pos_ = 0;
    std::string error_;
};

} // namespace

std::unique_ptr<Node> parseNamePattern(const std::wstring& text, std::vector<NamePattern::CharSet>& sets,
                                       std::string& error)
{
    Parser parser(text, sets);
    return parser.parse(error);
}

} // namespace detail
} // namespace Orvik
