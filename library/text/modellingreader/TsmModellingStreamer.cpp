// The modelling reader: the canonical "Model" model run over the text, and
// each "line" element of its result read into the line record.
#include "library/text/modellingreader/TsmModellingStreamer.h"

#include <algorithm>

#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmExplain.h"
#include "library/script/charset/Charsets.h"
#include "library/text/modellingreader/TsmReadExplain.h"
#include "support/Strings.h"

namespace ts {

namespace {

bool IsIdentChar(char16_t c) {
    return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'_';
}

}  // namespace

const TTsStreamerClassInfo TTsmModellingStreamer::Class = {
    {TTsmModellingStreamer::StaticClassName(), nullptr},
    [](TTsTreeNode* root) -> std::unique_ptr<TTsStreamer> { return std::make_unique<TTsmModellingStreamer>(root); }};

TTsmModellingStreamer::TTsmModellingStreamer(TTsTreeNode* root) : TTsmTextStreamer(root) {}

TTsmModellingStreamer::~TTsmModellingStreamer() = default;

WideString TTsmModellingStreamer::TextOf(const TTsTreeNode& line, std::u16string_view child, std::u16string_view prop) {
    const TTsTreeNode* node = line.FirstChild(child);
    if (!node) return {};
    return BytesToWide(Options.Codepage, slicer_->TextOfNode(node, prop));
}

void TTsmModellingStreamer::ReadMerges(const TTsTreeNode* list, TTsStreamingMerges& merges) {
    if (!list) return;
    for (int i = 0; i < list->ChildCount(); ++i) {
        const TTsTreeNode& item = *list->ChildByIndex(i);
        if (item.Name() == u"name") {
            merges.push_back(
                TTsStreamingMerge{BytesToWide(Options.Codepage, slicer_->TextOfNode(&item, u"startGlobal")), false});
        } else if (item.Name() == u"isNonConsuming" && !merges.empty()) {
            merges.back().NonConsuming = true;
        }
    }
}

void TTsmModellingStreamer::ReadLineElement(const TTsTreeNode& line) {
    TTsStreamingProps& p = Props;
    p.Clear();
    p.Level = static_cast<int32_t>(TextOf(line, u"indent", u"innerGlobal").size() / 2);

    auto has = [&line](std::u16string_view name) { return line.FirstChild(name) != nullptr; };
    for (const TTsModelFlagInfo& f : ModelFlags) p.*f.Member = has(f.Element);
    // An off-context item inherits unless "@" is written.
    if (p.IsOffContext) p.IsInheriting = !p.IsInheriting;

    const WideString order = TextOf(line, u"order", u"startGlobal");
    if (!order.empty()) {
        std::optional<int32_t> v = TryStrToInt(order);
        if (!v) throw EConvertError(Format(u"'%s' is not a valid integer value", {order}));
        p.Order = *v;
    }

    p.Path = TextOf(line, u"nameAsPath", u"innerGlobal");
    if (p.Path.empty()) {
        p.Name = TextOf(line, u"name", u"startGlobal");
        p.Path = TextOf(line, u"path", u"innerGlobal");
        if (!p.Path.empty()) p.IsInheriting = HasLowerCase(p.Name);
    } else if (!has(u"path")) {
        size_t start = p.Path.size();
        while (start > 0 && IsIdentChar(p.Path[start - 1])) --start;
        if (start == p.Path.size()) Fail(u"\"path\" contains none of a-z, A-Z, 0-9 or '_'");
        p.Name = p.Path.substr(start);
    } else {
        Fail(u"defining item's \"path\" twice");
    }

    p.Cond = TextOf(line, u"cond", u"innerGlobal");
    ReadMerges(line.FirstChild(u"leftMerges"), p.MergesL);
    ReadMerges(line.FirstChild(u"rightMerges"), p.MergesR);
}

void TTsmModellingStreamer::Explain(TTsmRun& run, ETsmMismatch& error) {
    // Retraced with a listener, so that reads that succeed never pay for
    // listening.
    run.OnError = [](TTsObject&, Exception&) {};
    // The first run handed its reports on already.
    const TTsmFarthestFailure farthest(run);
    TStream& in = *Stream();
    in.Seek(StartPos(), TSeekOrigin::soBeginning);
    try {
        run.Modell(in);
    } catch (const std::exception&) {
        // The failure is known; only what the listener saw is wanted.
    }
    // The text of the line before the place, for the word the author
    // wrote last; the line starts within the bytes read before it or the
    // word is cut anyway.
    constexpr int64_t kLookBack = 256;
    const int64_t from = std::max(StartPos(), farthest.Offset - kLookBack);
    RawByteString before;
    if (farthest.Offset > from) {
        before.resize(static_cast<size_t>(farthest.Offset - from));
        in.Seek(from, TSeekOrigin::soBeginning);
        before.resize(
            static_cast<size_t>(std::max<int64_t>(0, in.Read(before.data(), static_cast<int64_t>(before.size())))));
    }
    auto explanation = std::make_shared<TTsmReadExplanation>(
        ExplainFarthestFailure(run.Model(), farthest, BytesToWide(Options.Codepage, before)));
    if (!explanation->Text.empty()) error.Extra = std::move(explanation);
}

void TTsmModellingStreamer::DoRead() {
    current_ = &NewRoot();
    prevLevel_ = -1;
    TStream& in = *Stream();
    in.Seek(StartPos(), TSeekOrigin::soBeginning);
    // The same bound on lines as the native reader's, before any modelling.
    CheckLineLengths(BytesToWide(Options.Codepage, in.ReadToEnd()));
    in.Seek(StartPos(), TSeekOrigin::soBeginning);

    // A run of its own over the shared canonical model: what this read
    // sets stays with this read.
    TTsmRun run(CanonicalModel(u"Model"));
    run.Options = Options;
    run.CancelToken = CancelToken;
    // The model's warnings are this reader's reports.
    run.OnError = [this](TTsObject&, Exception& e) { HandleError(e.Clone()); };
    try {
        slicer_ = run.Modell(in);
    } catch (ETsmMismatch& e) {
        // A report of the model (FAIL, WARN) already says what is wrong.
        if (!dynamic_cast<const ETsmUserMessage*>(&e)) Explain(run, e);
        throw;
    }

    const TTsTreeNode& result = *slicer_->ResultRoot();
    for (int i = 0; i < result.ChildCount(); ++i) {
        const TTsTreeNode& line = *result.ChildByIndex(i);
        if (line.Name() != u"line") continue;
        lineIndex_ = i;
        line_ = BytesToWide(Options.Codepage, slicer_->TextOfNode(&line, u"innerGlobal"));
        slicer_->SetContextNode(const_cast<TTsTreeNode*>(&line));
        ReadLineElement(line);
        BuildNode();
    }
    slicer_.reset();
}

}  // namespace ts
