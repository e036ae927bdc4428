// A node condition compiled as a model line's condition and tried at an
// offset of an input, as the command line's condition check does: the
// condition text is the data up to the first zero byte, the input the rest;
// the last byte picks the offset and the line break.
#include "fuzz/FuzzCommon.h"
#include "library/expressions/TsConditions.h"
#include "library/modelling/TsmCompiler.h"
#include "support/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    static const char16_t* const kBreaks[] = {u"\r\n", u"\n", u"\r"};
    const uint8_t last = data[size - 1];
    // Plain names: a lambda cannot capture structured bindings here.
    const auto parts = fuzz::SplitAtZero(fuzz::Bytes(data, size - 1));
    const std::string_view condText = parts.first, inputBytes = parts.second;
    fuzz::Guarded([&] {
        TStringStream input{RawByteString(inputBytes)};
        input.SetPosition(std::min<int64_t>(last / 3 % 8, input.Size()));
        TTsmCompiler compiler;
        compiler.Options.Codepage = 65001;
        compiler.Options.LineBreak = kBreaks[last % 3];
        const TTsmCondition compiled = compiler.CompileCondition(Utf8ToWide(condText));
        TTsCondition cond;
        cond.Negated = compiled.Negated;
        cond.Class = compiled.Operator;
        cond.Value = compiled.Value;
        cond.Items = compiled.Items;
        TTsTreeNode base;
        TTsCondEnvironment env;
        env.Options = compiler.Options;
        env.BaseNode = &base;
        env.Input = &input;
        env.Functions = compiler.Functions.get();
        TestCondition(cond, env);
    });
    return 0;
}
