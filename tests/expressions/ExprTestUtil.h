// Helpers shared by the expression-layer tests: evaluating a text against an
// input and a base node, and catching an error's message.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "library/core/TsNodes.h"
#include "library/expressions/TsExpressions.h"
#include "support/Streams.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

namespace ts::test {

// One expression over an optional input and base node.
struct Expr {
    explicit Expr(std::u16string_view text, TStream* input = nullptr, TTsTreeNode* base = nullptr)
        : e(WideString(text), base) {
        e.Stream = input;
    }
    TTsValue Value() { return e.EvaluateValue(); }
    TTsExpression e;
};

inline TTsValue Eval(std::u16string_view text, TStream* input = nullptr, TTsTreeNode* base = nullptr) {
    Expr x(text, input, base);
    return x.Value();
}

inline WideString Str(std::u16string_view text, TStream* input = nullptr, TTsTreeNode* base = nullptr) {
    TTsValue v = Eval(text, input, base);
    EXPECT_TRUE(v.Has(vkString)) << WideToUtf8(text);
    return v.Str;
}

inline double Num(std::u16string_view text, TStream* input = nullptr, TTsTreeNode* base = nullptr) {
    TTsValue v = Eval(text, input, base);
    EXPECT_TRUE(v.Has(vkFloat)) << WideToUtf8(text);
    return v.Float;
}

inline bool Bool(std::u16string_view text, TStream* input = nullptr, TTsTreeNode* base = nullptr) {
    TTsValue v = Eval(text, input, base);
    EXPECT_TRUE(v.Has(vkBool)) << WideToUtf8(text);
    return v.Bool;
}

}  // namespace ts::test
