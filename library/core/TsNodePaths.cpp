// Node paths: prefix resolution, FirstOnPath, the node finder and the
// formula finders.
#include "library/core/TsNodePaths.h"

#include <algorithm>
#include <limits>
#include <unordered_set>

#include "support/Strings.h"

namespace ts {

// ---- Errors -------------------------------------------------------------

ETsInvalidParentPath::ETsInvalidParentPath(std::u16string_view prefix)
    : ETessarine(u"Node parent path must consist of either '.', '\\' or '/' or be empty - however, '%s' was given.",
                 {prefix}),
      Prefix(prefix) {}

ETsFirstOnPathWithExpr::ETsFirstOnPathWithExpr(const TTsTreeNode* node, std::u16string_view path)
    : ETsTreeNode(node, u"%s.FirstOnPath cannot be used on paths with '[expressions]' - like on '%s'.", {node, path}),
      Path(path) {}

// ---- Path helpers ------------------------------------------------------------

namespace {

// Index into `count` ancestors (nearest first) for a prefix of `len` times
// `c`, or -1 for the base itself.
int SelectIndex(char16_t c, size_t len, size_t count) {
    if (c == u'.') {
        size_t m = std::min(len, count);  // beyond the root: the root
        return m == 0 ? -1 : static_cast<int>(m) - 1;
    }
    size_t depth = len - 1;  // counted from the root
    return depth >= count ? -1 : static_cast<int>(count - 1 - depth);
}

void CheckPrefix(std::u16string_view prefix) {
    if (prefix.empty()) return;
    if (prefix.find_first_not_of(prefix[0]) != std::u16string_view::npos || !IsNodePathPrefixChar(prefix[0]))
        throw ETsInvalidParentPath(prefix);
}

}  // namespace

std::u16string_view NodePathPrefix(std::u16string_view path) {
    size_t n = 0;
    while (n < path.size() && IsNodePathPrefixChar(path[n])) ++n;
    return path.substr(0, n);
}

int SelectByParentPrefix(std::u16string_view prefix, size_t count) {
    if (prefix.empty()) return -1;
    CheckPrefix(prefix);
    return SelectIndex(prefix[0], prefix.size(), count);
}

TTsTreeNode* ResolveParentPrefix(const TTsTreeNode* base, std::u16string_view prefix) {
    auto* node = const_cast<TTsTreeNode*>(base);  // finding hands out what the caller may change
    if (prefix.empty()) return node;
    CheckPrefix(prefix);
    size_t up;
    if (prefix[0] == u'.') {
        up = prefix.size();
    } else {
        size_t depth = 0;
        for (const TTsTreeNode* p = base->Parent(); p; p = p->Parent()) ++depth;
        size_t want = prefix.size() - 1;
        if (want >= depth) return node;
        up = depth - want;
    }
    for (; up > 0 && node->Parent(); --up) node = node->Parent();
    return node;
}

std::u16string_view SplitNodePathAttr(std::u16string_view path, WideString* attr) {
    size_t dollar = path.find(u'$');
    std::u16string_view a = dollar == std::u16string_view::npos ? std::u16string_view() : path.substr(dollar + 1);
    if (attr) *attr = a.empty() ? WideString(u"inner") : WideString(a);
    return path.substr(0, std::min(dollar, path.size()));
}

// ---- FirstOnPath --------------------------------------------------------------

TTsTreeNode* TTsTreeNode::FirstOnPath(std::u16string_view path) const {
    if (path.find(u'[') != std::u16string_view::npos) throw ETsFirstOnPathWithExpr(this, path);
    // Depth first over (node, rest of path) with a heap stack, so long paths
    // cannot exhaust the call stack.
    struct Frame {
        const TTsTreeNode* Parent;
        std::u16string_view Tail;
        int Next;  // the next child named like the head, or -1
    };
    std::vector<Frame> stack;
    // A tail that climbs ("a/.b") can bring the search back to places it has
    // tried; remembering them keeps crafted paths from taking exponential time.
    bool climbs = false;
    for (size_t i = 0; i + 1 < path.size(); ++i)
        if (IsNodePathSeparator(path[i]) && IsNodePathPrefixChar(path[i + 1])) climbs = true;
    struct PairHash {
        size_t operator()(const std::pair<const void*, size_t>& p) const {
            return std::hash<const void*>{}(p.first) ^ (p.second * 0x9E3779B97F4A7C15ull);
        }
    };
    std::unordered_set<std::pair<const void*, size_t>, PairHash> tried;

    // Resolves one (node, path) step: a result, or a frame to search, or nil.
    auto examine = [&](const TTsTreeNode* node, std::u16string_view p) -> TTsTreeNode* {
        std::u16string_view prefix = NodePathPrefix(p);
        TTsTreeNode* from = ResolveParentPrefix(node, prefix);
        std::u16string_view rest = p.substr(prefix.size());
        if (rest.empty()) return from;
        size_t sep = rest.find_first_of(u"\\/");
        if (sep == std::u16string_view::npos) return from->FirstChild(rest);
        std::u16string_view head = rest.substr(0, sep), tail = rest.substr(sep + 1);
        if (head.empty() || tail.empty())
            throw ETsEmptyNodePathSegment(this, path, u"%s path '%s' contains an empty segment.", {this, path});
        stack.push_back({from, tail, from->Children().IndexOf(head)});
        return nullptr;
    };

    if (TTsTreeNode* found = examine(this, path)) return found;
    while (!stack.empty()) {
        Frame& f = stack.back();
        if (f.Next < 0) {
            stack.pop_back();
            continue;
        }
        const TTsTreeNode* child = f.Parent->ChildByIndex(f.Next);
        f.Next = f.Parent->Children().NextIndexOf(f.Next);
        std::u16string_view tail = f.Tail;
        if (climbs && !tried.insert({child, static_cast<size_t>(tail.data() - path.data())}).second) continue;
        if (TTsTreeNode* found = examine(child, tail)) return found;
    }
    return nullptr;
}

// ---- TTsNodeFinder ---------------------------------------------------------------

TTsNodeFinder::TTsNodeFinder(TTsTreeNode* base, std::u16string_view path) : base_(base) { Rewind(path); }

void TTsNodeFinder::EmptyPath() const {
    if (pathText_.empty())
        throw ETsEmptyNodePathSegment(this, pathText_, u"Attempted to search for empty %s path.", {this});
    throw ETsEmptyNodePathSegment(this, pathText_, u"%s path '%s' contains an empty segment.", {this, pathText_});
}

void TTsNodeFinder::ParseSegment(std::u16string_view text) {
    TTsNodeFindSegment seg;
    if (!text.empty() && text[0] == u'+') {
        seg.Appending = true;
        text.remove_prefix(1);
    }
    size_t bracket = text.find(u'[');
    if (bracket != std::u16string_view::npos) {
        if (text.back() != u']' || bracket + 2 == text.size())
            throw ETsEmptyNodePathExpression(this, pathText_, u"%s path '%s' contains empty expression ('node[expr]').",
                                             {this, pathText_});
        seg.Expr = WideString(text.substr(bracket + 1, text.size() - bracket - 2));
        text = text.substr(0, bracket);
    }
    if (text.empty()) EmptyPath();
    seg.Name = WideString(text);
    segments_.push_back(std::move(seg));
}

void TTsNodeFinder::Rewind(std::u16string_view path, TTsTreeNode* base) {
    if (base) base_ = base;
    WideString text(path);  // the caller's view may point into our own PathText
    if (!base_)
        throw ETsNodeFinderNotInitialized(this, text, u"Attempted to use %s without initializing it with Rewind.",
                                          {this});
    segments_.clear();
    done_ = false;
    pathText_ = text;
    try {
        std::u16string_view body = SplitNodePathAttr(pathText_, &attr_);
        std::u16string_view prefix = NodePathPrefix(body);
        start_ = ResolveParentPrefix(base_, prefix);
        std::u16string_view rest = body.substr(prefix.size());
        for (size_t pos = 0; !rest.empty();) {
            size_t sep = rest.find_first_of(u"\\/", pos);
            ParseSegment(rest.substr(pos, sep == std::u16string_view::npos ? std::u16string_view::npos : sep - pos));
            if (sep == std::u16string_view::npos) break;
            pos = sep + 1;
        }
        if (!segments_.empty() && segments_.back().Appending)
            throw ETsLastNodePathAppends(this, pathText_, u"%s path '%s' cannot have last segment appending ('+node').",
                                         {this, pathText_});
    } catch (...) {
        // A path that does not parse enumerates nothing.
        segments_.clear();
        done_ = true;
        throw;
    }
    SegmentsParsed();
    if (!segments_.empty()) ResetSegment(0);
}

void TTsNodeFinder::ResetSegment(int i) {
    if (i < 0 || i >= SegmentCount()) return;
    TTsNodeFindSegment& seg = segments_[static_cast<size_t>(i)];
    seg.Current = nullptr;
    seg.Find.Owner = nullptr;
}

bool TTsNodeFinder::TestSegment(const WideString& expr, int i, TTsTreeNode* node) {
    if (expr.empty()) return true;
    if (!OnTest)
        throw ETsNodeFindNoTester(this, pathText_, u"%s has no assigned OnTest to test expression of path '%s'.",
                                  {this, pathText_});
    return OnTest(*this, i, node);
}

TTsTreeNode* TTsNodeFinder::CreateAt(const WideString& /*expr*/, int i, TTsTreeNode* node) {
    if (!OnCreate)
        throw ETsNodeFindNoCreator(this, pathText_,
                                   u"%s has no assigned OnCreate to create node with an expression on path '%s'.",
                                   {this, pathText_});
    return OnCreate(*this, i, node);
}

TTsTreeNode* TTsNodeFinder::Next() {
    if (!base_)
        throw ETsNodeFinderNotInitialized(this, pathText_, u"Attempted to use %s without initializing it with Rewind.",
                                          {this});
    if (done_) return nullptr;
    if (segments_.empty()) {
        done_ = true;
        return start_;
    }
    const int last = SegmentCount() - 1;
    // Matches kept from the last call are only trusted while every collection
    // on the way down is unchanged; checked from the start, so that a node
    // removed meanwhile is noticed before it is touched.
    {
        const TTsTreeNode* node = start_;
        for (const TTsNodeFindSegment& seg : segments_) {
            if (!seg.Find.Owner) break;
            const TTsTreeNodeChildren& ch = node->Children();
            if (seg.Find.Owner != &ch || seg.Find.Seq != ch.Seq())
                throw ETsHashChangedBetweenFind(&ch, seg.Find.Seq, ch.Seq());
            if (!(node = seg.Current)) break;
        }
    }
    while (!done_) {
        TTsTreeNode* node = start_;
        for (int i = 0; i <= last; ++i) {
            TTsNodeFindSegment& seg = segments_[static_cast<size_t>(i)];
            if (!seg.Current && i < last) ResetSegment(i + 1);
            if (!seg.Find.Owner) node->Children().Find(seg.Name, seg.Find);
            if (!seg.Current || i == last) {
                seg.Current = nullptr;
                for (TTsTreeNode* c = node->NextChild(seg.Find); c; c = node->NextChild(seg.Find))
                    if (TestSegment(seg.Expr, i, c)) {
                        seg.Current = c;
                        break;
                    }
            }
            node = seg.Current;
            if (!node) {
                if (i > 0)
                    segments_[static_cast<size_t>(i - 1)].Current = nullptr;  // it moves on next pass
                else
                    done_ = true;
                break;
            }
            if (i == last) return node;
        }
    }
    return nullptr;
}

TTsTreeNode* TTsNodeFinder::Make() {
    if (!base_)
        throw ETsNodeFinderNotInitialized(this, pathText_, u"Attempted to use %s without initializing it with Rewind.",
                                          {this});
    if (segments_.empty()) EmptyPath();
    TTsTreeNode* node = start_;
    for (int i = 0; i < SegmentCount(); ++i) {
        const TTsNodeFindSegment& seg = segments_[static_cast<size_t>(i)];
        TTsTreeNode* child = nullptr;
        if (seg.Appending || !seg.Expr.empty()) {
            child = node->LastChild(seg.Name);
            if (child && !seg.Expr.empty()) child = CreateAt(seg.Expr, i, child);
        }
        if (!child) child = node->AddChild(seg.Name);
        node = child;
    }
    return node;
}

WideString TTsNodeFinder::Describe() const { return TrimRight(TTsObject::Describe() + u" " + StateText()); }

// ---- Formula finders ----------------------------------------------------------------

TTsNodeBaseFormulaFinder::TTsNodeBaseFormulaFinder(TTsTreeNode* base, std::u16string_view path)
    : TTsNodeFinder(base, path) {
    // The base constructor's Rewind could not reach our overrides.
    SegmentsParsed();
}

void TTsNodeBaseFormulaFinder::SegmentsParsed() {
    size_t n = static_cast<size_t>(SegmentCount());
    counters_.assign(n, 0);
    compiled_.assign(n, {});
    isCompiled_.assign(n, false);
}

void TTsNodeBaseFormulaFinder::ResetSegment(int i) {
    TTsNodeFinder::ResetSegment(i);
    if (counters_.size() < static_cast<size_t>(SegmentCount()))
        counters_.assign(static_cast<size_t>(SegmentCount()), 0);
    if (i >= 0 && i < SegmentCount()) counters_[static_cast<size_t>(i)] = 0;
}

void TTsNodeBaseFormulaFinder::ShiftN(std::vector<int32_t> stack, bool takeFirst) {
    if (takeFirst) {
        if (stack.empty())
            throw ETsEmptyFinderStack(this, PathText(), u"%s was given empty Stack to shift N from.", {this});
        N = stack.front();
        stack.erase(stack.begin());
    }
    Stack = std::move(stack);
}

const std::vector<TTsNodeBaseFormulaFinder::Term>& TTsNodeBaseFormulaFinder::Compiled(int segment,
                                                                                      const WideString& expr) {
    size_t i = static_cast<size_t>(segment);
    if (i >= compiled_.size()) {
        compiled_.resize(i + 1);
        isCompiled_.resize(i + 1, false);
    }
    if (!isCompiled_[i]) {
        compiled_[i] = Parse(expr);
        isCompiled_[i] = true;
    }
    return compiled_[i];
}

std::vector<TTsNodeBaseFormulaFinder::Term> TTsNodeBaseFormulaFinder::Parse(std::u16string_view formula) const {
    const WideString& path = PathText();
    if (TrimView(formula).empty())
        throw ETsBadNodeFindFormula(this, path, u"Cannot parse %s formula '%s' of path '%s'.", {this, formula, path});
    std::vector<Term> terms;
    char16_t op = u'+';
    char16_t additive = 0;  // the last "+" or "-" applied
    for (size_t pos = 0;;) {
        size_t end = formula.find_first_of(u"*+-/", pos);
        if (end == std::u16string_view::npos) end = formula.size();
        std::u16string_view operand = TrimView(formula.substr(pos, end - pos));
        if (operand.empty())
            throw ETsEmptyNodeFindFormulaOperand(this, path, u"Empty operand in %s formula '%s' of path '%s'.",
                                                 {this, formula, path});
        Term t{op, Term::Const, 0, 0};
        if (operand == u"n" || operand == u"N") {
            t.What = Term::Var;
        } else if (operand.size() >= 2 && (operand.back() == u'n' || operand.back() == u'N')) {
            std::u16string_view prefix = operand.substr(0, operand.size() - 1);
            CheckPrefix(prefix);
            t.What = Term::Pick;
            t.Value = prefix[0];
            t.Len = static_cast<int32_t>(std::min<size_t>(prefix.size(), std::numeric_limits<int32_t>::max()));
        } else {
            int64_t v = 0;
            bool digits = true;
            for (char16_t c : operand) {
                if (c < u'0' || c > u'9' || (v = v * 10 + (c - u'0')) > std::numeric_limits<int32_t>::max()) {
                    digits = false;
                    break;
                }
            }
            if (!digits)
                throw ETsBadNodeFindFormulaOperand(this, path,
                                                   u"Non-numeric operand '%s' in %s formula '%s' of path '%s'.",
                                                   {operand, this, formula, path});
            t.Value = static_cast<int32_t>(v);
        }
        terms.push_back(t);
        if (end == formula.size()) break;
        op = formula[end];
        if (op == u'+' || op == u'-') {
            additive = op;
        } else if (additive) {
            char16_t a[] = {op, 0}, b[] = {additive, 0};
            throw ETsBadNodeFindFormulaPrecedence(this, path,
                                                  u"%s operator in %s formula '%s' of path '%s' must go before %s.",
                                                  {a, this, formula, path, b});
        }
        pos = end + 1;
    }
    return terms;
}

int32_t TTsNodeBaseFormulaFinder::Run(const std::vector<Term>& terms, std::u16string_view formula) const {
    // 32-bit arithmetic that wraps instead of overflowing.
    auto wrap = [](int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); };
    int32_t acc = 0;
    for (const Term& t : terms) {
        int32_t v = t.Value;
        if (t.What == Term::Var) {
            v = N;
        } else if (t.What == Term::Pick) {
            int idx = SelectIndex(static_cast<char16_t>(t.Value), static_cast<size_t>(t.Len), Stack.size());
            v = idx < 0 ? N : Stack[static_cast<size_t>(idx)];
        }
        switch (t.Op) {
            case u'+':
                acc = wrap(int64_t{acc} + v);
                break;
            case u'-':
                acc = wrap(int64_t{acc} - v);
                break;
            case u'*':
                acc = wrap(int64_t{acc} * v);
                break;
            default:
                if (v == 0)
                    throw ETsNodeFindFormulaDivByZero(this, PathText(),
                                                      u"Division by zero in %s formula '%s' of path '%s'.",
                                                      {this, formula, PathText()});
                acc = wrap(int64_t{acc} / v);  // truncates toward zero
        }
    }
    return acc;
}

int32_t TTsNodeBaseFormulaFinder::OperandValue(std::u16string_view operand, std::u16string_view formula) const {
    // An operand alone is a formula of one term; errors name the whole formula.
    std::u16string_view trimmed = TrimView(operand);
    if (trimmed.find_first_of(u"*+-/") != std::u16string_view::npos)
        throw ETsBadNodeFindFormulaOperand(this, PathText(),
                                           u"Non-numeric operand '%s' in %s formula '%s' of path '%s'.",
                                           {trimmed, this, formula, PathText()});
    return Run(Parse(trimmed), formula);
}

int32_t TTsNodeBaseFormulaFinder::Evaluate(std::u16string_view formula) const { return Run(Parse(formula), formula); }

bool TTsNodeBaseFormulaFinder::TestSegment(const WideString& expr, int i, TTsTreeNode* /*node*/) {
    if (expr.empty()) return true;
    int32_t v = Run(Compiled(i, expr), expr);
    if (counters_.size() <= static_cast<size_t>(i)) counters_.resize(static_cast<size_t>(i) + 1, 0);
    int32_t& counter = counters_[static_cast<size_t>(i)];
    return v == counter++;
}

TTsTreeNode* TTsNodeBaseFormulaFinder::CreateAt(const WideString& expr, int i, TTsTreeNode* node) {
    int32_t v = Run(Compiled(i, expr), expr);
    TTsTreeNode* parent = node->Parent();
    if (!parent || v < 0 || v >= parent->ChildCount(node->Name())) return nullptr;
    const TTsTreeNodeChildren& ch = parent->Children();
    int idx = ch.IndexOf(node->Name());
    for (int32_t k = 0; k < v; ++k) idx = ch.NextIndexOf(idx);
    return ch.Child(idx);
}

WideString TTsNodeBaseFormulaFinder::StateText() const {
    WideString s = u"n = " + IntToStr(N);
    for (size_t i = 0; i < Stack.size(); ++i) s += u", " + WideString(i + 1, u'.') + IntToStr(Stack[i]);
    return s;
}

}  // namespace ts
