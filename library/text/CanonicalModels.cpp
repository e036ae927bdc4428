// Header skipping for the embedded canonical models.
#include "library/text/CanonicalModels.h"

#include "library/text/TsNativeReader.h"
#include "support/Resources.h"

namespace ts {

void SkipCanonicalHeader(TStream& stream) {
    stream.SetPosition(0);
    char head[CanonicalHeaderLimit];
    int64_t n = stream.Read(head, CanonicalHeaderLimit);
    std::string_view bytes(head, static_cast<size_t>(n > 0 ? n : 0));
    int64_t start = 0;
    if (bytes.size() >= 11 && bytes.substr(0, 10) == "Tessarine " && bytes[10] >= '0' && bytes[10] <= '9') {
        size_t end = bytes.find("==\n");
        if (end != std::string_view::npos) start = static_cast<int64_t>(end + 3);
    }
    stream.SetPosition(start);
}

std::unique_ptr<TStream> OpenCanonicalModel(std::u16string_view kind) {
    auto stream = std::make_unique<TResourceStream>(WideString(u"Tsm") + WideString(kind));
    SkipCanonicalHeader(*stream);
    return stream;
}

std::unique_ptr<TTsTreeNode> ReadCanonicalModel(std::u16string_view kind) {
    return TTsmNativeStreamer::ReadFrom(OpenCanonicalModel(kind));
}

namespace {

const TCanonicalRole kModelRoles[] = {
    // A line's start.
    {u"LINE/comment", u"a comment (\";\")"},
    {u"LINE/line/indent", u"the indentation"},
    {u"LINE/line/END", u"the end of the line"},
    // The order prefix: "1", "0", ".", "^", "?".
    {u"LINE/line/order", u"an order (a digit, \".\" or \"^\")"},
    {u"order/{}/isTentative", u"\"^\" (tentative)"},
    {u"order/{}/isOptional", u"\"?\" (optional)"},
    {u"order/spaces", u"a blank"},
    // Names, quoted paths and the items' marks.
    {u"LINE/line/names", u"a node name"},
    {u"names/name/{}/name", u"a node name"},
    {u"names/name/{}/nameAsPath", u"a quoted path"},
    {u"nameAsPath/{% [^\"]+}", u"the text of the quoted path"},
    {u"nameAsPath/END", u"the closing '\"' of the quoted path"},
    {u"mods/isPrepending", u"\"+\" (prepending)"},
    {u"mods/isInheriting", u"\"@\" (inheriting)"},
    {u"isNonConsuming", u"\"...\" (non-consuming)"},
    // Off-context nodes "(name)" and the merges "a + b".
    {u"isOffContext/merge/END", u"\"(\" (an off-context node)"},
    {u"isOffContext/name/name", u"a node name"},
    {u"isOffContext/name/END", u"the closing \")\""},
    {u"merge/name/name", u"a node name"},
    {u"merge/name/END{% SP+ +}", u"\" + \" (a merge)"},
    {u"merge/{% SP+ + SP+}", u"\" + \" (a merge)"},
    {u"merge/name/END{? eof}", u"the end of the line"},
    // What may follow an item: blanks, or a condition straight after it.
    {u"spacesOrCond/cond", u"\"?\" and a condition"},
    {u"spacesOrCond/{% SP+|EOF}", u"a blank"},
    // The path after the names: "x \"dir\\leaf\"".
    {u"LINE/line/path/END", u"the closing '\"' of the path"},
    {u"LINE/line/path/FAIL", u""},
    // The condition: "!", an operator, a value.
    {u"LINE/line/cond/op", u"the condition operator"},
    {u"LINE/line/cond/negated/WARN", u""},
};

}  // namespace

std::span<const TCanonicalRole> CanonicalModelRoles() { return kModelRoles; }

}  // namespace ts
