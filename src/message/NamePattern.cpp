#include "message/NamePattern.h"

#include "message/NamePatternSyntax.h"

#include <memory>

namespace Orvik {
namespace {

bool isWordChar(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'_';
}

} // namespace

bool NamePattern::CharSet::contains(wchar_t c) const
{
    bool inside = false;
    for (const Range& range : ranges) {
        if (c >= range.first && c <= range.last) {
            inside = true;
            break;
        }
    }
    return inside != negated;
}

bool NamePattern::assign(const std::wstring& pattern, std::string& error)
{
    program_.clear();
    sets_.clear();
    std::unique_ptr<detail::Node> root = detail::parseNamePattern(pattern, sets_, error);
    if (root && !detail::compileNamePattern(*root, program_))
        error = "The pattern is too complex.";
    if (!error.empty()) {
        program_.clear();
        sets_.clear();
        return false;
    }
    return true;
}

bool NamePattern::matches(const std::wstring& name) const
{
    if (program_.empty())
        return false;
    // Every thread of the pattern advances one character at a time; a thread
    // is a program position, and each position is kept once per step.
    const std::size_t size = program_.size();
    std::vector<std::uint32_t> current, next, stack;
    std::vector<std::size_t> seen(size, static_cast<std::size_t>(-1));
    current.reserve(size);
    next.reserve(size);

    auto wordAt = [&](std::size_t pos) { return pos < name.size() && isWordChar(name[pos]); };
    auto add = [&](std::vector<std::uint32_t>& list, std::uint32_t start, std::size_t pos) {
        stack.push_back(start);
        while (!stack.empty()) {
            const std::uint32_t pc = stack.back();
            stack.pop_back();
            if (seen[pc] == pos)
                continue;
            seen[pc] = pos;
            const Instruction& in = program_[pc];
            const auto boundary = [&] { return (pos > 0 && wordAt(pos - 1)) != wordAt(pos); };
            switch (in.op) {
            case Op::Jump: stack.push_back(in.x); break;
            case Op::Split:
                stack.push_back(in.y);
                stack.push_back(in.x);
                break;
            case Op::Begin:
                if (pos == 0)
                    stack.push_back(pc + 1);
                break;
            case Op::End:
                if (pos == name.size())
                    stack.push_back(pc + 1);
                break;
            case Op::WordBoundary:
                if (boundary())
                    stack.push_back(pc + 1);
                break;
            case Op::NotWordBoundary:
                if (!boundary())
                    stack.push_back(pc + 1);
                break;
            default: list.push_back(pc); break;
            }
        }
    };

    add(current, 0, 0);
    for (std::size_t pos = 0; pos < name.size() && !current.empty(); ++pos) {
        const wchar_t c = name[pos];
        next.clear();
        for (std::uint32_t pc : current) {
            const Instruction& in = program_[pc];
            const bool accepted = (in.op == Op::Char && in.c == c) ||
                                  (in.op == Op::Any && c != L'\n' && c != L'\r') ||
                                  (in.op == Op::Set && sets_[in.x].contains(c));
            if (accepted)
                add(next, pc + 1, pos + 1);
        }
        current.swap(next);
    }
    if (current.empty())
        return false;
    // The names are exhausted only when the loop ran to the end.
    for (std::uint32_t pc : current) {
        if (program_[pc].op == Op::Match)
            return true;
    }
    return false;
}

} // namespace Orvik
