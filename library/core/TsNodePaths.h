// Node paths: parent prefixes (".", "..", "\", "//" ...), segments separated
// by "\" or "/", "+name" appending marks, "name[formula]" selectors and a
// "$attribute" suffix. Exposes the prefix helpers behind
// TTsTreeNode::FirstOnPath, the enumerating/creating TTsNodeFinder (selectors
// go to OnTest/OnCreate) and the formula finders TTsNodeBaseFormulaFinder /
// TTsNodeFormulaFinder (selectors are integer formulas over "n"), with the
// path errors.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "library/core/TsHashes.h"
#include "library/core/TsNodes.h"

namespace ts {

class TTsNodeFinder;

// ---- Errors -------------------------------------------------------------

class ETsInvalidParentPath : public ETessarine {
public:
    explicit ETsInvalidParentPath(std::u16string_view prefix);
    WideString Prefix;
    TS_EXCEPTION(ETsInvalidParentPath)
};

class ETsFirstOnPathWithExpr : public ETsTreeNode {
public:
    ETsFirstOnPathWithExpr(const TTsTreeNode* node, std::u16string_view path);
    WideString Path;
    TS_EXCEPTION(ETsFirstOnPathWithExpr)
};

// Keeps the object that read the path (a finder, or the node of FirstOnPath)
// and the path.
class ETsNodeFind : public ETessarine {
public:
    ETsNodeFind(const TObject* finder, std::u16string_view path, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Finder(finder), Path(path) {}
    const TObject* Finder;  // borrowed
    WideString Path;
    TS_EXCEPTION(ETsNodeFind)
};

#define TS_NODE_FIND_ERROR(Name)        \
    class Name : public ETsNodeFind {   \
    public:                             \
        using ETsNodeFind::ETsNodeFind; \
        TS_EXCEPTION(Name)              \
    };
TS_NODE_FIND_ERROR(ETsNodeFinderNotInitialized)
TS_NODE_FIND_ERROR(ETsLastNodePathAppends)
TS_NODE_FIND_ERROR(ETsEmptyNodePathExpression)
TS_NODE_FIND_ERROR(ETsEmptyNodePathSegment)
TS_NODE_FIND_ERROR(ETsNodeFindNoTester)
TS_NODE_FIND_ERROR(ETsNodeFindNoCreator)
TS_NODE_FIND_ERROR(ETsBadNodeFindFormula)
TS_NODE_FIND_ERROR(ETsEmptyNodeFindFormulaOperand)
TS_NODE_FIND_ERROR(ETsBadNodeFindFormulaOperand)
TS_NODE_FIND_ERROR(ETsBadNodeFindFormulaPrecedence)
TS_NODE_FIND_ERROR(ETsEmptyFinderStack)
// Dividing by zero in a selector formula.
TS_NODE_FIND_ERROR(ETsNodeFindFormulaDivByZero)
#undef TS_NODE_FIND_ERROR

// ---- Path helpers ------------------------------------------------------------

inline bool IsNodePathSeparator(char16_t c) { return c == u'\\' || c == u'/'; }
inline bool IsNodePathPrefixChar(char16_t c) { return c == u'.' || IsNodePathSeparator(c); }

// The longest leading run of ".", "\" and "/" (not checked).
std::u16string_view NodePathPrefix(std::u16string_view path);
// Which of `count` ancestors (listed nearest first) a prefix selects: an
// index into that list, or -1 for the base itself. ETsInvalidParentPath when
// the prefix mixes characters.
int SelectByParentPrefix(std::u16string_view prefix, size_t count);
// The node a prefix selects from `base`.
TTsTreeNode* ResolveParentPrefix(const TTsTreeNode* base, std::u16string_view prefix);
// Splits off "$attribute" (everything after the first "$"); the attribute is
// "inner" when absent or empty.
std::u16string_view SplitNodePathAttr(std::u16string_view path, WideString* attr);

// ---- Finders ----------------------------------------------------------------

struct TTsNodeFindSegment {
    WideString Name;
    TTsTreeNode* Current = nullptr;  // the node this segment matches now
    TTsHashFind Find;                // over the previous match's children; Owner nil: not started
    bool Appending = false;          // "+name"
    WideString Expr;                 // the selector without brackets; empty: none
};

class TTsNodeFinder : public TTsObject {
    TS_CLASS(TTsNodeFinder)
public:
    using TTestEvent = std::function<bool(TTsNodeFinder& finder, int segment, TTsTreeNode* node)>;
    using TCreateEvent = std::function<TTsTreeNode*(TTsNodeFinder& finder, int segment, TTsTreeNode* node)>;

    TTsNodeFinder() = default;  // to be set up by Rewind with a base
    TTsNodeFinder(TTsTreeNode* base, std::u16string_view path);

    TTestEvent OnTest;
    TCreateEvent OnCreate;

    // Starts over on a new path, and a new base when one is given.
    void Rewind(std::u16string_view path, TTsTreeNode* base = nullptr);
    // Every node matching the path, depth first in child order, then nil (and
    // nil again until the next Rewind). The tree must not change in between.
    TTsTreeNode* Next();
    // Finds or creates the path: "+" and selector segments reuse the last
    // child of their name, plain segments always append a new child.
    TTsTreeNode* Make();

    TTsTreeNode* Base() const { return base_; }
    TTsTreeNode* Start() const { return start_; }
    const WideString& PathText() const { return pathText_; }
    const WideString& Attr() const { return attr_; }
    bool Done() const { return done_; }
    int SegmentCount() const { return static_cast<int>(segments_.size()); }
    const TTsNodeFindSegment& Segment(int i) const { return segments_.at(static_cast<size_t>(i)); }

    WideString Describe() const override;
    // The finder's state for messages ("n = 2, .1"); empty for the base finder.
    virtual WideString StateText() const { return {}; }

protected:
    virtual void ResetSegment(int i);
    virtual bool TestSegment(const WideString& expr, int i, TTsTreeNode* node);
    virtual TTsTreeNode* CreateAt(const WideString& expr, int i, TTsTreeNode* node);
    // Called by Rewind once the segments are parsed.
    virtual void SegmentsParsed() {}

private:
    void ParseSegment(std::u16string_view text);
    [[noreturn]] void EmptyPath() const;

    std::vector<TTsNodeFindSegment> segments_;
    WideString pathText_;
    WideString attr_;
    TTsTreeNode* base_ = nullptr;
    TTsTreeNode* start_ = nullptr;
    bool done_ = false;
};

// Selectors are formulas of integers and "n" with "*", "/", "+", "-",
// evaluated left to right; a "*" or "/" after a "+" or "-" is refused rather
// than silently computed in the wrong order. "[v]" accepts the v-th (from 0)
// candidate of its segment under the current parent.
class TTsNodeBaseFormulaFinder : public TTsNodeFinder {
    TS_CLASS(TTsNodeBaseFormulaFinder)
public:
    TTsNodeBaseFormulaFinder() = default;
    TTsNodeBaseFormulaFinder(TTsTreeNode* base, std::u16string_view path);

    int32_t N = 0;               // the current "n"
    std::vector<int32_t> Stack;  // "n" of the enclosing levels, nearest first: ".n", "..n", ...

    // Stack := the list; with takeFirst, N := its first value, which leaves
    // the list (ETsEmptyFinderStack for an empty list).
    void ShiftN(std::vector<int32_t> stack, bool takeFirst);
    int32_t OperandValue(std::u16string_view operand, std::u16string_view formula) const;
    int32_t Evaluate(std::u16string_view formula) const;
    const std::vector<int32_t>& Counters() const { return counters_; }

protected:
    void ResetSegment(int i) override;
    bool TestSegment(const WideString& expr, int i, TTsTreeNode* node) override;
    TTsTreeNode* CreateAt(const WideString& expr, int i, TTsTreeNode* node) override;
    void SegmentsParsed() override;

public:
    WideString StateText() const override;

private:
    // A formula parsed once per Rewind: operands are constants, N or a stack pick.
    struct Term {
        char16_t Op;  // the operator before the operand; '+' for the first
        enum Kind { Const, Var, Pick } What;
        int32_t Value;  // the constant, or for Pick the prefix character
        int32_t Len;    // Pick: the prefix length
    };
    const std::vector<Term>& Compiled(int segment, const WideString& expr);
    std::vector<Term> Parse(std::u16string_view formula) const;
    int32_t Run(const std::vector<Term>& terms, std::u16string_view formula) const;

    std::vector<int32_t> counters_;
    std::vector<std::vector<Term>> compiled_;
    std::vector<bool> isCompiled_;
};

class TTsNodeFormulaFinder : public TTsNodeBaseFormulaFinder {
    TS_CLASS(TTsNodeFormulaFinder)
public:
    using TTsNodeBaseFormulaFinder::TTsNodeBaseFormulaFinder;
};

}  // namespace ts
