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

#include <memory>
#include <string_view>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"

namespace ts {

class TTsmCancelToken;

inline constexpr int32_t SystemCodepage = 65001;

struct TLoadedSource {
    WideString FullPath;
    bool IsPlainModel = true;
    WideString Text;  // with CR LF line breaks
};

// Raises the file's open and read errors and the script loader's errors.
TLoadedSource LoadSource(const WideString& path);

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

}  // namespace ts
