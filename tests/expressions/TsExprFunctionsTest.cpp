// Tests of the standard expression functions.
#include <gtest/gtest.h>

#include "ExprTestUtil.h"
#include "library/expressions/TsExprFunctions.h"
#include "support/TempFiles.h"

using namespace ts;
using namespace ts::test;

namespace {

struct Input {
    explicit Input(std::string data) : in(std::move(data)), root(std::make_unique<TTsTreeNode>(u"r")) {}
    TTsValue Eval(std::u16string_view text) { return test::Eval(text, &in, root.get()); }
    TStringStream in;
    std::unique_ptr<TTsTreeNode> root;
};

// The bytes of an expression's result stream.
std::string ResultBytes(TTsExpression& e) {
    TStream* s = e.ExpressionResult.Stream;
    if (!s) return "<no stream>";
    s->SetPosition(0);
    return s->ReadToEnd();
}

}  // namespace

TEST(TsExprFunctions, InputPositionFunctions) {
    Input x("0123456789");
    EXPECT_EQ(x.Eval(u"$ len").Float, 10);
    EXPECT_FALSE(x.Eval(u"$ eof").Bool);
    EXPECT_EQ(x.Eval(u"$ offset").Float, 0);
    EXPECT_EQ(x.in.Position(), 0);  // reading the input does not consume it

    EXPECT_TRUE(x.Eval(u"$ 4 tooffset").Bool);
    EXPECT_EQ(x.in.Position(), 4);
    EXPECT_EQ(x.Eval(u"$ offset").Float, 4);
    EXPECT_EQ(x.Eval(u"$ len").Float, 6);

    EXPECT_TRUE(x.Eval(u"3 skip").Bool);
    EXPECT_EQ(x.in.Position(), 7);
    x.Eval(u"-3 skip");
    x.Eval(u"0 skip");
    EXPECT_EQ(x.in.Position(), 7);
    x.Eval(u"5 skipto");  // never backwards
    EXPECT_EQ(x.in.Position(), 7);
    x.Eval(u"9 skipto");
    EXPECT_EQ(x.in.Position(), 9);
    x.Eval(u"100 skip");  // not past the end
    EXPECT_EQ(x.in.Position(), 10);
    EXPECT_TRUE(x.Eval(u"$ eof").Bool);
    EXPECT_EQ(x.Eval(u"$ len").Float, 0);

    // A bytes value has a length and a stream of its own.
    EXPECT_EQ(Num(u"'0A0B0C' h2b len"), 3);
    EXPECT_TRUE(Bool(u"'' toraw eof"));
}

TEST(TsExprFunctions, TreeFunctions) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsTreeNode* a1 = root->AddChild(u"a");
    root->AddChild(u"b");
    TTsTreeNode* a2 = root->AddChild(u"a");
    a2->AddChild(u"x");
    a2->AddChild(u"x");

    TTsValue sibl = Eval(u"$ sibl", nullptr, a1);
    EXPECT_EQ(sibl.Float, 3);
    EXPECT_TRUE(sibl.Bool);
    EXPECT_EQ(Num(u"$ siblings", nullptr, root.get()), 0);
    EXPECT_FALSE(Bool(u"$ sibl", nullptr, root.get()));
    EXPECT_EQ(Num(u"$ self", nullptr, a1), 2);  // children of the parent named "a"
    EXPECT_EQ(Num(u"$ self", nullptr, root.get()), 0);
    EXPECT_EQ(Num(u"iter"), 0);
    EXPECT_FALSE(Bool(u"iteration"));

    EXPECT_EQ(MessageOf<ETsFuncNeedsBaseNode>([] { Eval(u"'x' sibl"); }),
              u"Calling function TFnSiblings within RPN expression ''x' sibl' running in context without base node.");

    EXPECT_TRUE(Bool(u"$ has", nullptr, a1));
    EXPECT_TRUE(Bool(u"0 has"));
}

namespace {
class TCountingModelNode : public TTsExprModelNode {
public:
    const WideString& ModelPath() const override { return path; }
    int32_t ParentMatchCount() const override { return count; }
    std::unique_ptr<TStream> OpenSpan(const TTsValue&) override { return nullptr; }
    WideString path;
    int32_t count = 0;
};
}  // namespace

TEST(TsExprFunctions, TreeFunctionsDuringModelling) {
    auto root = std::make_unique<TTsTreeNode>(u"r");
    root->AddChild(u"x");
    root->AddChild(u"y");
    root->AddChild(u"x");
    TCountingModelNode model;
    model.count = 4;
    model.path = u"x";
    Expr it(u"iter", nullptr, root.get());
    it.e.ModelNode = &model;
    TTsValue v = it.Value();
    EXPECT_EQ(v.Float, 4);
    EXPECT_TRUE(v.Bool);

    // self counts the children of the subject named like the model's path.
    Expr self(u"$ self", nullptr, root.get());
    self.e.ModelNode = &model;
    EXPECT_EQ(self.Value().Float, 2);
    model.path.clear();
    EXPECT_EQ(self.Value().Float, 0);
}

TEST(TsExprFunctions, NotOnBooleansNumbersAndBytes) {
    EXPECT_EQ(Num(u"5 not"), -6);
    EXPECT_EQ(Num(u"-1 not"), 0);
    EXPECT_FALSE(Bool(u"1 1 = not"));
    EXPECT_TRUE(Bool(u"1 2 = not"));
    Expr bytes(u"'00FF' h2b not");
    bytes.Value();
    EXPECT_EQ(ResultBytes(bytes.e), std::string("\xFF\x00", 2));
    EXPECT_EQ(Str(u"'00FF' h2b not b2h"), u"FF00");
    // The input read for "not" is not consumed.
    Input x("\x0f\xf0");
    EXPECT_EQ(x.Eval(u"$ not b2h").Str, u"F00F");
    EXPECT_EQ(x.in.Position(), 0);
    EXPECT_THROW(Eval(u"'text' not"), ETsBadRpnValue);
}

TEST(TsExprFunctions, AndOrXorOnBooleans) {
    EXPECT_FALSE(Bool(u"1 1 = 1 2 = and"));
    EXPECT_TRUE(Bool(u"1 1 = 1 2 = or"));
    EXPECT_TRUE(Bool(u"1 1 = 1 2 = xor"));
    EXPECT_FALSE(Bool(u"1 1 = 2 2 = xor"));
    EXPECT_TRUE(Bool(u"1 1 = 2 2 = and"));
}

TEST(TsExprFunctions, AndOrXorOnBytes) {
    EXPECT_EQ(Str(u"'F0F0F0' h2b '0F' h2b or b2h"), u"FFFFFF");
    EXPECT_EQ(Str(u"'010203' h2b 'FF00' h2b xor b2h"), u"FE02FC");  // b cycles over a
    EXPECT_EQ(Str(u"12 10 and b2h"), u"08");                        // numbers give one byte
    EXPECT_EQ(Str(u"'abc' ' ' xor b2h"), u"414243");                // texts give their bytes
    EXPECT_EQ(MessageOf<ETsEmptyFuncArgument>([] { Eval(u"'ab' '' xor"); }),
              u"Function TFnXor of RPN expression ''ab' '' xor' expects a non-empty argument.");
    EXPECT_EQ(MessageOf<ETsBadRpnValue>([] { Eval(u"1 1 = 'ab' and"); }),
              u"Required value type missing (any of 'valBool, valBytes') in RPN expression '1 1 = 'ab' and'.");
}

TEST(TsExprFunctions, ByteKeyRunsOnAcrossBlocks) {
    // 40000 zero bytes xor a three-byte key: the key keeps cycling over the
    // block boundary at 32768 (which is not a multiple of three).
    Input x(std::string(40000, '\0'));
    Expr e(u"$ '010203' h2b xor", &x.in, x.root.get());
    e.Value();
    std::string out = ResultBytes(e.e);
    ASSERT_EQ(out.size(), 40000u);
    for (size_t i : {0u, 1u, 2u, 32767u, 32768u, 32769u, 39999u}) EXPECT_EQ(out[i], static_cast<char>(1 + i % 3)) << i;
    EXPECT_EQ(x.in.Position(), 0);
}

TEST(TsExprFunctions, CaseAndReversal) {
    EXPECT_EQ(Str(u"'abC' rev"), u"Cba");
    EXPECT_EQ(Str(u"'abC' reverse"), u"Cba");
    EXPECT_EQ(Str(u"'ÄbC' lower"), u"äbc");
    EXPECT_EQ(Str(u"'äbC' upper"), u"ÄBC");
    EXPECT_EQ(Str(u"'aBcÄ' invcase"), u"AbCä");
    EXPECT_EQ(Str(u"'41622E' h2b invcase b2h"), u"61422E");
    EXPECT_EQ(Str(u"'41622E' h2b rev b2h"), u"2E6241");
    // Bytes of an input are transformed; what follows reads the new bytes,
    // and the input itself stays where it was.
    Input x("abc");
    EXPECT_EQ(x.Eval(u"$ upper b2h").Str, u"414243");
    EXPECT_EQ(x.in.Position(), 0);
    EXPECT_THROW(Eval(u"5 rev"), ETsBadRpnValue);
}

TEST(TsExprFunctions, HexConversions) {
    EXPECT_EQ(Str(u"'AB' b2hh"), u"41 42");
    EXPECT_EQ(Str(u"'AB' b2h"), u"4142");
    EXPECT_EQ(Str(u"'4142' h2b b2h"), u"4142");
    EXPECT_EQ(Str(u"'41 42' h2b fromraw"), u"AB");  // separators are dropped
    EXPECT_EQ(Str(u"'' h2b b2h"), u"");
    EXPECT_EQ(MessageOf<EConvertError>([] { Eval(u"'414' h2b"); }), u"Hex string must have even length, 3 given.");
    EXPECT_EQ(MessageOf<EConvertError>([] { Eval(u"'4G' h2b"); }),
              u"Hex string \"4G\" contains wrong symbol (0-9, A-F, a-f allowed).");
}

TEST(TsExprFunctions, IntegerBytes) {
    EXPECT_EQ(Num(u"'FFFF' h2b toint"), 65535);
    EXPECT_EQ(Num(u"'FF' h2b toint"), 255);
    EXPECT_EQ(Num(u"'FFFFFFFF' h2b toint"), 4294967295.0);
    EXPECT_EQ(Num(u"'FFFFFFFFFFFFFFFF' h2b toint"), -1);
    EXPECT_EQ(Num(u"'0100000000000000' h2b toint"), 1);
    EXPECT_EQ(MessageOf<ETsBadExprStringToIntLength>([] { Eval(u"'010203' h2b toint"); }),
              u"String [01 02 03] to convert into number must be 1, 2, 4 or 8 bytes long but it's 3; RPN expression "
              u"''010203' h2b toint'.");
    WideString longMsg = MessageOf<ETsBadExprStringToIntLength>([] { Eval(u"'000102030405060708090A0B' h2b toint"); });
    EXPECT_NE(longMsg.find(u"[00 01 02 03 04 05 06 07 08 09] "), WideString::npos);
    EXPECT_NE(longMsg.find(u"it's 12;"), WideString::npos);

    EXPECT_EQ(Str(u"-1 fromint b2h"), u"FFFFFFFF");
    EXPECT_EQ(Str(u"258 fromint b2h"), u"02010000");
    EXPECT_EQ(Str(u"4294967296 fromint b2h"), u"0000000001000000");
    EXPECT_EQ(Num(u"-2147483648 fromint toint"), 2147483648.0);  // four bytes, read unsigned
    EXPECT_EQ(Num(u"-2147483649 fromint toint"), -2147483649.0);
}

TEST(TsExprFunctions, CharsetsAndCodepages) {
    // "Привет" in KOI8-R, and back.
    EXPECT_EQ(Str(u"'Привет' 'koi8-r' charset b2h"), u"F0D2C9D7C5D4");
    EXPECT_EQ(Str(u"'F0D2C9D7C5D4' h2b 'KOI8-R' charset"), u"Привет");
    EXPECT_EQ(Str(u"'F0' h2b 20866 charset"), u"П");
    EXPECT_EQ(Str(u"'F0' h2b '20866' charset"), u"П");
    // A character the code page lacks is replaced, not refused.
    EXPECT_EQ(Str(u"'aЖ' 'iso-8859-1' charset b2h"), u"613F");
    EXPECT_EQ(MessageOf<ETsBadExprCodepage>([] { Eval(u"'abc' 'no-such-charset' charset"); }),
              u"Cannot recognize codepage name 'no-such-charset' in RPN expression ''abc' 'no-such-charset' "
              u"charset'.");
    EXPECT_THROW(Eval(u"'abc' 123456 charset"), ETsBadExprCodepage);
    // A value that is text and bytes at once is left as it is.
    auto root = std::make_unique<TTsTreeNode>(u"r");
    TTsValue both = TTsValue::FromStr(u"Ж");
    both.SetRaw("\xF6");
    root->Props().SetValue(u"both", both);
    TTsValue same = Eval(u"$both 'koi8-r' charset", nullptr, root.get());
    EXPECT_EQ(same.Str, u"Ж");
    EXPECT_EQ(same.Raw(), "\xF6");
    // String functions change the text and the bytes alike.
    TTsValue lowered = Eval(u"$both lower", nullptr, root.get());
    EXPECT_EQ(lowered.Str, u"ж");
    EXPECT_EQ(lowered.Raw(), "\xF6");

    // toraw / fromraw use the options' code page, strictly.
    Expr e(u"'čx' toraw b2h");
    e.e.Options.Codepage = 1250;
    EXPECT_EQ(e.Value().Str, u"E878");
    e.e.Text = u"'E878' h2b fromraw";
    EXPECT_EQ(e.Value().Str, u"čx");
    e.e.Text = u"'Ж' toraw";
    EXPECT_THROW(e.Value(), EConvertError);
}

TEST(TsExprFunctions, SaveThenLoad) {
    WideString name = CreateTempFileW();
    WideString quoted = u"'" + name + u"'";
    EXPECT_EQ(Str(quoted + u" 'hellö' save"), u"hellö");  // the data, unchanged
    EXPECT_EQ(LoadFileBytes(name), "hell\xC3\xB6");       // text is written as UTF-8
    Expr load(quoted + u" load");
    load.Value();
    EXPECT_EQ(ResultBytes(load.e), "hell\xC3\xB6");

    Eval(quoted + u" '00FF41' h2b save");
    EXPECT_EQ(Str(quoted + u" load b2h"), u"00FF41");
    // The input is saved whole, and stays where it was.
    Input x("abcdef");
    x.in.SetPosition(2);
    x.Eval(quoted + u" $ save");
    EXPECT_EQ(LoadFileBytes(name), "abcdef");
    EXPECT_EQ(x.in.Position(), 2);
    DeleteFileW(name);

    EXPECT_THROW(Eval(quoted + u" load"), EFOpenError);
    EXPECT_THROW(Eval(u"'/no/such/dir/f' 'x' save"), EFCreateError);
}

TEST(TsExprFunctions, DebuggerInterruptReturnsWithoutDebugger) { EXPECT_TRUE(Bool(u"int3")); }

TEST(TsExprFunctions, BadContextAndMissingCallback) {
    TTsFuncContext empty;
    TFnLength unbound(empty);
    EXPECT_EQ(MessageOf<ETsBadFuncContext>([&] { unbound.Run(); }), u"Required TFnLength Context fields missing.");

    // A function that asks for TransformBuffered without the callback.
    class TFnLazy : public TTsFunction {
        TS_CLASS(TFnLazy)
    public:
        using TTsFunction::TTsFunction;

    protected:
        void Execute() override {
            PopSubject();
            TransformBuffered();
        }
    };
    TTsFunctions reg;
    reg.Register(u"lazy", FunctionClass<TFnLazy>());
    reg.Register(u"toraw", FunctionClass<TFnToRaw>());
    Expr e(u"'ab' toraw lazy");
    e.e.SetFunctions(&reg);
    EXPECT_EQ(MessageOf<EMethodNotFound>([&] { e.Value(); }),
              u"TFnLazy must implement TransformBufferedCallback when using TransformBuffered.");
}

TEST(TsExprFunctions, RandomTokenSequencesFailCleanly) {
    // Every function with every kind of operand: whatever the combination,
    // the outcome is a value or one of the library's errors, never a crash
    // or a foreign exception. Files are left out: they would be written.
    const std::u16string_view tokens[] = {
        u"$",        u"1",     u"0",        u"-1",        u"300",      u"2.5",     u"'ab'",   u"''",       u"'0D0A'",
        u"'koi8-r'", u"'Ж'",   u"node$len", u"node$",     u"missing?", u"+",       u"-",      u"/",        u"=",
        u"<",        u"!=",    u"sibl",     u"len",       u"self",     u"iter",    u"offset", u"tooffset", u"skip",
        u"skipto",   u"eof",   u"cmp_eq",   u"cmp_space", u"cmp_hex",  u"cmp_pat", u"has",    u"not",      u"and",
        u"or",       u"xor",   u"rev",      u"lower",     u"upper",    u"invcase", u"h2b",    u"b2h",      u"b2hh",
        u"charset",  u"toraw", u"fromraw",  u"toint",     u"fromint"};
    const size_t count = sizeof tokens / sizeof tokens[0];
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    auto root = std::make_unique<TTsTreeNode>(u"r");
    root->AddChild(u"node")->Props().SetValue(u"len", TTsValue::FromInt(3));
    int values = 0;
    for (int i = 0; i < 3000; ++i) {
        WideString text;
        for (uint32_t n = 1 + next() % 5; n > 0; --n) {
            if (!text.empty()) text += u' ';
            text += tokens[next() % count];
        }
        TStringStream in("  ab\r\n\x01\xff xyz");
        in.SetPosition(next() % 4);
        try {
            Eval(text, &in, root.get());
            ++values;
        } catch (const Exception&) {
        } catch (const std::exception& e) {
            ADD_FAILURE() << WideToUtf8(text) << ": " << e.what();
        }
        EXPECT_LE(in.Position(), in.Size()) << WideToUtf8(text);
    }
    EXPECT_GT(values, 100);  // the sequences are not all errors
}
