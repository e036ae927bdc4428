// Running a model over input, and the tree form of its result.
#include "debugger/driver/TsdbgRun.h"

#include <algorithm>

#include "library/core/TsTreeWalk.h"
#include "library/modelling/TsmExplain.h"
#include "library/modelling/TsmNodes.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

WideString Decoded(int32_t codepage, const RawByteString& bytes) {
    return codepage == CpUtf8 ? Utf8ToWide(bytes) : BytesToWide(codepage, bytes);
}

std::unique_ptr<Exception> CopyOf(const std::exception& error) {
    if (const auto* e = dynamic_cast<const Exception*>(&error)) return e->Clone();
    return std::make_unique<Exception>(Utf8ToWide(error.what()));
}

}  // namespace

std::optional<WideString> ResultNodeText(TTsmSlicer& slicer, const TTsTreeNode& node, int32_t codepage,
                                         int64_t maxBytes) {
    const TTsProperty* start = node.Props().Find(TsmStartGlobalProp);
    const TTsProperty* inner = node.Props().Find(TsmInnerGlobalProp);
    if (node.ChildCount() == 0 && start && TTsmSlicer::HasStreamData(start->Value)) {
        TTsValue whole = start->Value;
        const int64_t from = TTsmSlicer::SpanOffset(whole);
        int64_t to = from + TTsmSlicer::SpanLength(whole);
        if (inner && TTsmSlicer::HasStreamData(inner->Value) && inner->Value.Obj == whole.Obj &&
            TTsmSlicer::SpanOffset(inner->Value) >= from)
            to = std::max(to, TTsmSlicer::SpanOffset(inner->Value) + TTsmSlicer::SpanLength(inner->Value));
        whole.Float = static_cast<double>(to - from);
        return Decoded(codepage, slicer.ReadSpan(whole, maxBytes));
    }
    if (inner) return Decoded(codepage, slicer.TextOfNode(&node, TsmInnerGlobalProp, maxBytes));
    return std::nullopt;
}

WideString ResultTreeText(TTsmSlicer& slicer, const TTsTreeNode& root, int32_t codepage) {
    WideString out;
    for (auto [node, depth] : PreOrder(root)) {
        out.append(static_cast<size_t>(depth) * 2, u' ');
        out += node->Name().empty() ? WideString(u"<unnamed>") : node->Name();
        if (std::optional<WideString> text = ResultNodeText(slicer, *node, codepage, ResultTextBytes))
            out += u" = \"" + Escaped(*text, ResultTextLimit) + u"\"";
        out += u'\n';
    }
    return out;
}

bool TModelRun::HasFailReports() const {
    return std::any_of(Reports.begin(), Reports.end(),
                       [](const TRunReport& r) { return !r.IsWarning && !r.IsInputLeft; });
}

bool TModelRun::HasInputLeft() const {
    return std::any_of(Reports.begin(), Reports.end(), [](const TRunReport& r) { return r.IsInputLeft; });
}

WideString TModelRun::TreeText() const {
    const TTsTreeNode* root = ResultRoot();
    return root ? ResultTreeText(*Result, *root, Codepage) : WideString();
}

std::unique_ptr<TModelRun> RunModel(TModelRunRequest request) {
    auto run = std::make_unique<TModelRun>();
    run->Stream = std::make_unique<TStringStream>(std::move(request.Input));
    run->Codepage = request.Codepage;
    run->Cancel = request.Cancel;
    auto failed = [&run](const std::exception& error, TRunStage stage) {
        run->Error = CopyOf(error);
        run->ErrorStage = stage;
        run->ErrorOffset = TsmErrorOffset(error).value_or(-1);
    };
    try {
        run->ModelTree = ReadModelText(request.ModelText, TModelReader::Modelling, request.Read, &run->Cancel);
        run->Compiler = std::make_unique<TTsmCompiler>();
        run->Compiler->Options.Codepage = request.Codepage;
        run->Compiler->Options.LineBreak = request.LineBreak;
        run->Compiler->Compile(*run->ModelTree);
    } catch (const std::exception& e) {
        failed(e, TRunStage::Model);
        return run;
    }

    // The compiled model is only read; the run holds its settings.
    TTsmRun modelRun(*run->Compiler);
    modelRun.CancelToken = run->Cancel;
    modelRun.Limits = request.Limits;
    // Reports are kept and the run goes on; the caller judges them.
    modelRun.OnError = [reports = &run->Reports, onReport = request.OnReport](TTsObject&, Exception& e) {
        TRunReport report;
        report.Error = e.Clone();
        report.IsWarning = dynamic_cast<const ETsmWarning*>(&e) != nullptr;
        report.IsInputLeft = dynamic_cast<const ETsmInputLeft*>(&e) != nullptr;
        report.Offset = TsmErrorOffset(e).value_or(-1);
        reports->push_back(std::move(report));
        if (onReport) onReport(e);
    };
    if (request.BeforeRun) request.BeforeRun(modelRun);
    const TTsmFarthestFailure farthest(modelRun);
    modelRun.KeepFailedResult = true;
    try {
        run->Result = modelRun.Modell(request.InputStream ? *request.InputStream : *run->Stream);
    } catch (const std::exception& e) {
        failed(e, TRunStage::Input);
        run->Result = std::move(modelRun.FailedResult);
        run->Partial = run->Result != nullptr;
    }
    if ((run->Error || run->HasInputLeft()) && farthest.Offset >= 0 && !farthest.Tried.empty()) {
        run->FarthestOffset = farthest.Offset;
        run->Expected = farthest.ExpectedText();
        run->Chain = farthest.ChainText();
    }
    return run;
}

// ---- Positions ------------------------------------------------------------------

TInputLines::TInputLines(RawByteString bytes, int32_t codepage) : bytes_(std::move(bytes)), codepage_(codepage) {
    for (size_t i = 0; i < bytes_.size(); ++i) {
        const char c = bytes_[i];
        if (c == '\r' && i + 1 < bytes_.size() && bytes_[i + 1] == '\n') ++i;
        if (c == '\n' || c == '\r') starts_.push_back(static_cast<int64_t>(i + 1));
    }
}

std::string_view TInputLines::Line(int32_t line) const {
    const auto at = static_cast<size_t>(starts_[static_cast<size_t>(line)]);
    size_t end = at;
    while (end < bytes_.size() && bytes_[end] != '\n' && bytes_[end] != '\r') ++end;
    return std::string_view(bytes_).substr(at, end - at);
}

int32_t TInputLines::Units(std::string_view bytes) const {
    return static_cast<int32_t>(Decoded(codepage_, RawByteString(bytes)).size());
}

TInputLines::TPlace TInputLines::PlaceOf(int64_t byteOffset) const {
    const int64_t at = std::clamp<int64_t>(byteOffset, 0, static_cast<int64_t>(bytes_.size()));
    const auto it = std::upper_bound(starts_.begin(), starts_.end(), at) - 1;
    const auto line = static_cast<int32_t>(it - starts_.begin());
    const std::string_view text = Line(line);
    const auto inLine = std::min<size_t>(static_cast<size_t>(at - *it), text.size());
    return {line, Units(text.substr(0, inLine))};
}

int64_t TInputLines::OffsetOf(TPlace place) const {
    const int32_t line = std::clamp(place.Line, 0, LineCount() - 1);
    const std::string_view text = Line(line);
    // The bytes of the line's first units; a place inside a surrogate pair
    // is the pair's start.
    const WideString decoded = Decoded(codepage_, RawByteString(text));
    size_t units = std::min<size_t>(static_cast<size_t>(std::max(place.Column, 0)), decoded.size());
    if (units > 0 && decoded[units - 1] >= 0xD800 && decoded[units - 1] < 0xDC00) --units;
    const size_t lo = std::min(WideToBytes(codepage_, decoded.substr(0, units)).size(), text.size());
    return starts_[static_cast<size_t>(line)] + static_cast<int64_t>(lo);
}

// ---- Spans ----------------------------------------------------------------------

std::optional<TByteSpan> NodeSpan(const TTsTreeNode& node, std::u16string_view globalProp) {
    const TTsProperty* p = node.Props().Find(globalProp);
    if (!p || !TTsmSlicer::HasStreamData(p->Value)) return std::nullopt;
    return TByteSpan{TTsmSlicer::SpanOffset(p->Value), TTsmSlicer::SpanLength(p->Value)};
}

namespace {

// [from, to) over a node's start, inner and end spans.
std::optional<std::pair<int64_t, int64_t>> Extent(const TTsTreeNode& node) {
    std::optional<std::pair<int64_t, int64_t>> out;
    for (std::u16string_view prop : {TsmStartGlobalProp, TsmInnerGlobalProp, TsmEndGlobalProp}) {
        if (std::optional<TByteSpan> s = NodeSpan(node, prop)) {
            if (!out) out.emplace(s->Offset, s->Offset + s->Length);
            out->first = std::min(out->first, s->Offset);
            out->second = std::max(out->second, s->Offset + s->Length);
        }
    }
    return out;
}

bool Holds(const TTsTreeNode& node, int64_t offset) {
    const auto e = Extent(node);
    return e && e->first <= offset && offset < e->second;
}

// The child holding the offset: children usually lie in input order, so a
// binary search by their starts finds it; where they do not (result paths
// can place nodes anywhere) or the offset falls between them, every child
// is asked.
const TTsTreeNode* ChildAt(const TTsTreeNode& node, int64_t offset) {
    int lo = 0, hi = node.ChildCount() - 1, candidate = -1;
    while (lo <= hi) {
        const int mid = lo + (hi - lo) / 2;
        const auto e = Extent(*node.ChildByIndex(mid));
        if (!e) break;
        if (e->first <= offset) {
            candidate = mid;
            lo = mid + 1;
        } else {
            hi = mid - 1;
        }
    }
    if (candidate >= 0 && Holds(*node.ChildByIndex(candidate), offset)) return node.ChildByIndex(candidate);
    for (int i = 0; i < node.ChildCount(); ++i)
        if (Holds(*node.ChildByIndex(i), offset)) return node.ChildByIndex(i);
    return nullptr;
}

}  // namespace

const TTsTreeNode* DeepestNodeAt(const TTsTreeNode& root, int64_t offset) {
    const TTsTreeNode* found = Holds(root, offset) ? &root : nullptr;
    for (const TTsTreeNode* node = &root; (node = ChildAt(*node, offset));) found = node;
    return found;
}

}  // namespace ts
