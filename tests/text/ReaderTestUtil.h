// Helpers shared by the reader tests: reading a text with the native reader
// and looking at the resulting nodes compactly.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "library/text/TsNativeReader.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

namespace ts::test {

inline std::unique_ptr<TTsTreeNode> ReadModel(const std::string& text, std::u16string_view source = u"m.txt") {
    TTsmNativeStreamer streamer;
    return streamer.Read(std::make_unique<TStringStream>(text), source);
}

// The reader's reason and message for a text that must fail; empty, with
// the test failed, when it reads.
inline WideString ReasonOf(const std::string& text, std::source_location where = std::source_location::current()) {
    std::optional<ETsBadTextStreaming> e = ThrownError<ETsBadTextStreaming>([&] { ReadModel(text); }, where);
    return e ? e->Reason : WideString();
}

inline WideString MessageOf(const std::string& text, std::source_location where = std::source_location::current()) {
    return MessageOf<ETsBadTextStreaming>([&] { ReadModel(text); }, where);
}

// A string property's text, or "<none>" when it is absent.
inline WideString Str(const TTsTreeNode& node, std::u16string_view name) {
    TTsProperty* p = node.Props().Find(name);
    return p ? p->Value.Str : WideString(u"<none>");
}

inline int32_t Int(const TTsTreeNode& node, std::u16string_view name) { return node.Props().Get(name).Value.Int; }

// The true flags as letters: R resetter, O optional, T tentative, 1 once,
// X off-context, I inheriting, P prepending, N non-consuming.
inline std::string Flags(const TTsTreeNode& node) {
    static const std::pair<char, std::u16string_view> kFlags[] = {
        {'R', u"mIsResetter"},   {'O', u"mIsOptional"},   {'T', u"mIsTentative"},  {'1', u"mIsOnce"},
        {'X', u"mIsOffContext"}, {'I', u"mIsInheriting"}, {'P', u"mIsPrepending"}, {'N', u"mIsNonConsuming"}};
    std::string out;
    for (const auto& [letter, name] : kFlags)
        if (node.Props().Get(name).Value.Bool) out += letter;
    return out;
}

// The only node of a one-line model, with the tree that owns it.
struct LineNode {
    std::unique_ptr<TTsTreeNode> Root;
    const TTsTreeNode* Node = nullptr;
    const TTsTreeNode& operator*() const { return *Node; }
    const TTsTreeNode* operator->() const { return Node; }
};

inline LineNode ReadLine(const std::string& line) {
    LineNode r;
    r.Root = ReadModel(line);
    if (r.Root->ChildCount() != 1) throw std::runtime_error("not exactly one node: " + line);
    r.Node = r.Root->ChildByIndex(0);
    return r;
}

}  // namespace ts::test
