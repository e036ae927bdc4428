// Tagged ID lists, node lists, the ID stack and node cloning.
#include <gtest/gtest.h>

#include "library/modelling/merge/MmNodes.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;
using namespace ts::test;

namespace {

WideString Entries(const TMmIdList& l) {
    WideString s;
    for (int i = 0; i < l.Count(); ++i) s += (i ? u" " : u"") + IntToStr(l.ID(i)) + u"/" + IntToStr(l.Tag(i));
    return s;
}

}  // namespace

TEST(MmIdList, PacksIdsWithTagsAndRefusesWhatDoesNotFit) {
    TMmIdList l;
    l.Add(TMmIdList::MaxID, 255);
    l.Add(7, 200);
    l.Insert(0, 3, 1);
    l.Put(2, 9, 0);
    EXPECT_EQ(Entries(l), u"3/1 16777215/255 9/0");
    EXPECT_EQ(l.MaxTag(), 255);  // compared as unsigned bytes
    EXPECT_TRUE(l.Contains(9));
    EXPECT_FALSE(l.Contains(7));
    EXPECT_FALSE(l.Contains(-1));
    l.Delete(1);
    EXPECT_EQ(Entries(l), u"3/1 9/0");

    EXPECT_EQ(MessageOf<EListError>([&] { l.Add(-1); }), u"TMmIdList cannot store ID = -1.");
    EXPECT_EQ(MessageOf<EListError>([&] { l.Insert(0, -1, 0); }), u"TMmIdList cannot store ID = -1.");
    // A 25-bit ID would come back as another node's ID.
    EXPECT_EQ(MessageOf<EListError>([&] { l.Add(TMmIdList::MaxID + 1); }), u"TMmIdList cannot store ID = 16777216.");
    EXPECT_EQ(MessageOf<EListError>([&] { l.Put(2, 1, 0); }), u"List index out of bounds (2).");
    EXPECT_EQ(Entries(l), u"3/1 9/0");
    EXPECT_EQ(TMmIdList().MaxTag(), 0);
}

TEST(MmIdList, MergeFromRenumbersTheOtherOrigins) {
    TMmIdList mine;
    mine.Add(1, 0);
    mine.Add(2, 2);
    TMmIdList other;
    other.Add(10, 5);
    other.Add(11, 0);
    other.Add(12, 1);
    other.Add(13, 5);

    // Other's tags 0, 1, 5 take the free numbers 1, 3, 4 in that order.
    TMmIdList appended;
    appended.Assign(mine);
    appended.MergeFrom(other, false);
    EXPECT_EQ(Entries(appended), u"1/0 2/2 10/4 11/1 12/3 13/4");
    TMmIdList prepended;
    prepended.Assign(mine);
    prepended.MergeFrom(other, true);
    EXPECT_EQ(Entries(prepended), u"10/4 11/1 12/3 13/4 1/0 2/2");

    TMmIdList empty;
    empty.MergeFrom(other, false);
    EXPECT_EQ(Entries(empty), Entries(other));

    // 254 is the last tag handed out.
    TMmIdList full;
    for (int t = 0; t < 254; ++t) full.Add(t, static_cast<uint8_t>(t));
    TMmIdList one;
    one.Add(500, 9);
    full.MergeFrom(one, false);
    EXPECT_EQ(full.Tag(254), 254);
    EXPECT_EQ(MessageOf<EOverflow>([&] { full.MergeFrom(one, false); }),
              u"Origins pool exhaused when merging two TMmIdList.");
    EXPECT_EQ(full.Count(), 255);
}

TEST(MmList, SlotsKeepTheirIdsAndRefuseBadWrites) {
    TMmList list(true);
    TMmNode* a = list.Add(std::make_unique<TMmNode>());
    EXPECT_EQ(list.Add(nullptr), nullptr);
    TMmNode* c = list.Add(std::make_unique<TMmNode>());
    EXPECT_EQ(a->ID, 0);
    EXPECT_EQ(c->ID, 2);
    EXPECT_EQ(list.Count(), 3);

    EXPECT_EQ(MessageOf<EListError>([&] { list.Put(0, std::make_unique<TMmNode>()); }),
              u"Cannot replace TMmNode at 0 in TMmList.");
    EXPECT_EQ(MessageOf<EListError>([&] { list.Put(1, nullptr); }), u"TMmList.Items[1] cannot be set to nil.");
    auto stored = std::make_unique<TMmNode>();
    stored->ID = 5;
    EXPECT_EQ(MessageOf<EListError>([&] { list.Put(1, std::move(stored)); }),
              u"TMmNode must be unassigned (ID = -1) before writing to TMmList.Items[1].");
    auto assigned = std::make_unique<TMmNode>();
    assigned->ID = 0;
    EXPECT_THROW(list.Add(std::move(assigned)), EListError);
    EXPECT_EQ(list.Count(), 3);  // a failed Add leaves no slot behind
    list.Put(1, std::make_unique<TMmNode>());
    EXPECT_EQ(list.Items(1)->ID, 1);

    // Deleting inside empties the slot; deleting the last slot removes it.
    list.Delete(1);
    EXPECT_EQ(list.Items(1), nullptr);
    EXPECT_EQ(list.Count(), 3);
    list.Delete(2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Items(0), a);
    EXPECT_THROW(list.Items(2), EListError);

    TMmList strict(false);
    EXPECT_EQ(MessageOf<EListError>([&] { strict.Add(nullptr); }), u"TMmList.Items[0] cannot be set to nil.");
    EXPECT_EQ(strict.Count(), 0);
    strict.Add(std::make_unique<TMmNode>());
    EXPECT_EQ(MessageOf<EListError>([&] { strict.Delete(0); }),
              u"Cannot delete item 0 because TMmList doesn't accept nil.");
}

TEST(MmIdStack, BoundedBothWays) {
    TMmIdStack s;
    EXPECT_EQ(s.Top(), -1);
    EXPECT_EQ(MessageOf<EListError>([&] { s.Pop(); }), u"Broken TMmIdStack.");
    for (int i = 0; i < TMmIdStack::MaxDepth; ++i) s.Push(i);
    EXPECT_EQ(MessageOf<EListError>([&] { s.Push(1); }), u"Too deep TMmIdStack.");
    EXPECT_EQ(s.Top(), TMmIdStack::MaxDepth - 1);
    EXPECT_EQ(s.Pop(), TMmIdStack::MaxDepth - 1);
    EXPECT_EQ(s.Count(), TMmIdStack::MaxDepth - 1);
}

TEST(MmNode, CloneKeepsDefinitionAndDropsMergeState) {
    TObject data;
    TMmList owner(true);
    TMmNode* n = owner.Add(std::make_unique<TMmNode>());
    n->Parent = 4;
    n->Ancestor = 2;
    n->CopiedFrom.Add(1);
    n->Overlays.Add(3);
    n->Children.Add(5, 1);
    n->DefinedChildren.Add(6, 2);
    n->Name = u"x";
    n->IsInheriting = n->IsOffContext = n->IsMerged = true;
    n->Data = &data;
    auto ref = std::make_unique<TMmNode>();
    ref->Name = u"target";
    n->RightMerges.Add(std::move(ref));

    std::unique_ptr<TMmNode> c = n->Clone();
    EXPECT_EQ(c->ID, -1);
    EXPECT_EQ(c->Parent, 4);
    EXPECT_EQ(c->Ancestor, -1);
    EXPECT_EQ(Entries(c->CopiedFrom), u"1/0");
    EXPECT_EQ(c->Overlays.Count() + c->Children.Count(), 0);
    EXPECT_EQ(Entries(c->DefinedChildren), u"6/2");
    EXPECT_EQ(c->Name, u"x");
    EXPECT_TRUE(c->IsInheriting && c->IsOffContext && !c->IsPrepending);
    EXPECT_FALSE(c->IsMerged);
    EXPECT_EQ(c->Data, &data);
    ASSERT_EQ(c->RightMerges.Count(), 1);
    EXPECT_NE(&c->RightMerges[0], &n->RightMerges[0]);  // its own reference
    EXPECT_EQ(c->RightMerges[0].Name, u"target");
    EXPECT_EQ(c->LeftMerges.Count(), 0);
}
