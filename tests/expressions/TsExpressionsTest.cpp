// Tests of the expression layer: tokens, the initial value, node references,
// the function registry, conversions and the errors of evaluation.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ExprTestUtil.h"
#include "library/core/TsNodePaths.h"
#include "library/expressions/TsExprFunctions.h"
#include "library/expressions/TsExpressions.h"
#include "library/modelling/streams/TsInputStreams.h"

using namespace ts;
using namespace ts::test;

namespace {

// A stream of zero bytes that claims any size without holding it.
class TZeroStream : public TStream {
    TS_CLASS(TZeroStream)
public:
    explicit TZeroStream(int64_t size) : size_(size) {}
    int64_t Read(void* buffer, int64_t count) override {
        int64_t n = std::max<int64_t>(0, std::min(count, size_ - pos_));
        std::memset(buffer, 0, static_cast<size_t>(n));
        pos_ += n;
        return n;
    }
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override {
        int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? pos_ : size_;
        pos_ = std::max<int64_t>(0, base + offset);
        return pos_;
    }

private:
    int64_t size_;
    int64_t pos_ = 0;
};

// A tree: root > node (len 5, inner "abc"), other.
struct Tree {
    Tree() : root(std::make_unique<TTsTreeNode>(u"root")) {
        node = root->AddChild(u"node");
        node->Props().SetValue(u"len", TTsValue::FromInt(5));
        node->Props().SetValue(u"inner", TTsValue::FromStr(u"abc"));
        other = root->AddChild(u"other");
    }
    std::unique_ptr<TTsTreeNode> root;
    TTsTreeNode* node;
    TTsTreeNode* other;
};

}  // namespace

TEST(TsExpression, ArithmeticAndComparisonTokens) {
    EXPECT_EQ(Num(u"1 2 +"), 3);
    EXPECT_EQ(Num(u"7 2 -"), 5);
    EXPECT_EQ(Num(u"6 -7 *"), -42);
    EXPECT_EQ(Num(u"7 2 /"), 3.5);
    EXPECT_TRUE(Bool(u"2 3 <="));
    EXPECT_TRUE(Bool(u"3 3 >="));
    EXPECT_FALSE(Bool(u"3 2 <"));
    EXPECT_TRUE(Bool(u"3 2 >"));
    // Arithmetic wants integers; division by zero is an error, not infinity.
    EXPECT_THROW(Eval(u"1.5 1 +"), EIntegerExpectedOnStackTop);
    EXPECT_THROW(Eval(u"1 0 /"), ERpnDivisionByZero);
    EXPECT_THROW(Eval(u"'a' 1 +"), EWrongTopStackValueKind);

    // Integral results also carry Int; others only Float.
    TTsValue three = Eval(u"1 2 +");
    EXPECT_TRUE(three.Has(vkInt));
    EXPECT_EQ(three.Int, 3);
    EXPECT_FALSE(Eval(u"7 2 /").Has(vkInt));
}

TEST(TsExpression, EqualityTokens) {
    EXPECT_TRUE(Bool(u"'a' 'a' ="));
    EXPECT_FALSE(Bool(u"'a' 'A' ="));
    EXPECT_TRUE(Bool(u"5 '5' ="));
    EXPECT_TRUE(Bool(u"'a' 'b' <>"));
    EXPECT_TRUE(Bool(u"'a' 'b' !="));
    EXPECT_FALSE(Bool(u"'a' 'a' !="));
    EXPECT_THROW(Eval(u"5 'x' toraw ="), EInvalidRpnOperation);
    // A missing optional node is null; null equals only null.
    Tree t;
    EXPECT_FALSE(Bool(u"nothing? 'x' =", nullptr, t.root.get()));
    EXPECT_TRUE(Bool(u"node$inner 'abc' =", nullptr, t.root.get()));
}

TEST(TsExpression, InitialValueMayBeIgnoredOrConsumed) {
    TStringStream in("0123456789");
    EXPECT_EQ(Num(u"1", &in), 1);
    EXPECT_TRUE(Bool(u"has", &in));  // consumes the initial value itself
    Tree t;
    EXPECT_TRUE(Bool(u"$ has", &in, t.root.get()));
    // Two results over the initial value are one too many.
    EXPECT_THROW(Eval(u"1 2", &in), ENonEmptyRpnStack);
    // Only the initial value is dropped from under a result.
    EXPECT_THROW(Eval(u"has 1", &in), ENonEmptyRpnStack);
    // "$" alone is the base reference: its node and the input.
    Expr x(u"$", &in, t.node);
    x.Value();
    EXPECT_EQ(x.e.ExpressionResult.Node, t.node);
    EXPECT_EQ(x.e.ExpressionResult.Stream, &in);
}

TEST(TsExpression, NodeReferencesReadProperties) {
    Tree t;
    TTsTreeNode* root = t.root.get();
    EXPECT_EQ(Num(u"node$len", nullptr, root), 5);
    EXPECT_EQ(Str(u"node$", nullptr, root), u"abc");  // "inner" by default
    EXPECT_EQ(Str(u"node$inner", nullptr, root), u"abc");
    EXPECT_EQ(Num(u"node?$len", nullptr, root), 5);
    EXPECT_EQ(Num(u".node$len", nullptr, t.other), 5);  // the sibling, through the parent
    EXPECT_TRUE(Eval(u"missing?", nullptr, root).IsNull());
    EXPECT_TRUE(Eval(u"missing?$len", nullptr, root).IsNull());

    // A missing property leaves the node: the value is not null for "has".
    Expr x(u"node$nothing", nullptr, root);
    EXPECT_TRUE(x.Value().IsNull());
    EXPECT_EQ(x.e.ExpressionResult.Node, t.node);
    EXPECT_TRUE(Bool(u"node$nothing has", nullptr, root));
    EXPECT_FALSE(Bool(u"missing? has", nullptr, root));

    // A bare name is a function call, not a reference.
    EXPECT_THROW(Eval(u"node", nullptr, root), ETsUnknownExprFunction);
}

TEST(TsExpression, NodeReferenceFailures) {
    Tree t;
    EXPECT_EQ(MessageOf<ETsExprNoNode>([&] { Eval(u"missing$len", nullptr, t.node); }),
              u"Cannot find node 'missing' relative to 'root\\node' referenced in RPN expression 'missing$len'.");
    // "a<b" is one token, so a reference rather than a comparison.
    EXPECT_EQ(MessageOf<ETsExprNoNode>([&] { Eval(u"a<b", nullptr, t.root.get()); }),
              u"Cannot find node 'a<b' relative to '\\' referenced in RPN expression 'a<b'.");
    EXPECT_EQ(MessageOf<ETsExprNoBaseNode>([&] { Eval(u"x$len"); }),
              u"Attempted to reference node 'x$len' within RPN expression 'x$len' running in context without base "
              u"node.");

    // With an error handler the failure is reported and the value stays null.
    std::vector<WideString> reported;
    Expr x(u"missing$len", nullptr, t.root.get());
    x.e.OnError = [&](TTsObject&, Exception& e) { reported.push_back(e.Message()); };
    EXPECT_TRUE(x.Value().IsNull());
    ASSERT_EQ(reported.size(), 1u);
    EXPECT_NE(reported[0].find(u"Cannot find node 'missing'"), WideString::npos);
}

namespace {

// Model node of a modelling run: a path, the parent's counter and spans
// over one stream.
class TFakeModelNode : public TTsExprModelNode {
public:
    explicit TFakeModelNode(TStream& s) : stream_(s) {}
    const WideString& ModelPath() const override { return path; }
    int32_t ParentMatchCount() const override { return matchCount; }
    std::unique_ptr<TStream> OpenSpan(const TTsValue& v) override {
        if (!(v.Has(vkSpan) && v.Obj == &stream_)) return nullptr;
        stream_.SetPosition(v.Int);
        auto r = std::make_unique<TTsRestrictedStream>(&stream_, static_cast<int64_t>(v.Float));
        return r;
    }
    WideString path;
    int32_t matchCount = 0;

private:
    TStream& stream_;
};

}  // namespace

TEST(TsExpression, SpanPropertiesGiveStreamsDuringModelling) {
    TStringStream data("hello world");
    Tree t;
    TTsValue span;
    span.Int = 6;
    span.Float = 5;
    span.Obj = &data;
    span.Kinds = vkInt | vkFloat | vkObject | vkSpan;
    t.node->Props().SetValue(u"innerGlobal", span);

    TFakeModelNode model(data);
    Expr x(u"node$innerGlobal b2h", nullptr, t.root.get());
    x.e.ModelNode = &model;
    EXPECT_EQ(x.Value().Str, u"776F726C64");  // "world"
    // Outside modelling the same property is a plain number.
    EXPECT_EQ(Num(u"node$innerGlobal", nullptr, t.root.get()), 5);
}

TEST(TsExpression, LongStreamsCannotBeReadAsBytes) {
    TZeroStream huge(TTsRpnValueEx::MaxRawStreamLength);
    Tree t;
    EXPECT_EQ(MessageOf<ETsReadingLongRawStream>([&] { Eval(u"$ b2h", &huge, t.root.get()); }),
              u"Attempted to read more than 83886079-byte string from raw stream 83886080 bytes long while evaluating "
              u"'$ b2h'.");
    // Reading what is left after the position is fine, and leaves it there.
    huge.SetPosition(TTsRpnValueEx::MaxRawStreamLength - 3);
    EXPECT_EQ(Str(u"$ b2h", &huge, t.root.get()), u"000000");
    EXPECT_EQ(huge.Position(), TTsRpnValueEx::MaxRawStreamLength - 3);
}

namespace {
std::string ResultText(TTsExpression& e) {
    TStream* s = e.ExpressionResult.Stream;
    if (!s) return "<no stream>";
    s->SetPosition(0);
    return s->ReadToEnd();
}
}  // namespace

TEST(TsExpression, FailedEvaluationKeepsThePreviousResult) {
    TStringStream in("abc");
    Tree t;
    Expr x(u"$ '20' h2b xor", &in, t.root.get());
    x.Value();  // a stream result owned by the expression
    ASSERT_NE(x.e.ExpressionResult.Stream, nullptr);
    x.e.Text = u"1 0 /";
    EXPECT_THROW(x.Value(), ERpnDivisionByZero);
    TStream* s = x.e.ExpressionResult.Stream;
    ASSERT_NE(s, nullptr);
    s->SetPosition(0);
    EXPECT_EQ(s->ReadToEnd(), "ABC");

    // The same object evaluated again and again, as the engine does.
    x.e.Text = u"$ '20' h2b xor";
    for (int i = 0; i < 3; ++i) {
        in.SetPosition(i);
        x.Value();
        EXPECT_EQ(ResultText(x.e), std::string("ABC").substr(static_cast<size_t>(i)));
        EXPECT_EQ(in.Position(), i);
    }
}

TEST(TsFunctions, LaterRegistrationsComeFirstAndMayDecline) {
    TTsFunctions reg;
    std::vector<int> calls;
    reg.RegisterHandler(u"f", [&](TTsFuncContext& c) {
        calls.push_back(1);
        c.Target->AssignNum(1);
        return true;
    });
    reg.RegisterHandler(u"f", [&](TTsFuncContext& c) {
        calls.push_back(2);
        c.Target = nullptr;  // declines
        return true;
    });
    Expr x(u"f");
    x.e.SetFunctions(&reg);
    EXPECT_EQ(x.Value().Float, 1);
    EXPECT_EQ(calls, (std::vector<int>{2, 1}));

    // A copy keeps the order, and what is registered later goes first.
    TTsFunctions copy;
    copy.AssignFrom(reg);
    copy.RegisterHandler(u"f", [](TTsFuncContext& c) {
        c.Target->AssignNum(3);
        return true;
    });
    x.e.SetFunctions(&copy);
    EXPECT_EQ(x.Value().Float, 3);

    TTsFunctions declining;
    declining.RegisterHandler(u"g", [](TTsFuncContext&) { return false; });
    declining.RegisterHandler(u"a", [](TTsFuncContext&) { return false; });
    Expr y(u"1 g");
    y.e.SetFunctions(&declining);
    EXPECT_EQ(MessageOf<ETsUnsupportedExprFunction>([&] { y.Value(); }),
              u"No registered RPN expression function handler for 'g' can operate on given parameters in RPN "
              u"expression '1 g'.");
    y.e.Text = u"zz";
    EXPECT_EQ(MessageOf<ETsUnknownExprFunction>([&] { y.Value(); }),
              u"Attempted to call unregistered RPN expression function 'zz' - known ones: a, g.");
}

TEST(TsFunctions, DefaultRegistryNamesEveryStandardFunction) {
    WideString names = DefaultFunctions().NamesText();
    int count = 1;
    for (char16_t c : names) count += c == u',';
    EXPECT_EQ(count, 37);
    WideString msg = MessageOf<ETsUnknownExprFunction>([] { Eval(u"nosuch"); });
    EXPECT_NE(msg.find(u"known ones: "), WideString::npos);
    for (std::u16string_view n : {u"and", u"b2hh", u"cmp_pat", u"int3", u"siblings", u"tooffset"})
        EXPECT_NE(msg.find(n), WideString::npos) << WideToUtf8(n);
    // Setting the default registry stores none.
    TTsExpression e(u"1", nullptr);
    e.SetFunctions(&DefaultFunctions());
    EXPECT_EQ(e.Functions(), nullptr);
}

TEST(TsExpression, ScalarValueConversions) {
    TTsValue iv = TTsValue::FromInt(-7);
    TRpnScalar s = TsValueToScalar(iv);
    EXPECT_EQ(s.Kinds, RpnKind(valNum));
    EXPECT_EQ(s.Num, -7);

    TTsValue mixed = TTsValue::FromStr(u"5");
    mixed.Int = 5;
    mixed.Float = 5.5;  // Float wins over Int
    mixed.SetRaw("r");
    mixed.Kinds |= vkInt | vkFloat;
    s = TsValueToScalar(mixed);
    EXPECT_EQ(s.Kinds, RpnKind(valNum) | RpnKind(valStr) | RpnKind(valBytes));
    EXPECT_EQ(s.Num, 5.5);

    EXPECT_EQ(ScalarToTsValue(TRpnScalar::FromNum(-2147483648.0)).Kinds, vkFloat | vkInt);
    EXPECT_EQ(ScalarToTsValue(TRpnScalar::FromNum(2147483648.0)).Kinds, vkFloat);
    EXPECT_EQ(ScalarToTsValue(TRpnScalar::FromNum(0.5)).Kinds, vkFloat);
    TRpnScalar b = TRpnScalar::FromBytes("xy");
    b.Str = u"t";
    b.Kinds |= RpnKind(valStr) | RpnKind(valCustom);
    TTsValue back = ScalarToTsValue(b);
    EXPECT_EQ(back.Kinds, vkRaw | vkString);
    EXPECT_EQ(back.Raw(), "xy");

    EXPECT_EQ(RpnKindNames(RpnKind(valBytes) | RpnKind(valStr)), u"valBytes, valStr");
    EXPECT_EQ(RpnKindNames(0), u"<none>");
}

TEST(TsExpression, ForeignCustomValuesAreRejected) {
    TTsExpression e(u"1", nullptr);
    TObject foreign;
    TRpnScalar v;
    v.Kinds = RpnKind(valCustom);
    v.Custom = &foreign;
    EXPECT_THROW(e.ExtendedOf(v), ETsBadRpnValueCustom);
    EXPECT_EQ(MessageOf<ETsRpnValueNotExtended>([&] { e.RequireExtended(TRpnScalar::FromNum(1)); }),
              u"Expected an extended RPN value.");
    TRpnScalar plain = TRpnScalar::FromStr(u"s");
    TTsRpnValueEx& ex = e.Extended(plain);
    EXPECT_EQ(plain.Custom, &ex);
    EXPECT_EQ(ex.Value.Str, u"s");
    EXPECT_EQ(&e.Extended(plain), &ex);  // found, not made again
}

TEST(TsExpression, ReferencesThroughTheNodeFinder) {
    // root > a (v 1), b, a (v 2): "a[n]" picks the n-th "a" with the finder.
    auto root = std::make_unique<TTsTreeNode>(u"root");
    root->AddChild(u"a")->Props().SetValue(u"v", TTsValue::FromInt(1));
    root->AddChild(u"b");
    root->AddChild(u"a")->Props().SetValue(u"v", TTsValue::FromInt(2));
    TTsNodeFormulaFinder finder;
    finder.ShiftN({1, 7}, true);
    Expr x(u"a[n]$v", nullptr, root.get());
    x.e.NodeFinder = &finder;
    EXPECT_EQ(x.Value().Float, 2);
    x.e.Text = u"a[0]$v";
    EXPECT_EQ(x.Value().Float, 1);
    // Without the finder, paths go through the tree's own lookup, which
    // refuses selectors.
    x.e.NodeFinder = nullptr;
    EXPECT_THROW(x.Value(), ETsFirstOnPathWithExpr);
    x.e.Text = u"a$v";
    EXPECT_EQ(x.Value().Float, 1);

    // The finder's state shows in the message.
    x.e.NodeFinder = &finder;
    x.e.Text = u"a[5]$v";
    EXPECT_EQ(MessageOf<ETsExprNoNode>([&] { x.Value(); }),
              u"Cannot find node 'a[5]' relative to '\\' referenced in RPN expression (n = 1, .7) 'a[5]$v'.");
    x.e.Text = u"a[5]?$v";
    EXPECT_TRUE(x.Value().IsNull());
}
