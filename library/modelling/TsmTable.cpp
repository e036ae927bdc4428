// The table pass: the compiled records leave the machine and take their
// final place, parent and children from the node list given.
#include "library/modelling/TsmCompiler.h"

namespace ts {

void TTsmCompiler::BuildTable(const TMmList& nodes) {
    const int count = nodes.Count();
    Table.clear();
    Table.resize(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        const TMmNode* node = nodes.Items(i);
        if (!node) continue;
        const TMmNode* owner = i < Machine->Merged.Count() && Machine->Merged.Items(i) ? Machine->Merged.Items(i)
                               : i < Machine->Defined.Count()                          ? Machine->Defined.Items(i)
                                                                                       : node;
        std::unique_ptr<TTsmNodeInfo> info = Machine->TakeInfo(Machine->InfoOf(*owner));
        TTsmProps& props = info->Props;
        props.ID = i;
        props.Parent = node->Parent;
        props.Name = node->Name;
        props.Children.resize(static_cast<size_t>(node->Children.Count()));
        for (int k = 0; k < node->Children.Count(); ++k) props.Children[static_cast<size_t>(k)] = node->Children.ID(k);
        Table[static_cast<size_t>(i)] = std::move(info);
    }
}

}  // namespace ts
