// Running a model over input, and the tree form of its result.
#include "debugger/driver/TsdbgRun.h"

#include <algorithm>

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
    // Enough bytes for one character more than is shown, in any code page,
    // so that a cut is seen without reading a long text whole.
    constexpr int64_t kBytes = (ResultTextLimit + 1) * 4;
    WideString out;
    std::vector<std::pair<const TTsTreeNode*, size_t>> todo{{&root, 0}};
    while (!todo.empty()) {
        auto [node, depth] = todo.back();
        todo.pop_back();
        out.append(depth * 2, u' ');
        out += node->Name().empty() ? WideString(u"<unnamed>") : node->Name();
        if (std::optional<WideString> text = ResultNodeText(slicer, *node, codepage, kBytes))
            out += u" = \"" + Escaped(*text, ResultTextLimit) + u"\"";
        out += u'\n';
        for (int i = node->ChildCount() - 1; i >= 0; --i) todo.push_back({node->ChildByIndex(i), depth + 1});
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
        run->Compiler->CancelToken = run->Cancel;
        run->Compiler->Compile(*run->ModelTree);
    } catch (const std::exception& e) {
        failed(e, TRunStage::Model);
        return run;
    }

    TTsmCompiler& compiler = *run->Compiler;
    // Reports are kept and the run goes on; the caller judges them.
    compiler.OnError = [reports = &run->Reports, onReport = request.OnReport](TTsObject&, Exception& e) {
        TRunReport report;
        report.Error = e.Clone();
        report.IsWarning = dynamic_cast<const ETsmWarning*>(&e) != nullptr;
        report.IsInputLeft = dynamic_cast<const ETsmInputLeft*>(&e) != nullptr;
        report.Offset = TsmErrorOffset(e).value_or(-1);
        reports->push_back(std::move(report));
        if (onReport) onReport(e);
    };
    if (request.BeforeRun) request.BeforeRun(compiler);
    const TTsmFarthestFailure farthest(compiler);
    compiler.KeepFailedResult = true;
    try {
        run->Result = compiler.Modell(*run->Stream);
    } catch (const std::exception& e) {
        failed(e, TRunStage::Input);
        run->Result = std::move(compiler.FailedResult);
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

TInputPositions::TInputPositions(std::string_view bytes, int32_t codepage)
    : size_(static_cast<int64_t>(bytes.size())) {
    if (codepage != CpUtf8) return;
    // UTF-8: a lead byte starts a character (two UTF-16 units from four
    // bytes on); continuation bytes belong to the character before them.
    charOfByte_.resize(bytes.size() + 1);
    int32_t chars = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const bool continuation = (b & 0xC0) == 0x80;
        if (!continuation) charOfByte_[i] = chars;
        else charOfByte_[i] = i > 0 ? charOfByte_[i - 1] : 0;
        if (!continuation) chars += b >= 0xF0 ? 2 : 1;
    }
    charOfByte_[bytes.size()] = chars;
}

int64_t TInputPositions::CharAt(int64_t byteOffset) const {
    const int64_t at = std::clamp<int64_t>(byteOffset, 0, size_);
    return charOfByte_.empty() ? at : charOfByte_[static_cast<size_t>(at)];
}

int64_t TInputPositions::ByteAt(int64_t charPosition) const {
    if (charOfByte_.empty()) return std::clamp<int64_t>(charPosition, 0, size_);
    // The first byte of the character at that position.
    const auto it = std::lower_bound(charOfByte_.begin(), charOfByte_.end(), static_cast<int32_t>(std::max<int64_t>(charPosition, 0)));
    return std::min<int64_t>(it - charOfByte_.begin(), size_);
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

}  // namespace

const TTsTreeNode* DeepestNodeAt(const TTsTreeNode& root, int64_t offset) {
    const TTsTreeNode* found = Holds(root, offset) ? &root : nullptr;
    const TTsTreeNode* node = &root;
    for (;;) {
        const TTsTreeNode* next = nullptr;
        for (int i = 0; i < node->ChildCount() && !next; ++i)
            if (Holds(*node->ChildByIndex(i), offset)) next = node->ChildByIndex(i);
        if (!next) return found;
        found = node = next;
    }
}

}  // namespace ts
