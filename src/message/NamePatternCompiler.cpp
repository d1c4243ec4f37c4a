#include "message/NamePatternSyntax.h"

namespace Orvik {
namespace detail {
namespace {

// A bound that keeps a hostile pattern from costing more than a small one.
constexpr std::size_t kMaxProgram = 50000;

class Compiler {
public:
    explicit Compiler(std::vector<NamePattern::Instruction>& program) : program_(program) {}

    bool compile(const Node& node)
    {
        emitNode(node);
        emit(NamePattern::Op::Match);
        return program_.size() <= kMaxProgram;
    }

private:
    using Op = NamePattern::Op;

    std::uint32_t emit(Op op, wchar_t c = 0, std::uint32_t x = 0, std::uint32_t y = 0)
    {
        program_.push_back({op, c, x, y});
        return static_cast<std::uint32_t>(program_.size() - 1);
    }
    std::uint32_t here() const { return static_cast<std::uint32_t>(program_.size()); }

    void emitNode(const Node& node)
    {
        if (program_.size() > kMaxProgram)
            return;
        switch (node.kind) {
        case Node::Kind::Empty: break;
        case Node::Kind::Char: emit(Op::Char, node.c); break;
        case Node::Kind::Any: emit(Op::Any); break;
        case Node::Kind::Set: emit(Op::Set, 0, node.set); break;
        case Node::Kind::Begin: emit(Op::Begin); break;
        case Node::Kind::End: emit(Op::End); break;
        case Node::Kind::WordBoundary: emit(Op::WordBoundary); break;
        case Node::Kind::NotWordBoundary: emit(Op::NotWordBoundary); break;
        case Node::Kind::Concat:
            for (const auto& child : node.children)
                emitNode(*child);
            break;
        case Node::Kind::Alternation: {
            std::vector<std::uint32_t> jumps;
            for (std::size_t i = 0; i < node.children.size(); ++i) {
                const bool last = i + 1 == node.children.size();
                const std::uint32_t split = last ? 0 : emit(Op::Split);
                if (!last)
                    program_[split].x = here();
                emitNode(*node.children[i]);
                if (!last) {
                    jumps.push_back(emit(Op::Jump));
                    program_[split].y = here();
                }
            }
            for (std::uint32_t jump : jumps)
                program_[jump].x = here();
            break;
        }
        case Node::Kind::Repeat: {
            const Node& body = *node.children.front();
            for (unsigned i = 0; i < node.min && program_.size() <= kMaxProgram; ++i)
                emitNode(body);
            if (node.max == kUnbounded) {
                const std::uint32_t split = emit(Op::Split);
                program_[split].x = here();
                emitNode(body);
                emit(Op::Jump, 0, split);
                program_[split].y = here();
                break;
            }
            std::vector<std::uint32_t> splits;
            for (unsigned i = node.min; i < node.max && program_.size() <= kMaxProgram; ++i) {
                splits.push_back(emit(Op::Split));
                program_[splits.back()].x = here();
                emitNode(body);
            }
            for (std::uint32_t split : splits)
                program_[split].y = here();
            break;
        }
        }
    }

    std::vector<NamePattern::Instruction>& program_;
};

} // namespace

bool compileNamePattern(const Node& root, std::vector<NamePattern::Instruction>& program)
{
    return Compiler(program).compile(root);
}

} // namespace detail
} // namespace Orvik
