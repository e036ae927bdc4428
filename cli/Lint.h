// Static checks of a model text: mistakes that read and compile without an
// error but do not do what the line seems to say. LintModel is the whole
// interface; `tessarine lint` prints its findings.
#pragma once

#include <string>
#include <vector>

#include "library/core/TsBase.h"

namespace ts::cli {

struct TLintFinding {
    int Line = 0;    // 1-based, in the model text
    int Column = 0;  // 1-based, in characters
    WideString Message;
    WideString Hint;  // how to fix it
};

// text: the model with CR LF line breaks, as LoadSource gives it. Raises the
// reader's error when the text does not read; a compile error becomes a
// finding. Findings come sorted by line and column. sourceName names the
// text in messages (the file, as the user named it).
std::vector<TLintFinding> LintModel(std::u16string_view text, std::u16string_view sourceName = {});

}  // namespace ts::cli
