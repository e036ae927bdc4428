// The debugger's phased compiler: TPhase and the phase names the window's
// phase list shows, TTsdbgCompiler (the library compiler stopped after a
// chosen phase, remembering the last phase it entered) and BuildResultTree,
// which turns a compiler's table into the decorated dump tree the tree view
// renders.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "library/modelling/TsmCompiler.h"

namespace ts {

// Phase indexes, in the order of the window's phase list.
using TPhase = uint8_t;
inline constexpr TPhase phLoadNodes = 0;
inline constexpr TPhase phMerge = 1;
inline constexpr TPhase phFullCompilation = 2;
inline constexpr int PhaseCount = 3;

inline constexpr std::array<std::u16string_view, PhaseCount> PhaseNames = {u"Load nodes & properties", u"Merge",
                                                                           u"Full compilation"};

// The phase name for an index, "-" for none or an unknown one.
std::u16string_view PhaseName(int index);

class TTsdbgCompiler : public TTsmCompiler {
    TS_CLASS(TTsdbgCompiler)
public:
    // Phase p runs only when p < LastPhase.
    uint8_t LastPhase = 0;
    // The last phase entered; -1 while none has been.
    int8_t CurrentPhase = -1;

    void SetPhase(uint8_t p) {
        LastPhase = p;
        CurrentPhase = static_cast<int8_t>(p);
    }
    // Enters p when it follows the current phase and may run.
    bool TryEnterPhase(uint8_t p);

    TMmID LoadNode(const TTsTreeNode& node, TMmID parent) override;
    void MergeNodes() override;
    TTsmCompiler& Compile(const TTsTreeNode& tree) override;
};

// Names of the child-summary properties the dump tree gains.
inline constexpr std::u16string_view HasOrderedProp = u"HasOrdered?";
inline constexpr std::u16string_view IsCyclicProp = u"IsCyclic?";
inline constexpr std::u16string_view OnlyENDsProp = u"OnlyENDs?";
inline constexpr std::u16string_view HasOnceProp = u"HasOnce?";

// The dump tree of a compiled (or only loaded: phase 1 or less) compiler,
// each node with its record's true child-summary flags as Boolean
// properties. An early stop builds the table from the defined nodes first.
std::unique_ptr<TTsTreeNode> BuildResultTree(TTsmCompiler& compiler, int phase);

}  // namespace ts
