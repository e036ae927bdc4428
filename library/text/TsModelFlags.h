// The eight flags of a model line: the record that the readers fill, the
// compiler keeps and the compiled dump writes, and the one table that names
// each flag as a model tree node's property and as the canonical model's
// result element. The table's order is the order of the properties.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <iterator>
#include <string_view>

#include "library/core/TsNodes.h"

namespace ts {

struct TTsModelFlags {
    bool IsResetter = false;
    bool IsOptional = false;
    bool IsTentative = false;
    bool IsOnce = false;
    bool IsOffContext = false;
    bool IsInheriting = false;
    bool IsPrepending = false;
    bool IsNonConsuming = false;
};

struct TTsModelFlagInfo {
    std::u16string_view Property;  // the Boolean property of a model tree node
    std::u16string_view Element;   // the element the canonical model's result has for it
    bool TTsModelFlags::*Member;
};

inline constexpr TTsModelFlagInfo ModelFlags[] = {
    {u"mIsResetter", u"isResetter", &TTsModelFlags::IsResetter},
    {u"mIsOptional", u"isOptional", &TTsModelFlags::IsOptional},
    {u"mIsTentative", u"isTentative", &TTsModelFlags::IsTentative},
    {u"mIsOnce", u"isOnce", &TTsModelFlags::IsOnce},
    {u"mIsOffContext", u"isOffContext", &TTsModelFlags::IsOffContext},
    {u"mIsInheriting", u"isInheriting", &TTsModelFlags::IsInheriting},
    {u"mIsPrepending", u"isPrepending", &TTsModelFlags::IsPrepending},
    {u"mIsNonConsuming", u"isNonConsuming", &TTsModelFlags::IsNonConsuming},
};
inline constexpr size_t ModelFlagCount = std::size(ModelFlags);

// Writes every flag as a Boolean property, false ones too, in the order the
// collection sorts them, so that each is appended without a search.
inline void WriteModelFlags(TTsProperties& props, const TTsModelFlags& flags) {
    struct TSortedFlag {
        TTsName Name;
        bool TTsModelFlags::*Member;
    };
    static const auto sorted = [] {
        std::array<TSortedFlag, ModelFlagCount> out;
        for (size_t i = 0; i < ModelFlagCount; ++i) out[i] = {TTsName(ModelFlags[i].Property), ModelFlags[i].Member};
        std::sort(out.begin(), out.end(),
                  [](const TSortedFlag& a, const TSortedFlag& b) { return a.Name.View() < b.Name.View(); });
        return out;
    }();
    for (const TSortedFlag& f : sorted) props.SetValue(f.Name, TTsValue::FromBool(flags.*f.Member));
}

}  // namespace ts
