// Helpers that every test program may use: catching the error a call must
// raise.
#pragma once

#include <gtest/gtest.h>

#include <exception>
#include <optional>
#include <source_location>
#include <typeinfo>
#include <utility>

#include "support/Exception.h"
#include "support/Strings.h"

namespace ts::test {

// The E that fn raises (a copy). When fn raises nothing or an error of
// another class, the test fails at the caller's line saying what happened
// instead, and the answer is empty.
template <class E, class Fn>
std::optional<E> ThrownError(Fn&& fn, std::source_location where = std::source_location::current()) {
    const std::string expected = WideToUtf8(E::StaticClassName());
    try {
        std::forward<Fn>(fn)();
    } catch (const E& e) {
        return e;
    } catch (const Exception& e) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "expected " << expected << ", but " << WideToUtf8(e.ClassName())
            << " was thrown: " << WideToUtf8(e.Message());
        return std::nullopt;
    } catch (const std::exception& e) {
        ADD_FAILURE_AT(where.file_name(), where.line())
            << "expected " << expected << ", but " << typeid(e).name() << " was thrown: " << e.what();
        return std::nullopt;
    }
    ADD_FAILURE_AT(where.file_name(), where.line()) << "expected " << expected << ", but nothing was thrown";
    return std::nullopt;
}

// The message of the E that fn raises; empty, with the test failed as
// ThrownError says, when fn raises something else or nothing.
template <class E, class Fn>
WideString MessageOf(Fn&& fn, std::source_location where = std::source_location::current()) {
    std::optional<E> e = ThrownError<E>(std::forward<Fn>(fn), where);
    return e ? e->Message() : WideString();
}

}  // namespace ts::test
