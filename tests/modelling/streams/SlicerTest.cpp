// Tests of the result slicer: span reading, text paths, span streams and
// the ownership of the result tree and the streams.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>

#include "library/core/TsNodes.h"
#include "library/modelling/streams/TsmSlicer.h"

using namespace ts;

namespace {

// A stream that reports when it is freed.
class TWatchedStream : public TStringStream {
public:
    TWatchedStream(RawByteString data, bool& freed) : TStringStream(std::move(data)), freed_(freed) {}
    ~TWatchedStream() override { freed_ = true; }

private:
    bool& freed_;
};

void SetSpan(TTsTreeNode* node, std::u16string_view prop, int32_t offset, int64_t length, TStream* s) {
    node->Props().SetValue(WideString(prop), TTsmSlicer::MakeSpan(offset, length, s));
}

// A result tree as a run over "Tessarine 0.79 | x\r\nsecond line" leaves it:
// root > header > version, with a line stream for the first line.
struct TResult {
    TStringStream input{RawByteString("Tessarine 0.79 | x\r\nsecond line")};
    std::unique_ptr<TStringStream> line = std::make_unique<TStringStream>(RawByteString("Tessarine 0.79 | x"));
    std::unique_ptr<TTsTreeNode> root = std::make_unique<TTsTreeNode>(u"root");
    TTsTreeNode* header;
    TTsTreeNode* version;

    TResult() {
        header = root->AddChild(u"header");
        version = header->AddChild(u"version");
        SetSpan(root.get(), u"innerGlobal", 0, 31, &input);
        SetSpan(header, u"start", 0, 10, line.get());
        SetSpan(header, u"innerGlobal", 0, 18, &input);
        SetSpan(version, u"start", 10, 4, line.get());
        SetSpan(version, u"inner", 11, 3, line.get());
        SetSpan(version, u"startGlobal", 10, 4, &input);
        SetSpan(version, u"innerGlobal", 10, 5, &input);
    }
};

}  // namespace

TEST(Slicer, TextPathsReadTheNamedSpans) {
    TResult r;
    TStringStream* line = r.line.get();
    TTsmSlicer s(&r.input, std::move(r.root));
    s.AddStream(std::move(r.line));

    EXPECT_EQ(s.TextOf(u"header\\version$start"), "0.79");
    EXPECT_EQ(s.TextOf(u"header/version$inner"), ".79");
    EXPECT_EQ(s.TextOf(u"header\\version"), "0.79 ");
    EXPECT_EQ(s.TextOf(u"header\\version$"), "0.79 ");
    EXPECT_EQ(s.TextOf(u"header$start"), "Tessarine ");
    EXPECT_EQ(s.TextOf(u""), "Tessarine 0.79 | x\r\nsecond line");
    EXPECT_EQ(s.TextOf(u"$"), s.TextOf(u""));
    // Only the first "$" splits.
    EXPECT_EQ(s.TextOf(u"header$start$x"), "");
    // No such node, or no such property: empty text.
    EXPECT_EQ(s.TextOf(u"header\\missing$start"), "");
    EXPECT_EQ(s.TextOf(u"header\\version$end"), "");

    // From a context node, with parent prefixes.
    s.SetContextNode(s.ResultRoot()->FirstChild(u"header"));
    EXPECT_EQ(s.TextOf(u"version$startGlobal"), "0.79");
    EXPECT_EQ(s.TextOf(u"$start"), "Tessarine ");
    EXPECT_EQ(s.TextOf(u"\\$innerGlobal"), "Tessarine 0.79 | x\r\nsecond line");

    s.SetDefaultProp(u"start");
    EXPECT_EQ(s.TextOf(u"version"), "0.79");
    s.SetDefaultProp(u"");
    EXPECT_EQ(s.DefaultProp(), u"innerGlobal");
    s.SetContextNode(nullptr);
    EXPECT_EQ(s.ContextNode(), s.ResultRoot());

    // Path errors come through.
    EXPECT_THROW(s.TextOf(u"header[0]$start"), ETessarine);
    EXPECT_THROW(s.TextOf(u"header\\$start"), ETessarine);
    EXPECT_EQ(line->Position(), 0);
    EXPECT_EQ(r.input.Position(), 0);
}

TEST(Slicer, ReadSpanCutsAndChecksTheStream) {
    TStringStream input(RawByteString("abcdefghij"));
    TTsmSlicer s(&input);
    TTsValue span = TTsmSlicer::MakeSpan(2, 6, &input);
    EXPECT_EQ(s.ReadSpan(span), "cdefgh");
    EXPECT_EQ(s.ReadSpan(span, 3), "cde");
    EXPECT_EQ(s.ReadSpan(span, 0), "");
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(7, 100, &input)), "hij");
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(70, 5, &input)), "");

    // Values without all four span kinds have no stream data.
    TTsValue partial = span;
    partial.Kinds &= static_cast<uint8_t>(~vkSpan);
    EXPECT_FALSE(TTsmSlicer::HasStreamData(partial));
    EXPECT_EQ(s.ReadSpan(partial), "");
    EXPECT_EQ(TTsmSlicer::SpanOffset(partial), -1);
    EXPECT_EQ(TTsmSlicer::SpanLength(partial), -1);
    EXPECT_EQ(s.ReadSpan(TTsValue::FromStr(u"abc")), "");

    // Corrupt lengths read nothing rather than misbehave; a negative offset
    // is refused.
    TTsValue wild = span;
    wild.Float = std::nan("");
    EXPECT_EQ(TTsmSlicer::SpanLength(wild), 0);
    wild.Float = 1e300;
    EXPECT_EQ(s.ReadSpan(wild), "cdefghij");
    wild.Float = -4;
    EXPECT_EQ(s.ReadSpan(wild), "");
    EXPECT_THROW(s.ReadSpan(TTsmSlicer::MakeSpan(-1, 3, &input)), ERangeError);

    TStringStream other(RawByteString("zzz"));
    try {
        s.ReadSpan(TTsmSlicer::MakeSpan(0, 1, &other));
        FAIL() << "foreign stream read";
    } catch (const ETsmWrongPropStream& e) {
        EXPECT_EQ(e.Message(), u"TTsmSlicer doesn't contain stream TStringStream referred to in a node property.");
        EXPECT_EQ(e.Stream, &other);
        EXPECT_EQ(e.Slicer, &s);
    }
}

TEST(Slicer, SpanStreamsCoverExactlyTheSpan) {
    TStringStream input(RawByteString("0123456789"));
    input.SetPosition(9);
    TTsmSlicer s(&input);
    TTsValue span = TTsmSlicer::MakeSpan(3, 4, &input);

    std::unique_ptr<TTsRestrictedStream> r = s.OpenSpan(span);
    EXPECT_EQ(input.Position(), 9);  // opening does not move the input
    EXPECT_EQ(r->Size(), 4);
    EXPECT_EQ(r->ReadToEnd(), "3456");
    EXPECT_EQ(input.Position(), 9);

    TTsValue wild = TTsmSlicer::MakeSpan(6, 0, &input);
    wild.Float = 1e300;
    r = s.OpenSpan(wild);
    EXPECT_EQ(r->Size(), 4);
    EXPECT_EQ(r->ReadToEnd(), "6789");

    TTsmSpanPosition at = s.SpanPosition(span);
    EXPECT_EQ(at.Stream, &input);
    EXPECT_EQ(at.Length, 4);
    EXPECT_EQ(input.Position(), 3);

    try {
        s.OpenSpan(TTsValue::FromInt(3));
        FAIL() << "span opened without stream data";
    } catch (const ETsmPropWithoutStreamData& e) {
        EXPECT_EQ(e.Message(), u"Node property doesn't contain source stream data for TTsmSlicer.");
    }
    EXPECT_THROW(s.SpanPosition(TTsValue()), ETsmPropWithoutStreamData);
    TStringStream other(RawByteString("zzz"));
    EXPECT_THROW(s.OpenSpan(TTsmSlicer::MakeSpan(0, 1, &other)), ETsmWrongPropStream);
}

TEST(Slicer, OwnsTheResultAndAddedStreamsButNotTheInput) {
    bool inputFreed = false, lineFreed = false, borrowedFreed = false;
    auto input = std::make_unique<TWatchedStream>("input", inputFreed);
    TWatchedStream borrowed("borrowed", borrowedFreed);
    {
        TTsmSlicer s(input.get());
        EXPECT_FALSE(s.OwnsResult());
        auto root = std::make_unique<TTsTreeNode>(u"r");
        SetSpan(root.get(), u"inner", 1, 3, &borrowed);
        s.SetResultRoot(std::move(root));
        EXPECT_TRUE(s.OwnsResult());
        s.AddStream(std::make_unique<TWatchedStream>("line", lineFreed));
        s.AddStream(borrowed);
        EXPECT_EQ(s.StreamCount(), 3);
        EXPECT_EQ(s.TextOf(u"$inner"), "orr");
    }
    EXPECT_TRUE(lineFreed);
    EXPECT_FALSE(inputFreed);
    EXPECT_FALSE(borrowedFreed);

    // A released tree outlives the slicer; a borrowed one is left alone.
    std::unique_ptr<TTsTreeNode> kept;
    TTsTreeNode other(u"other");
    {
        TTsmSlicer s(input.get(), std::make_unique<TTsTreeNode>(u"result"));
        kept = s.ReleaseResultRoot();
        EXPECT_FALSE(s.OwnsResult());
        EXPECT_EQ(s.ResultRoot(), kept.get());
        s.SetBorrowedResultRoot(&other);
        EXPECT_EQ(s.ContextNode(), &other);
    }
    EXPECT_EQ(kept->Name(), u"result");
    EXPECT_EQ(other.Name(), u"other");

    // Replacing an owned tree frees it, and a context inside it is dropped
    // rather than left dangling.
    TTsmSlicer s(input.get(), std::make_unique<TTsTreeNode>(u"first"));
    s.SetContextNode(s.ResultRoot()->AddChild(u"inside"));
    s.SetResultRoot(std::make_unique<TTsTreeNode>(u"second"));
    EXPECT_EQ(s.ContextNode()->Name(), u"second");
    s.SetContextNode(s.ResultRoot()->AddChild(u"inside"));
    s.SetBorrowedResultRoot(s.ResultRoot());  // the same tree: still owned
    EXPECT_TRUE(s.OwnsResult());
    s.SetBorrowedResultRoot(&other);
    EXPECT_FALSE(s.OwnsResult());
    EXPECT_EQ(s.ContextNode(), &other);
}

TEST(Slicer, ReadPropTextUsesTheGivenStreamAndRestoresIt) {
    TStringStream input(RawByteString("key = value"));
    input.SetPosition(4);
    TTsTreeNode node(u"n");
    SetSpan(&node, u"inner", 6, 5, &input);
    SetSpan(&node, u"start", 0, 3, nullptr);
    EXPECT_EQ(TTsmSlicer::ReadPropText(input, &node, u"inner"), "value");
    EXPECT_EQ(input.Position(), 4);
    EXPECT_EQ(TTsmSlicer::ReadPropText(input, &node, u"missing"), "");
    EXPECT_EQ(TTsmSlicer::ReadPropText(input, nullptr, u"inner"), "");
    EXPECT_THROW(TTsmSlicer::ReadPropText(input, &node, u"start"), ETsmWrongPropStream);
    EXPECT_EQ(input.Position(), 4);
}

TEST(Slicer, FindsEachOfManyLineStreams) {
    TStringStream input(RawByteString("base"));
    TTsmSlicer s(&input);
    std::vector<TStream*> lines;
    for (int i = 0; i < 2000; ++i) {
        auto line = std::make_unique<TStringStream>("line " + std::to_string(i));
        lines.push_back(line.get());
        s.AddStream(std::move(line));
    }
    for (int i : {0, 1, 999, 1999})
        EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(5, 10, lines[static_cast<size_t>(i)])), std::to_string(i));
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 4, &input)), "base");
}

// Views span several blocks; each is found by its own address only, and
// spans into them read, clip and fail as spans into any held stream do.
TEST(Slicer, ViewsOfAnInputAreFoundAndReadLikeStreams) {
    const RawByteString text = "alpha beta gamma";
    TStringStream input(text);
    TTsmSlicer s(&input);
    std::vector<TTsMemoryView*> views;
    const int starts[] = {0, 6, 11};
    for (int i = 0; i < 5000; ++i) views.push_back(&s.AddView(input.Memory() + starts[i % 3], 5));
    EXPECT_EQ(s.ViewCount(), 5000);
    EXPECT_EQ(s.StreamCount(), 1);
    for (int i : {0, 15, 16, 17, 4095, 4999}) {
        TTsMemoryView* v = views[static_cast<size_t>(i)];
        ASSERT_EQ(s.FindView(v), v) << i;
        EXPECT_TRUE(s.Holds(v));
        EXPECT_EQ(s.FindStream(v), nullptr) << "a view has no buffered reader";
        const char* expected[] = {"alpha", "beta ", "gamma"};
        EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 5, v)), expected[i % 3]) << i;
    }
    // Inside a view, between two of them, and elsewhere: nothing is followed.
    const auto* inside = reinterpret_cast<const TObject*>(reinterpret_cast<const char*>(views[20]) + 1);
    EXPECT_EQ(s.FindView(inside), nullptr);
    EXPECT_EQ(s.FindView(&input), nullptr);
    EXPECT_FALSE(s.Holds(nullptr));
    TTsmSlicer other(nullptr);
    EXPECT_EQ(other.FindView(views[0]), nullptr);
    EXPECT_THROW(other.ReadSpan(TTsmSlicer::MakeSpan(0, 5, views[0])), ETsmWrongPropStream);

    TTsMemoryView* beta = views[1];
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(2, 100, beta)), "ta ") << "cut at the view's end";
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(9, 1, beta)), "");
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(1, 100, beta), 2), "et");
    EXPECT_THROW(s.ReadSpan(TTsmSlicer::MakeSpan(-1, 2, beta)), ERangeError);
    std::unique_ptr<TTsRestrictedStream> open = s.OpenSpan(TTsmSlicer::MakeSpan(1, 100, beta));
    EXPECT_EQ(open->Size(), 4);
    beta->Seek(3, TSeekOrigin::soBeginning);
    EXPECT_EQ(s.TextOfNode(nullptr, u"x"), "");
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 4, beta)), "beta");
    EXPECT_EQ(beta->Position(), 3) << "reading a span leaves a view where it was";
    EXPECT_THROW(beta->Write("x", 1), EWriteError);
}

// A streaming run frees what its finished records used: removed streams and
// views are no longer held nor readable, the others stay readable, and the
// memory of views comes back once a block has no view left.
TEST(Slicer, RemovedStreamsAndViewsAreGoneAndTheRestStays) {
    const RawByteString text = "alpha beta gamma";
    TStringStream input(text);
    TTsmSlicer s(&input);
    TBufStream& owned = s.AddStream(std::make_unique<TStringStream>(RawByteString("line")));
    const TObject* line = &owned.Stream();
    s.AddStream(input);  // held twice: both holders go together
    std::vector<TTsMemoryView*> views;
    for (int i = 0; i < 40; ++i) views.push_back(&s.AddView(input.Memory() + 6, 4));

    EXPECT_TRUE(s.RemoveStream(views[3]));
    EXPECT_FALSE(s.RemoveStream(views[3])) << "a removed view is no longer held";
    EXPECT_EQ(s.FindView(views[3]), nullptr);
    EXPECT_THROW(s.ReadSpan(TTsmSlicer::MakeSpan(0, 4, views[3])), ETsmWrongPropStream);
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 4, views[4])), "beta") << "its neighbours stay";
    EXPECT_EQ(s.ViewCount(), 39);

    EXPECT_TRUE(s.RemoveStream(line));
    EXPECT_FALSE(s.Holds(line));
    EXPECT_EQ(s.StreamCount(), 2);
    EXPECT_TRUE(s.RemoveStream(&input));
    EXPECT_EQ(s.StreamCount(), 0) << "every holder of the stream went";
    EXPECT_FALSE(s.RemoveStream(nullptr));

    // Everything but one view and the input, held again.
    s.AddStream(input);
    s.AddStream(std::make_unique<TStringStream>(RawByteString("other")));
    s.RemoveStreamsExcept({views[39], &input});
    EXPECT_EQ(s.ViewCount(), 1);
    EXPECT_EQ(s.StreamCount(), 1);
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 5, &input)), "alpha");
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(1, 2, views[39])), "et");
    for (int i = 0; i < 39; ++i) ASSERT_FALSE(s.Holds(views[static_cast<size_t>(i)])) << i;
    // Views made afterwards are found, whichever block they land in.
    TTsMemoryView& fresh = s.AddView(input.Memory(), 5);
    EXPECT_EQ(s.FindView(&fresh), &fresh);
    EXPECT_TRUE(s.RemoveStream(views[39]));
    EXPECT_EQ(s.ReadSpan(TTsmSlicer::MakeSpan(0, 5, &fresh)), "alpha");
    EXPECT_EQ(s.ViewCount(), 1);
}
