// Helpers shared by the model compiler tests: reading model text, compiling
// it, and a compact outline of a compiled dump for golden comparisons.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "library/modelling/TsmCompiler.h"
#include "library/text/TsNativeReader.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

namespace ts::test {

inline std::unique_ptr<TTsTreeNode> ReadModel(std::string_view text) {
    return TTsmNativeStreamer::ReadFrom(std::make_unique<TStringStream>(std::string(text)));
}

// A compiled model together with the tree it was compiled from.
struct Compiled {
    std::unique_ptr<TTsTreeNode> tree;
    std::unique_ptr<TTsmCompiler> compiler;

    const TTsmNodeInfo* operator[](TMmID id) const {
        return static_cast<size_t>(id) < compiler->Table.size() ? compiler->Table[static_cast<size_t>(id)].get()
                                                                : nullptr;
    }
};

inline Compiled CompileModel(std::string_view text) {
    Compiled c{ReadModel(text), std::make_unique<TTsmCompiler>()};
    c.compiler->Compile(*c.tree);
    return c;
}

// The message of the exception E that compiling text must raise.
template <class E>
std::string CompileError(std::string_view text, std::source_location where = std::source_location::current()) {
    auto tree = ReadModel(text);
    TTsmCompiler compiler;
    return WideToUtf8(MessageOf<E>([&] { compiler.Compile(*tree); }, where));
}

// One line per dump node: indent, name, "#ID", then what sets the node
// apart: class (without "TTsm"), flags, order and condition.
// A node where a cycle closes or a reference collapses shows "*" + ID alone.
inline void OutlineInto(const TTsTreeNode& node, int depth, bool ids, std::string& out) {
    const TTsProperties& p = node.Props();
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + WideToUtf8(node.Name());
    const TTsProperty* id = p.Find(u"ID");
    if (ids && id && !node.Name().starts_with(u'*')) out += "#" + std::to_string(id->Value.Int);
    if (const TTsProperty* cls = p.Find(u"Class")) out += " " + WideToUtf8(cls->Value.Str.substr(4));
    static const std::pair<const char16_t*, const char*> flags[] = {
        {u"mIsResetter", " reset"}, {u"mIsOptional", " opt"},   {u"mIsTentative", " tent"},
        {u"mIsOnce", " once"},      {u"mIsOffContext", " off"}, {u"mIsInheriting", " inh"},
        {u"mIsPrepending", " pre"}, {u"mIsNonConsuming", " nc"}};
    for (const auto& [name, text] : flags)
        if (const TTsProperty* f = p.Find(name); f && f->Value.Bool) out += text;
    if (const TTsProperty* o = p.Find(u"mOrder")) out += " order=" + std::to_string(o->Value.Int);
    if (const TTsProperty* path = p.Find(u"mPath")) out += " \"" + WideToUtf8(path->Value.Str) + "\"";
    if (const TTsProperty* cond = p.Find(u"mCond")) out += " {" + WideToUtf8(cond->Value.Str) + "}";
    out += "\n";
    for (int i = 0; i < node.ChildCount(); ++i) OutlineInto(*node.ChildByIndex(i), depth + 1, ids, out);
}

inline std::string Outline(const TTsmCompiler& compiler, TMmID id = 0, bool ids = true) {
    std::string out;
    OutlineInto(*compiler.DumpCompiled(id), 0, ids, out);
    return out;
}

}  // namespace ts::test
