#pragma once
// Lets callbacks that outlive their target's subscription reach it only while
// it lives: the target owns a gate, each callback holds a pass, and closing
// the gate waits for the calls already inside, after which no pass gets in.

#include "win/SrwLock.h"

#include <memory>
#include <utility>

namespace Orvik {
namespace win {

class CallbackGate {
    struct State {
        SrwLock lock;
        bool closed = false; // under lock
    };

public:
    // What a callback keeps: runs its call only while the gate is open.
    class Pass {
    public:
        // True when `call` ran.
        template <typename Call>
        bool run(Call&& call) const
        {
            const SharedGuard guard(state_->lock);
            if (state_->closed)
                return false;
            std::forward<Call>(call)();
            return true;
        }

    private:
        friend class CallbackGate;
        explicit Pass(std::shared_ptr<State> state) : state_(std::move(state)) {}
        std::shared_ptr<State> state_;
    };

    CallbackGate() : state_(std::make_shared<State>()) {}
    ~CallbackGate() { close(); }
    CallbackGate(const CallbackGate&) = delete;
    CallbackGate& operator=(const CallbackGate&) = delete;

    Pass pass() const { return Pass(state_); }

    // Waits for the calls in progress; later ones do nothing. Must not be
    // called from inside a call through this gate.
    void close() noexcept
    {
        const ExclusiveGuard guard(state_->lock);
        state_->closed = true;
    }

private:
    std::shared_ptr<State> state_;
};

} // namespace win
} // namespace Orvik
