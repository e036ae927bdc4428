// The canonical models the program carries as resources ("TsmModel",
// "TsmScript"): opening one as a stream positioned at its model text, past
// the "Tessarine <version>" header and its "== Model ==" title line, and
// reading one into a model tree with the native reader.
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "library/core/TsNodes.h"
#include "support/Streams.h"

namespace ts {

// Only this many leading bytes are searched for the header's end.
inline constexpr int64_t CanonicalHeaderLimit = 1024;

// Positions the stream at the start of the model text: just after the first
// "==" + line feed within the first 1024 bytes when the stream begins with
// "Tessarine " and a digit, else at offset 0.
void SkipCanonicalHeader(TStream& stream);

// The resource "Tsm" + kind ("Model", "Script"), header skipped. Raises
// EResNotFound for an unknown kind.
std::unique_ptr<TStream> OpenCanonicalModel(std::u16string_view kind);

// The canonical model's tree, read by TTsmNativeStreamer with no source name
// (so its "source" values name "<ResourceStream>").
std::unique_ptr<TTsTreeNode> ReadCanonicalModel(std::u16string_view kind);

// What a node of the canonical "Model" model stands for in a model line, in
// a model author's words ("the condition operator"), for explaining a line
// the modelling reader could not read. Path names the node by the names
// from the top of the model down (CanonicalNodePath); it matches every
// node whose path ends with it at a "/", the longest match winning, so
// that one entry covers each place an off-context node is merged into.
// An empty phrase says that the node's failure expects nothing by itself
// (a report's test). A test checks that every path names a node, so the
// table cannot fall behind the model unnoticed.
struct TCanonicalRole {
    std::u16string_view Path;
    std::u16string_view Phrase;
};
std::span<const TCanonicalRole> CanonicalModelRoles();

}  // namespace ts
