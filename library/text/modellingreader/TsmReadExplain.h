// Why the modelling reader could not read a model text, in a model author's
// words. When the canonical model's run over the text fails with a
// mismatch, the reader runs it once more with TTsmFarthestFailure
// listening, names the canonical nodes tried at the farthest place by their
// roles (CanonicalModelRoles) and attaches the result to the error it
// raises. Reads that succeed never pay for this.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "library/modelling/TsmCompiler.h"
#include "library/modelling/TsmExplain.h"

namespace ts {

class TTsmReadExplanation : public TObject {
    TS_CLASS(TTsmReadExplanation)
public:
    // Where the read got farthest: a global offset into the bytes read, as
    // TsmErrorOffset counts them.
    int64_t Offset = -1;
    // "expected one of: a node name, a quoted path".
    WideString Text;
};

// The explanation the modelling reader attached to its error; nil when the
// error has none (not a mismatch of the reader, or nothing was learnt).
const TTsmReadExplanation* ReadErrorExplanation(const std::exception& error);

// A canonical node's path: the names of the nodes from below the model's
// root down to it, joined by "/". A node whose name is empty or shared
// with a sibling is written as its name followed by its condition in
// braces ("END{= \"}", "{% [^\"]+}"), so that a path names one node.
WideString CanonicalNodePath(const TTsmCompiler& compiler, TMmID id);

// The phrase of the role table's entry for a canonical node path (the
// longest entry the path ends with); empty when none has one.
std::u16string_view CanonicalRoleOf(std::u16string_view path);

// The explanation of a farthest failure of the canonical "Model" model's
// run: "expected PHRASE after "WORD"" or "expected one of: PHRASE, PHRASE
// (after "WORD")", the phrases of the nodes tried there in the order
// tried, each once, and WORD the last word of textBefore (the text before
// the place; none at a line's start). Text is empty when no node tried
// there has a role.
TTsmReadExplanation ExplainFarthestFailure(const TTsmCompiler& compiler, const TTsmFarthestFailure& farthest,
                                           std::u16string_view textBefore);

}  // namespace ts
