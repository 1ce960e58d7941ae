#pragma once
// thrown<E>(f): runs `f` and hands back the E it throws, to check its message
// and fields; when `f` throws nothing the test fails and the result is empty.

#include <gtest/gtest.h>

#include <optional>

namespace TestSupport {

template <class E, class F>
std::optional<E> thrown(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e;
    }
    ADD_FAILURE() << "expected an exception, none was thrown";
    return std::nullopt;
}

}  // namespace TestSupport
