// A script's samples, their judging and the writing of expected trees.
#include "debugger/driver/TsdbgSamples.h"

#include <algorithm>
#include <map>

#include "debugger/driver/TsdbgLineDiff.h"
#include "library/script/TsScript.h"
#include "library/script/charset/Charsets.h"
#include "support/Strings.h"

namespace ts {

namespace {

// The subsections of a kind's section that this library accepts.
std::vector<const TTsSubsection*> Supported(const TTsScript& script, TTsSectionKind kind) {
    std::vector<const TTsSubsection*> out;
    const TTsSection* section = script.TryByKey(kind);
    if (!section || !section->Versions.SatisfiesLibrary()) return out;
    for (int i = 0; i < section->SubsectionCount(); ++i) {
        const TTsSubsection& sub = section->Subsection(i);
        if (sub.Versions.SatisfiesLibrary()) out.push_back(&sub);
    }
    return out;
}

int32_t CodepageOfScript(const TTsScript& script) {
    const int32_t cp = CodepageOfCharset(WideToUtf8(script.Charset));
    return cp == CpUnknown ? CpUtf8 : cp;
}

}  // namespace

std::vector<TSampleCase> SampleCases(const TTsScript& script) {
    std::map<WideString, const TTsSubsection*> trees;
    for (const TTsSubsection* tree : Supported(script, lsTree)) trees.emplace(tree->Title(), tree);
    std::vector<TSampleCase> out;
    for (const TTsSubsection* sample : Supported(script, lsSample)) {
        if (sample->Title().empty() && sample->Text().empty()) continue;
        TSampleCase c{sample->Title(), sample->Text(), sample->Line, sample->Line + 1, std::nullopt};
        const auto tree = trees.find(sample->Title());
        if (tree != trees.end() && !tree->second->Text().empty()) c.Expected = tree->second->Text();
        out.push_back(std::move(c));
    }
    return out;
}

bool HasTreeSections(const TTsScript& script) {
    const std::vector<const TTsSubsection*> trees = Supported(script, lsTree);
    return std::any_of(trees.begin(), trees.end(), [](const TTsSubsection* t) { return !t->Text().empty(); });
}

TSampleModel SampleModelOf(const TTsScript& script, WideString modelText) {
    TSampleModel model;
    model.ModelText = std::move(modelText);
    model.Codepage = CodepageOfScript(script);
    model.LineBreak = script.LineBreak();
    return model;
}

TSampleSuite LoadSampleSuite(const WideString& path) {
    TSampleSuite suite;
    suite.Source = LoadSource(path);
    if (!suite.Source.Script) return suite;
    suite.Model = SampleModelOf(*suite.Source.Script, suite.Source.Text);
    suite.Model.Read.SourceName = path;
    suite.Model.Read.FirstLine = suite.Source.FirstLine;
    suite.Cases = SampleCases(*suite.Source.Script);
    TFileStreamW file(path, TFileMode::fmOpenRead);
    const WideString whole = BytesToWide(CpUtf8, file.ReadToEnd());
    for (TSampleCase& c : suite.Cases) c.TextLine = SubsectionTextLine(whole, c.Line);
    return suite;
}

WideString NormalisedTree(std::u16string_view text) {
    std::vector<WideString> lines = SplitLines(text);
    while (!lines.empty() && TrimView(lines.back()).empty()) lines.pop_back();
    WideString out;
    for (const WideString& line : lines) out += line + u'\n';
    return out;
}

TSampleOutcome RunSample(const TSampleModel& model, const TSampleCase& sample, TTsmCancelToken cancel) {
    const auto started = std::chrono::steady_clock::now();
    TSampleOutcome out;
    out.Title = sample.Title;
    TModelRunRequest request;
    request.ModelText = model.ModelText;
    request.Read = model.Read;
    WideString text = sample.Text;
    if (!text.empty()) text += model.LineBreak;
    request.Input = WideToBytes(model.Codepage, text);
    request.Codepage = model.Codepage;
    request.LineBreak = model.LineBreak;
    request.Cancel = std::move(cancel);
    out.Run = RunModel(std::move(request));
    out.Produced = out.Run->TreeText();
    out.HasExpected = sample.Expected.has_value();
    if (out.HasExpected) out.Expected = NormalisedTree(*sample.Expected);
    if (out.Run->Error)
        out.Failure = out.Run->ErrorStage == TRunStage::Model ? u"the model failed" : u"the run failed";
    else if (out.Run->HasFailReports())
        out.Failure = u"FAIL reports";
    else if (out.Run->HasInputLeft())
        out.Failure = u"input left";
    else if (out.HasExpected && out.Produced != out.Expected)
        out.Failure = u"the trees differ";
    out.Passed = out.Failure.empty();
    out.Time = std::chrono::steady_clock::now() - started;
    return out;
}

// ---- Writing trees back ------------------------------------------------------------

namespace {

// A file's lines, each with the line break it ends in (none for a last line
// without one), so that unchanged lines are written back as they were.
struct TFileLine {
    std::string Text;
    std::string Break;
};

std::vector<TFileLine> FileLines(std::string_view bytes) {
    std::vector<TFileLine> lines;
    size_t start = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] != '\n' && bytes[i] != '\r') continue;
        const size_t breakLength = bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
        lines.push_back({std::string(bytes.substr(start, i - start)), std::string(bytes.substr(i, breakLength))});
        i += breakLength - 1;
        start = i + 1;
    }
    if (start < bytes.size()) lines.push_back({std::string(bytes.substr(start)), {}});
    return lines;
}

bool IsBlank(const std::string& line) {
    return std::all_of(line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) <= 32; });
}

bool IsHeader(const std::string& line) { return line.starts_with("=="); }

}  // namespace

RawByteString UpdatedTreeSections(std::string_view fileBytes, const TTsScript& script,
                                  const std::vector<std::pair<WideString, WideString>>& trees) {
    const int32_t codepage = CodepageOfScript(script);
    const std::string lineBreak = WideToUtf8(script.LineBreak());
    std::vector<TFileLine> lines = FileLines(fileBytes);
    auto encoded = [&](const WideString& tree) {
        std::vector<TFileLine> out;
        for (const WideString& line : SplitLines(tree)) out.push_back({WideToBytes(codepage, line), lineBreak});
        return out;
    };
    auto header = [&](const WideString& text) { return TFileLine{WideToBytes(codepage, text), lineBreak}; };
    // The line after the header's block: the next header, or the end.
    auto blockEnd = [&](size_t from, bool sectionsOnly) {
        size_t i = from + 1;
        while (i < lines.size() && !(IsHeader(lines[i].Text) && (!sectionsOnly || !lines[i].Text.starts_with("==="))))
            ++i;
        return i;
    };
    auto lastFilled = [&](size_t begin, size_t end) {
        while (end > begin && IsBlank(lines[end - 1].Text)) --end;
        return end;
    };

    // Replacements of existing subsections' texts, and new subsections.
    struct TEdit {
        size_t Begin, End;  // lines replaced
        std::vector<TFileLine> With;
        size_t Order = 0;
    };
    std::vector<TEdit> edits;
    std::vector<std::pair<WideString, WideString>> missing;
    const TTsSection* section = script.TryByKey(lsTree);
    for (const auto& [title, tree] : trees) {
        const TTsSubsection* sub = nullptr;
        for (int i = 0; section && i < section->SubsectionCount() && !sub; ++i)
            if (section->Subsection(i).Title() == title) sub = &section->Subsection(i);
        if (!sub) {
            missing.emplace_back(title, tree);
            continue;
        }
        const auto at = static_cast<size_t>(sub->Line);
        if (at >= lines.size() || !IsHeader(lines[at].Text))
            throw ETessarine(u"Cannot find the header of the Tree subsection '%s' on line %d of %s.",
                             {title, static_cast<int>(at + 1), script.Name});
        const size_t end = lastFilled(at + 1, blockEnd(at, false));
        edits.push_back({at + 1, end, encoded(tree)});
    }
    if (!missing.empty()) {
        std::vector<TFileLine> added;
        size_t at = lines.size();
        if (section) {
            const auto head = static_cast<size_t>(section->Line);
            if (head >= lines.size() || !IsHeader(lines[head].Text))
                throw ETessarine(u"Cannot find the header of the Tree section on line %d of %s.",
                                 {static_cast<int>(head + 1), script.Name});
            at = lastFilled(head + 1, blockEnd(head, true));
        } else {
            added.push_back({{}, lineBreak});
            added.push_back(header(u"== " + script.ToLocal(StandardSectionTitle(lsTree)) + u" =="));
        }
        for (const auto& [title, tree] : missing) {
            if (!title.empty()) {
                if (!(added.empty() && at == 0)) added.push_back({{}, lineBreak});
                added.push_back(header(u"=== " + title + u" ==="));
            }
            std::vector<TFileLine> body = encoded(tree);
            added.insert(added.end(), body.begin(), body.end());
        }
        // Text after a last line without a break must not run into it.
        if (at > 0 && lines[at - 1].Break.empty()) lines[at - 1].Break = lineBreak;
        edits.push_back({at, at, std::move(added)});
    }
    // Bottom up, so that earlier line numbers stay right; of two edits at
    // one line the later goes in first and so ends up after the other.
    for (size_t i = 0; i < edits.size(); ++i) edits[i].Order = i;
    std::sort(edits.begin(), edits.end(), [](const TEdit& a, const TEdit& b) {
        return a.Begin != b.Begin ? a.Begin > b.Begin : a.Order > b.Order;
    });
    for (TEdit& e : edits) {
        lines.erase(lines.begin() + static_cast<ptrdiff_t>(e.Begin), lines.begin() + static_cast<ptrdiff_t>(e.End));
        lines.insert(lines.begin() + static_cast<ptrdiff_t>(e.Begin), e.With.begin(), e.With.end());
    }
    RawByteString out;
    out.reserve(fileBytes.size());
    for (const TFileLine& line : lines) out += line.Text + line.Break;
    return out;
}

}  // namespace ts
