// TTsScript: the section list and its lookups, and Load, which runs the
// canonical "Script" model over the file with the two routines the model
// calls (checkVersion, convertCharset) and reads the result tree back.
#include "library/script/TsScript.h"

#include <algorithm>

#include "library/modelling/TsmCompiler.h"
#include "library/modelling/streams/TsmSlicer.h"
#include "library/script/charset/Charsets.h"
#include "library/text/TsStreamers.h"
#include "support/Strings.h"

namespace ts {

namespace {

// Bytes read to find the file's line break.
constexpr int64_t LineBreakSniffSize = 2048;

// Span texts are bytes; the system code page makes them text.
WideString SpanText(TTsmSlicer& slicer, const TTsTreeNode* node, std::u16string_view prop) {
    return Utf8ToWide(slicer.TextOfNode(node, prop));
}

// The text of the file's rest in a code page, as UTF-8. Decoded between zero
// bytes, which the conversion would otherwise take as the end of the text.
RawByteString ToUtf8(int32_t codepage, std::string_view bytes) {
    WideString text;
    size_t pos = 0;
    for (;;) {
        const size_t zero = bytes.find('\0', pos);
        text += BytesToWide(codepage, bytes.substr(pos, zero == std::string_view::npos ? zero : zero - pos));
        if (zero == std::string_view::npos) break;
        text += u'\0';
        pos = zero + 1;
    }
    return WideToUtf8(text);
}

}  // namespace

// One Load: what the routines learn during the run and what reading the
// result needs from it.
struct TTsScriptLoad {
    TTsScriptLoad(TTsScript& script, TTsmRun& run, TStream& base)
        : Script(script), Run(&run), Base(&base), BaseStart(base.Position()) {}

    TTsScript& Script;
    TTsmRun* Run = nullptr;  // while the model runs
    // Where the file starts in the caller's stream; lines count from here.
    TStream* Base = nullptr;
    int64_t BaseStart = 0;
    // The re-encoded rest of the file and where it starts in Base.
    TStream* Converted = nullptr;
    int64_t ConvertedAt = 0;

    bool CheckVersion(TTsFuncContext& ctx);
    bool ConvertCharset(TTsFuncContext& ctx);
    void ReadResult(TTsmSlicer& slicer);

    void ReadVersions(TTsmSlicer& slicer, const TTsTreeNode& header, TTsVersions& versions);
    int32_t LineOf(TTsmSlicer& slicer, const TTsTreeNode& header);
    int64_t CountLineBreaks(TTsmSlicer& slicer, TStream* stream, int64_t from, int64_t to);

    RawByteString lineBreak_;
    // The line count up to lineOffset_ in lineStream_, kept from header to
    // header so that the file is scanned once.
    TStream* lineStream_ = nullptr;
    int64_t lineOffset_ = 0;
    int64_t lines_ = 0;
};

bool TTsScriptLoad::CheckVersion(TTsFuncContext& ctx) {
    TTsTreeNode* node = ctx.Expression->BaseNode;
    if (node) {
        const RawByteString text = Run->ModellingSlicer().TextOfNode(node->FirstChild(u"version"), u"inner");
        if (!text.empty()) {
            const TTsVersion version = TTsVersions::Parse(Utf8ToWide(text));
            if (version > TTsVersions::LibraryVersion)
                Script.HandleError(std::make_unique<ETsLaterScriptVersion>(&Script, version));
        }
    }
    ctx.Target->AssignBool(node != nullptr);
    return true;
}

bool TTsScriptLoad::ConvertCharset(TTsFuncContext& ctx) {
    TTsTreeNode* node = ctx.Expression->BaseNode;
    if (node) {
        TStream& input = Run->CurrentInput();
        const int64_t at = input.Position();
        const RawByteString name = Run->ModellingSlicer().TextOfNode(node->FirstChild(u"charset"), u"start");
        const int32_t codepage = name.empty() ? CpUtf8 : CodepageOfCharset(name);
        if (codepage == CpUnknown) throw ETsBadScriptCharset(&Script, Utf8ToWide(name));
        if (codepage != CpUtf8) {
            const RawByteString rest = input.ReadToEnd();
            input.Seek(at, TSeekOrigin::soBeginning);
            auto converted = std::make_unique<TMemoryStream>(ToUtf8(codepage, rest));
            // Only one conversion is counted for lines; the model allows one.
            if (!Converted) {
                Converted = converted.get();
                ConvertedAt = at;
            }
            Run->PushInput(std::move(converted));
        }
    }
    ctx.Target->AssignBool(node != nullptr);
    return true;
}

int64_t TTsScriptLoad::CountLineBreaks(TTsmSlicer& slicer, TStream* stream, int64_t from, int64_t to) {
    if (to <= from || lineBreak_.empty()) return 0;
    if (!slicer.Holds(stream)) return 0;
    // Read in pieces that overlap by the line break's length less one, so a
    // break across two pieces is seen once.
    constexpr int64_t Piece = 1 << 16;
    const int64_t overlap = static_cast<int64_t>(lineBreak_.size()) - 1;
    int64_t count = 0;
    for (int64_t pos = from; pos < to;) {
        const int64_t len = std::min(Piece, to - pos);
        const RawByteString bytes = slicer.ReadSpan(
            TTsmSlicer::MakeSpan(static_cast<int32_t>(pos), len + std::min(overlap, to - pos - len), stream));
        for (size_t i = bytes.find(lineBreak_); i != RawByteString::npos && static_cast<int64_t>(i) < len;
             i = bytes.find(lineBreak_, i + lineBreak_.size()))
            ++count;
        if (static_cast<int64_t>(bytes.size()) < len) break;
        pos += len;
    }
    return count;
}

int32_t TTsScriptLoad::LineOf(TTsmSlicer& slicer, const TTsTreeNode& header) {
    const TTsProperty* start = header.Props().Find(u"start");
    if (!start || !TTsmSlicer::HasStreamData(start->Value)) return static_cast<int32_t>(lines_);
    auto* stream = dynamic_cast<TStream*>(start->Value.Obj);
    const int64_t offset = TTsmSlicer::SpanOffset(start->Value);
    if (stream != lineStream_ || offset < lineOffset_) {
        lines_ = 0;
        lineOffset_ = stream == Base ? BaseStart : 0;
        if (stream == Converted && Converted) lines_ = CountLineBreaks(slicer, Base, BaseStart, ConvertedAt);
        lineStream_ = stream;
    }
    lines_ += CountLineBreaks(slicer, stream, lineOffset_, offset);
    lineOffset_ = std::max(lineOffset_, offset);
    return static_cast<int32_t>(std::min<int64_t>(lines_, INT32_MAX));
}

void TTsScriptLoad::ReadVersions(TTsmSlicer& slicer, const TTsTreeNode& header, TTsVersions& versions) {
    versions.Clear();
    const TTsTreeNode* list = header.FirstChild(u"versions");
    if (!list) return;
    const TTsTreeNode* before = nullptr;
    for (int i = 0; i < list->ChildCount(); ++i) {
        const TTsTreeNode* child = list->ChildByIndex(i);
        if (child->Name() == u"operand") {
            uint8_t op = voGreaterEq;
            if (before) {
                const WideString& name = before->Name();
                if (name == u"lessEq")
                    op = voLessEq;
                else if (name == u"less")
                    op = voLess;
                else if (name == u"more")
                    op = voGreater;
                else if (name == u"eq")
                    op = voEqual;
                else if (name == u"notEq")
                    op = voNotEqual;
            }
            versions.Add(op, TTsVersions::Parse(SpanText(slicer, child, u"inner")));
        }
        before = child;
    }
}

void TTsScriptLoad::ReadResult(TTsmSlicer& slicer) {
    TTsScript& s = Script;
    TTsTreeNode* root = slicer.ResultRoot();
    lineBreak_ = WideToUtf8(s.LineBreak());
    // Local spans throughout: the global ones of a re-encoded file would
    // point into the original bytes at offsets of the converted ones.
    auto text = [&](std::u16string_view path, std::u16string_view prop) -> WideString {
        return root ? SpanText(slicer, root->FirstOnPath(path), prop) : WideString();
    };

    s.SetVersion(TTsVersions::Parse(text(u"header\\version", u"inner")));
    s.Signature = Trim(text(u"header\\signature", u"inner"));
    // The signature follows "||", but a pattern reads "||" as one literal
    // bar: when the header's match took a single bar, the second one
    // opens the text and is not the author's.
    if (s.Signature.starts_with(u'|') && TrimView(text(u"header\\signature", u"start")) == u"|")
        s.Signature = Trim(std::u16string_view(s.Signature).substr(1));

    const WideString code = text(u"header\\lang\\code", u"start");
    s.LangCode = code.empty() ? WideString(u"en") : LowerCaseW(code.substr(0, 2));

    WideString charset = LowerCaseW(text(u"header\\lang\\charset", u"start"));
    if (charset.empty()) charset = u"utf-8";
    if (charset.size() > 3 && charset.starts_with(u"utf") && charset[3] >= u'0' && charset[3] <= u'9')
        charset.insert(3, u"-");
    s.Charset = std::move(charset);

    const WideString preamble = text(u"header\\preamble", u"inner");
    const size_t first = preamble.find_first_not_of(u"\r\n");
    s.Preamble = first == WideString::npos ? WideString()
                                           : preamble.substr(first, preamble.find_last_not_of(u"\r\n") + 1 - first);

    s.LangLines.Clear();
    if (const TTsTreeNode* lines = root ? root->FirstOnPath(u"header\\lang\\lines") : nullptr) {
        for (int i = 0; i + 1 < lines->ChildCount(); i += 2)
            s.LangLines.Add(Trim(SpanText(slicer, lines->ChildByIndex(i), u"start")),
                            Trim(SpanText(slicer, lines->ChildByIndex(i + 1), u"inner")));
    }

    const TTsTreeNode* sections = root ? root->FirstChild(u"sections") : nullptr;
    if (!sections) return;
    TTsSection* section = nullptr;
    TTsSubsection* sub = nullptr;
    for (int i = 0; i < sections->ChildCount(); ++i) {
        const TTsTreeNode& node = *sections->ChildByIndex(i);
        const WideString& name = node.Name();
        if (name == u"section") {
            const WideString title = s.ToEnglish(Trim(SpanText(slicer, node.FirstChild(u"title"), u"inner")));
            const TTsSectionKind kind = TTsScript::KindOfTitle(title);
            section = kind == lsOther ? &s.AddCustom(title) : &s.AddStandard(kind);
            sub = &section->FirstSubsection();
            section->Line = sub->Line = LineOf(slicer, node);
            ReadVersions(slicer, node, section->Versions);
        } else if (name == u"subsection") {
            if (!section) continue;
            sub = &section->AddSubsection(Trim(SpanText(slicer, node.FirstChild(u"title"), u"inner")));
            sub->Line = LineOf(slicer, node);
            ReadVersions(slicer, node, sub->Versions);
        } else if (name == u"contents") {
            if (sub) sub->SetText(SpanText(slicer, &node, u"inner"));
        }
    }
}

// ---- TTsScript ----------------------------------------------------------------------

TTsScript::TTsScript() { Options.LineBreak.clear(); }

TTsScript::TTsScript(TStream& stream, const WideString& fileName) : TTsScript() { Load(stream, fileName, false); }

TTsScript::~TTsScript() = default;

void TTsScript::SetVersion(TTsVersion version) {
    if (version == 0) throw ETsScriptZeroVersion(this);
    version_ = version;
}

const WideString& TTsScript::LineBreak() const {
    static const WideString crlf = u"\r\n";
    return Options.LineBreak.empty() ? crlf : Options.LineBreak;
}

void TTsScript::ResetHeader() {
    version_ = TTsVersions::LibraryVersion;
    Signature.clear();
    LangCode = u"en";
    LangLines.Clear();
    Charset = u"utf-8";
    Preamble.clear();
}

void TTsScript::Load(TStream& stream, const WideString& fileName, bool keepResult) {
    Clear();
    Slicer.reset();
    ResetHeader();
    Name = fileName.empty() ? stream.Description() : fileName;

    const int64_t start = stream.Position();
    if (Options.LineBreak.empty() || Options.LineBreak == detectedLineBreak_) {
        char head[LineBreakSniffSize];
        const int64_t n = stream.Read(head, LineBreakSniffSize);
        stream.Seek(start, TSeekOrigin::soBeginning);
        detectedLineBreak_ =
            TTsTextStreamer::DetectLineBreak(Latin1ToWide(std::string_view(head, static_cast<size_t>(n))));
        Options.LineBreak = detectedLineBreak_;
    }

    // The shared canonical model, run with this load's routines in a
    // registry of the run's own.
    TTsmRun run(CanonicalModel(u"Script"));
    run.Options = Options;
    TTsScriptLoad load(*this, run, stream);
    TTsFunctions& functions = run.OwnFunctions();
    functions.RegisterHandler(u"checkVersion", [&load](TTsFuncContext& ctx) { return load.CheckVersion(ctx); });
    functions.RegisterHandler(u"convertCharset", [&load](TTsFuncContext& ctx) { return load.ConvertCharset(ctx); });
    try {
        std::unique_ptr<TTsmSlicer> slicer = run.Modell(stream);
        load.Run = nullptr;
        load.ReadResult(*slicer);
        if (keepResult) Slicer = std::move(slicer);
    } catch (...) {
        // Half a script is worse than none: nothing of it stays.
        Clear();
        ResetHeader();
        throw;
    }
}

TTsSection& TTsScript::Section(int index) const { return *static_cast<TTsSection*>(Object(index)); }

TTsSection* TTsScript::FindSection(std::u16string_view title) const {
    const int i = IndexOf(title);
    return i < 0 ? nullptr : &Section(i);
}

TTsSection* TTsScript::TryByKey(TTsSectionKind kind) const {
    if (kind == lsOther) throw ETsOtherSectionCall(this, u"TryByKey");
    return FindSection(StandardSectionTitle(kind));
}

TTsSection& TTsScript::ByKey(TTsSectionKind kind) const {
    TTsSection* section = TryByKey(kind);
    if (!section) throw ETsScriptNoKind(this, kind);
    return *section;
}

TTsSubsection& TTsScript::FirstModel() const {
    const TTsSection& models = ByKey(lsModel);
    TTsSubsection* sub = models.Versions.SatisfiesLibrary() ? models.FirstSupported() : nullptr;
    if (!sub) throw ETsScriptNoSupportedModel(this);
    return *sub;
}

TTsSection& TTsScript::AddStandard(TTsSectionKind kind) {
    if (kind < lsModel || kind >= lsOther) throw ETsOtherSectionCall(this, u"AddStandard");
    const std::u16string_view title = StandardSectionTitle(kind);
    if (Has(title)) throw ETsDuplicatedSection(this, WideString(title));
    std::unique_ptr<TTsSection> section;
    if (kind == lsModel)
        section = std::make_unique<TTsModelSection>(*this);
    else if (kind == lsOptions)
        section = std::make_unique<TTsOptionSection>(*this);
    else
        section = std::make_unique<TTsSection>(*this);
    section->Title = title;
    section->Kind = kind;
    TTsSection& ref = *section;
    Add(title, u"", std::move(section));
    return ref;
}

TTsSection& TTsScript::AddCustom(std::u16string_view title) {
    const WideString t = Trim(title);
    if (t.empty()) throw ETsEmptySectionTitle(this);
    if (Has(t)) throw ETsDuplicatedSection(this, t);
    auto section = std::make_unique<TTsSection>(*this);
    section->Title = t;
    TTsSection& ref = *section;
    Add(t, u"", std::move(section));
    return ref;
}

WideString TTsScript::ToEnglish(std::u16string_view title) const {
    const WideString* english = LangLines.ValueOf(TrimView(title));
    // A line with a blank English side translates nothing; taking it would
    // leave the section without a title.
    if (english && !TrimView(*english).empty()) return Trim(*english);
    return WideString(title);
}

WideString TTsScript::ToLocal(std::u16string_view title) const {
    const WideString* local = LangLines.NameOf(TrimView(title));
    return local ? Trim(*local) : WideString(title);
}

TTsSectionKind TTsScript::KindOfTitle(std::u16string_view title) {
    const WideString t = LowerCaseW(TrimView(title));
    for (int k = lsModel; k < lsOther; ++k) {
        const WideString standard = LowerCaseW(StandardSectionTitle(static_cast<TTsSectionKind>(k)));
        if (t == standard || t == standard + u"s") return static_cast<TTsSectionKind>(k);
    }
    return lsOther;
}

}  // namespace ts
