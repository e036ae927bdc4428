// The modelling reader against the native reader: both canonical models,
// a corpus of model texts in the common language, and each point where the
// two readers are meant to differ.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "library/text/CanonicalModels.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"

using namespace ts;
using ::testing::HasSubstr;

namespace {

std::unique_ptr<TTsTreeNode> ReadNative(const std::string& text) {
    TTsmNativeStreamer r;
    return r.Read(std::make_unique<TStringStream>(text), u"m.txt");
}

std::unique_ptr<TTsTreeNode> ReadModelling(const std::string& text, TTsErrorEvent onError = nullptr) {
    TTsmModellingStreamer r;
    r.OnError = std::move(onError);
    return r.Read(std::make_unique<TStringStream>(text), u"m.txt");
}

// The whole tree, one line per node: depth, name and every property.
void DumpInto(const TTsTreeNode& node, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + WideToUtf8(node.Name()) + "]";
    const TTsProperties& props = node.Props();
    for (int i = 0; i < props.Count(); ++i) {
        const TTsProperty& p = *props.ByIndex(i);
        WideString v = p.Value.DumpText();
        for (char16_t& c : v)
            if (c == 0) c = u'|';
        out += " " + WideToUtf8(p.Name()) + "=" + WideToUtf8(v);
    }
    out += "\n";
    for (int i = 0; i < node.ChildCount(); ++i) DumpInto(*node.ChildByIndex(i), depth + 1, out);
}

std::string Dump(const TTsTreeNode& root) {
    std::string out;
    DumpInto(root, 0, out);
    return out;
}

std::string CanonicalText(std::u16string_view kind) { return OpenCanonicalModel(kind)->ReadToEnd(); }

}  // namespace

TEST(ModellingReader, ReadsBothCanonicalModelsAsTheNativeReaderDoes) {
    for (std::u16string_view kind : {u"Model", u"Script"}) {
        const std::string text = CanonicalText(kind);
        EXPECT_EQ(Dump(*ReadModelling(text)), Dump(*ReadNative(text))) << WideToUtf8(kind);
    }
}
