// A script's own samples as test cases: each Sample subsection run through
// the script's first supported model, and its result tree compared with the
// Tree subsection of the same title (the untitled first subsections pair
// too); a sample without a Tree counterpart must run without FAIL reports
// or input left. And the reverse: produced trees written into the script
// file's Tree sections, everything else in the file kept byte for byte.
//
// A sample's input is its subsection's text followed by the script's line
// break (a subsection's text loses the break of its last line), in the
// script's charset.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "debugger/driver/TsdbgRun.h"
#include "debugger/driver/TsdbgSource.h"

namespace ts {

class TTsScript;

struct TSampleCase {
    WideString Title;  // empty for the untitled first subsection
    WideString Text;
    int32_t Line = 0;      // the file's line index of the sample's header
    int32_t TextLine = 0;  // ... and of its text's first line
    // The Tree subsection's text, when the script has one of that title.
    std::optional<WideString> Expected;
};

// The samples in file order: every titled Sample subsection and the
// untitled one when it has text.
std::vector<TSampleCase> SampleCases(const TTsScript& script);
// Whether the script has a Tree section with at least one subsection text.
bool HasTreeSections(const TTsScript& script);

// What a sample is run with: the model and how the script's text is encoded.
struct TSampleModel {
    WideString ModelText;
    TModelReadOptions Read;
    int32_t Codepage = SystemCodepage;
    WideString LineBreak = u"\r\n";
};

// A script file loaded for its samples.
struct TSampleSuite {
    TLoadedSource Source;  // Source.Script is the script
    TSampleModel Model;
    std::vector<TSampleCase> Cases;
};
// Raises the errors of loading the file; a file that is not a script has
// no samples (and ETsScriptNoKind is not raised for it).
TSampleSuite LoadSampleSuite(const WideString& path);
// The model of a loaded script (its charset and line break) with the given text.
TSampleModel SampleModelOf(const TTsScript& script, WideString modelText);

struct TSampleOutcome {
    WideString Title;
    bool Passed = false;
    bool HasExpected = false;
    // Both with LF line breaks, a line break after every line.
    WideString Produced;
    WideString Expected;
    // Why it failed, in a few words ("the trees differ", "the run failed",
    // "FAIL reports", "input left"); empty when it passed.
    WideString Failure;
    std::unique_ptr<TModelRun> Run;
    std::chrono::duration<double> Time{};
};

TSampleOutcome RunSample(const TSampleModel& model, const TSampleCase& sample, TTsmCancelToken cancel = {});

// A tree text with LF line breaks, a break after every line, trailing blank
// lines dropped: expected trees from a file compare with produced ones so.
WideString NormalisedTree(std::u16string_view text);

// The script file's bytes with each title's Tree subsection text replaced by
// its tree; the titles without one get a new subsection at the end of the
// Tree section, or a new Tree section at the end of the file. Lines are
// written in the script's line break and charset; every other byte stays.
// trees: (sample title, tree text with LF breaks).
RawByteString UpdatedTreeSections(std::string_view fileBytes, const TTsScript& script,
                                  const std::vector<std::pair<WideString, WideString>>& trees);

}  // namespace ts
