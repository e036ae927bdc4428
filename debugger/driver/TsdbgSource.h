// Loading a source into the model memo (LoadSource): a file that starts with
// "Tessarine " and a digit is a script, whose first supported model is
// taken; any other file is a plain model, decoded after its byte-order mark.
// Line breaks become CR LF. Also: turning memo text into the bytes the
// model readers decode, and reading model text into a model tree with
// either reader.
//
// This platform's system code page is UTF-8: a plain model without a mark
// is decoded as UTF-8, and memo text goes to the readers as UTF-8 with the
// readers told so, so every character the memo holds reaches the reader.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"

namespace ts {

class TTsmCancelToken;
class TTsScript;

inline constexpr int32_t SystemCodepage = 65001;

struct TLoadedSource {
    WideString FullPath;
    bool IsPlainModel = true;
    WideString Text;  // with CR LF line breaks
    // The line index in the file of Text's first line: 0 for a plain model,
    // further down for a script's model.
    int32_t FirstLine = 0;
    // The loaded script; nil for a plain model.
    std::shared_ptr<const TTsScript> Script;
};

// Raises the file's open and read errors and the script loader's errors.
TLoadedSource LoadSource(const WideString& path);

// The line index in a script file where the text of the subsection whose
// header is on headerLine begins (its text drops the blank lines before it).
// Line breaks are ASCII in every charset of scripts, so the file may be
// decoded in any of them.
int32_t SubsectionTextLine(std::u16string_view wholeFile, int32_t headerLine);

// Whether bytes begin with "Tessarine ", a blank and a digit.
bool LooksLikeScript(std::string_view head);
// A plain model file's text: UTF-8, UTF-16 LE or BE after their byte-order
// marks, else UTF-8 (the system code page).
WideString DecodeModelBytes(std::string_view bytes);
// Detects the line break (CR LF, LF or CR) and makes every break of that
// style CR LF. A CR LF pair already present stays one break.
WideString LineBreaksToCrLf(std::u16string_view text);

// Memo text as the bytes a reader decodes with SystemCodepage.
RawByteString MemoTextToBytes(std::u16string_view text);

enum class TModelReader { Modelling, Native };

// Reads model text into a model tree with the chosen reader, decoding the
// bytes of MemoTextToBytes. When cancel is cancelled, the reader's next read
// of the text fails (the modelling reader reads it line by line), so a long
// read stops soon after a cancel.
std::unique_ptr<TTsTreeNode> ReadModelText(std::u16string_view text, TModelReader reader,
                                           const TTsmCancelToken* cancel = nullptr);

// How a caller other than the window reads: the text named after its file,
// lines counted from where it stands in the file, and the reader's reports
// (the modelling reader's warnings) handed to OnReport instead of ending the
// read.
struct TModelReadOptions {
    WideString SourceName;  // empty: the memo's name
    int32_t FirstLine = 0;
    std::function<void(Exception& report)> OnReport;
};
std::unique_ptr<TTsTreeNode> ReadModelText(std::u16string_view text, TModelReader reader,
                                           const TModelReadOptions& options, const TTsmCancelToken* cancel = nullptr);

// An error of reading or running a model over memo text at its place in the
// file: "FILE:LINE:COLUMN: message", the line and a caret. firstLine is the
// file's line index of the memo's first line (TLoadedSource::FirstLine).
// Offsets (TsmErrorOffset) count the bytes of MemoTextToBytes; a reader's
// error gives its line and position. Empty when the error names no place.
WideString MemoErrorPlaceText(std::u16string_view memoText, const std::exception& error, std::u16string_view fileName,
                              int32_t firstLine, std::u16string_view message);
// The same for a global offset into the memo's bytes.
WideString MemoOffsetText(std::u16string_view memoText, int64_t globalOffset, std::u16string_view fileName,
                          int32_t firstLine, std::u16string_view message);

}  // namespace ts
