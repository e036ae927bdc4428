// `tessarine test`: each script's samples run through its model and compared
// with its expected trees; --update writes the produced trees back.
#include <cstdio>
#include <filesystem>

#include "cli/Commands.h"
#include "cli/Diff.h"
#include "debugger/driver/TsdbgSamples.h"
#include "library/script/TsScript.h"
#include "library/text/TsTextLocation.h"

namespace ts::cli {

namespace {

WideString TitleText(const WideString& title) { return title.empty() ? WideString(u"(untitled)") : title; }

std::string TimeText(std::chrono::duration<double> time) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.1f ms", time.count() * 1000.0);
    return buffer;
}

// Why a case failed, as the user reads it: the error or the reports at
// their places, the farthest failure, or the difference of the trees.
std::string FailureText(const std::string& file, const TSampleSuite& suite, const TSampleCase& sample,
                        const TSampleOutcome& outcome) {
    const TModelRun& run = *outcome.Run;
    TTextPlace input = TTextPlace::File(file, run.Input(), run.Codepage);
    input.FirstLine = sample.TextLine;
    const TTextPlace model = TTextPlace::Memo(file, suite.Model.ModelText, suite.Model.Read.FirstLine);
    WideString out;
    for (const TRunReport& report : run.Reports) out += PlacedErrorText(*report.Error, &input);
    if (run.Error) out += PlacedErrorText(*run.Error, run.ErrorStage == TRunStage::Model ? &model : &input);
    if (run.FarthestOffset >= 0) {
        TTsTextLocation where = LocateOffset(input.Bytes, run.FarthestOffset, input.Codepage);
        where.Line += input.FirstLine;
        out += LocatedMessage(input.FileName, where, u"farthest failure: expected one of: " + run.Expected);
        if (!run.Chain.empty()) out += u"  while modelling " + run.Chain + u"\n";
    }
    std::string text = WideToUtf8(out);
    if (outcome.HasExpected && outcome.Produced != outcome.Expected)
        text += UnifiedDiff(SplitLines(WideToUtf8(outcome.Expected)), SplitLines(WideToUtf8(outcome.Produced)),
                            "expected", "produced");
    return text;
}

struct TCaseReport {
    std::string File;
    WideString Title;
    bool Passed = false;
    WideString Failure;
    std::string Details;
    std::chrono::duration<double> Time{};
    WideString Produced;
};

std::string CaseJson(const TCaseReport& r) {
    std::string out = "{\"script\": ";
    JsonString(out, Utf8ToWide(r.File));
    out += ", \"title\": ";
    JsonString(out, r.Title);
    out += std::string(", \"passed\": ") + (r.Passed ? "true" : "false") + ", \"failure\": ";
    JsonString(out, r.Failure);
    out += ", \"details\": ";
    JsonString(out, Utf8ToWide(r.Details));
    out += ", \"produced\": ";
    JsonString(out, r.Produced);
    char ms[32];
    std::snprintf(ms, sizeof ms, "%.3f", r.Time.count() * 1000.0);
    return out + ", \"ms\": " + ms + "}";
}

// Written beside the file and renamed over it, so that a failed write
// leaves the script as it was.
void ReplaceFile(const std::string& file, const RawByteString& bytes) {
    const std::filesystem::path path = FileNameToPath(FileArg(file));
    std::filesystem::path temp = path;
    temp += ".update";
    {
        TFileStreamW out(Utf8ToWide(temp.string()), TFileMode::fmCreate);
        out.WriteBytes(bytes);
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::filesystem::remove(temp, ec);
        throw EWriteError(u"Cannot replace %s: %s", {FileArg(file), Utf8ToWide(ec.message())});
    }
}

}  // namespace

int RunTest(const TArgs& args) {
    if (args.Positionals().empty()) throw EUsage("test needs at least one SCRIPT");
    const bool json = args.Flag("json");
    const bool update = args.Flag("update");
    std::vector<TCaseReport> reports;
    bool loadFailed = false;
    for (const std::string& file : args.Positionals()) {
        TSampleSuite suite;
        try {
            suite = LoadSampleSuite(FileArg(file));
        } catch (const std::exception& e) {
            ReportFileError(e, file);
            loadFailed = true;
            continue;
        }
        if (suite.Cases.empty() && !json) Out(file + ": no samples\n");
        std::vector<std::pair<WideString, WideString>> written;
        for (const TSampleCase& sample : suite.Cases) {
            TSampleOutcome outcome = RunSample(suite.Model, sample);
            // Only a run that went to its end has a tree to keep.
            const bool rewrite = update && !outcome.Run->Error && outcome.Run->ResultRoot() &&
                                 (!outcome.HasExpected || outcome.Produced != outcome.Expected);
            if (rewrite) {
                written.emplace_back(sample.Title, outcome.Produced);
                outcome.Expected = outcome.Produced;
                outcome.HasExpected = true;
                if (outcome.Failure == u"the trees differ") outcome.Failure.clear();
                outcome.Passed = outcome.Failure.empty();
            }
            TCaseReport r{file, sample.Title, outcome.Passed, outcome.Failure, {}, outcome.Time, outcome.Produced};
            if (!outcome.Passed) r.Details = FailureText(file, suite, sample, outcome);
            if (!json) {
                Out((r.Passed ? "PASS " : "FAIL ") + file + ": " + WideToUtf8(TitleText(r.Title)) + " (" +
                    TimeText(r.Time) + ")" + (r.Passed ? "" : " - " + WideToUtf8(r.Failure)) + "\n");
                if (!r.Passed) Out(r.Details);
            }
            reports.push_back(std::move(r));
        }
        if (!written.empty()) {
            try {
                TFileStreamW in(FileArg(file), TFileMode::fmOpenRead);
                const RawByteString before = in.ReadToEnd();
                const RawByteString after = UpdatedTreeSections(before, *suite.Source.Script, written);
                if (after != before) ReplaceFile(file, after);
            } catch (const std::exception& e) {
                ReportError(e);
                loadFailed = true;
                continue;
            }
            if (!json) Out("updated " + file + ": " + std::to_string(written.size()) + " tree(s) written\n");
        }
    }
    size_t passed = 0;
    for (const TCaseReport& r : reports) passed += r.Passed ? 1 : 0;
    const size_t failed = reports.size() - passed;
    if (json) {
        std::string out = "{\"cases\": [";
        for (size_t i = 0; i < reports.size(); ++i) out += (i ? ", " : "") + CaseJson(reports[i]);
        out += "], \"passed\": " + std::to_string(passed) + ", \"failed\": " + std::to_string(failed) + "}\n";
        Out(out);
    } else {
        Out(std::to_string(passed) + " passed, " + std::to_string(failed) + " failed\n");
    }
    if (loadFailed) return ExitError;
    return failed ? ExitDifferent : ExitOk;
}

}  // namespace ts::cli
