// Work on a thread with a stack of a chosen size. Recursive walks over deeply
// nested source (the parser, the code generator) run on such a thread so that
// input depth cannot overflow the default 8 MiB stack. The caller blocks
// until the work is done; what the work returns comes back as the result and
// what it throws is rethrown in the caller, exactly as if it had run inline.
#pragma once

#include "platform/result.h"

#include <cstddef>
#include <exception>
#include <functional>
#include <optional>
#include <type_traits>
#include <utility>

namespace kestal::platform {

// The stack of the thread the compile road parses and generates code on.
inline constexpr std::size_t kBigStackBytes = std::size_t{256} << 20;

// Runs body on a new thread with at least stack_bytes of stack and joins it.
// Fails only when the thread cannot be created (the error says why); body
// must not let an exception escape (the template below takes care of that).
Result<void> run_on_thread_raw(std::size_t stack_bytes, const std::function<void()> &body);

// Runs fn() on a new thread with at least stack_bytes of stack, waits for it
// and returns its value. An exception thrown by fn is rethrown here. Fails
// (without running fn) only when the thread cannot be created.
template <class F>
auto run_on_thread(std::size_t stack_bytes, F &&fn) -> Result<std::invoke_result_t<F>> {
    using R = std::invoke_result_t<F>;
    std::exception_ptr thrown;
    if constexpr (std::is_void_v<R>) {
        Result<void> started = run_on_thread_raw(stack_bytes, [&] {
            try {
                std::forward<F>(fn)();
            } catch (...) {
                thrown = std::current_exception();
            }
        });
        if (thrown)
            std::rethrow_exception(thrown);
        return started;
    } else {
        std::optional<R> value;
        Result<void> started = run_on_thread_raw(stack_bytes, [&] {
            try {
                value.emplace(std::forward<F>(fn)());
            } catch (...) {
                thrown = std::current_exception();
            }
        });
        if (thrown)
            std::rethrow_exception(thrown);
        if (!started)
            return started.error();
        return Result<R>(std::move(*value));
    }
}

} // namespace kestal::platform
