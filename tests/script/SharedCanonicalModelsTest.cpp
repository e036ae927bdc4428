// The canonical models are compiled once per process and shared: reading
// models and loading scripts on two threads at once gives what one thread
// gives, and nothing one read sets reaches the next.
#include <gtest/gtest.h>

#include <filesystem>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "library/modelling/TsmCompiler.h"
#include "library/modelling/streams/TsmSlicer.h"
#include "library/script/TsScript.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"
#include "support/Strings.h"
#include "tests/TestSupport.h"

using namespace ts;

namespace {

// The whole tree, one line per node: depth, name and every property.
void DumpInto(const TTsTreeNode& node, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth) * 2, ' ') + "[" + WideToUtf8(node.Name()) + "]";
    const TTsProperties& props = node.Props();
    for (int i = 0; i < props.Count(); ++i) {
        const TTsProperty& p = *props.ByIndex(i);
        out += " " + WideToUtf8(p.Name()) + "=" + WideToUtf8(p.Value.DumpText());
    }
    out += "\n";
    for (int i = 0; i < node.ChildCount(); ++i) DumpInto(*node.ChildByIndex(i), depth + 1, out);
}

std::string ReadModelDump(const std::string& text) {
    TTsmModellingStreamer reader;
    std::string out;
    DumpInto(*reader.Read(std::make_unique<TStringStream>(text), u"m.txt"), 0, out);
    return out;
}

// The sections as text and the model run's result tree, node names with
// the text each one spans.
void ResultInto(TTsmSlicer& s, const TTsTreeNode& node, int depth, std::string& out) {
    out += std::string(static_cast<size_t>(depth), ' ') + WideToUtf8(node.Name()) + " {" +
           s.TextOfNode(&node, u"innerGlobal") + "}\n";
    for (int i = 0; i < node.ChildCount(); ++i) ResultInto(s, *node.ChildByIndex(i), depth + 1, out);
}

std::string LoadScriptDump(const std::string& bytes) {
    TTsScript script;
    TMemoryStream in{RawByteString(bytes)};
    script.Load(in, u"s.tsn", true);
    std::string out;
    for (int i = 0; i < script.Count(); ++i) out += WideToUtf8(script.Section(i).ToText()) + "\n";
    ResultInto(*script.Slicer, *script.Slicer->ResultRoot(), 0, out);
    return out;
}

std::vector<std::string> ExampleFiles(const std::string& extension) {
    std::vector<std::string> texts;
    for (const auto& entry : std::filesystem::directory_iterator(std::string(TS_SOURCE_DIR) + "/examples"))
        if (entry.path().extension() == extension) texts.push_back(LoadFileBytes(Utf8ToWide(entry.path().string())));
    return texts;
}

}  // namespace

TEST(SharedCanonicalModels, ReadsOnTwoThreadsGiveWhatOneThreadGives) {
    const std::vector<std::string> models = ExampleFiles(".txt");
    const std::vector<std::string> scripts = ExampleFiles(".tsn");
    ASSERT_GE(models.size(), 3u);
    ASSERT_GE(scripts.size(), 3u);
    std::vector<std::string> modelDumps, scriptDumps;
    for (const std::string& m : models) modelDumps.push_back(ReadModelDump(m));
    for (const std::string& s : scripts) scriptDumps.push_back(LoadScriptDump(s));
    const TTsmCompiler* modelModel = &CanonicalModel(u"Model");
    const TTsmCompiler* scriptModel = &CanonicalModel(u"Script");

    // Each thread reads models and loads scripts, starting together.
    constexpr int Iterations = 4;
    std::latch start(2);
    std::vector<std::string> got[2];
    const TTsmCompiler* seen[2][2] = {};
    auto work = [&](int t) {
        start.arrive_and_wait();
        for (int i = 0; i < Iterations; ++i) {
            // One thread begins with the models, the other with the scripts.
            for (int part = 0; part < 2; ++part) {
                if ((part + t) % 2 == 0)
                    for (const std::string& m : models) got[t].push_back(ReadModelDump(m));
                else
                    for (const std::string& s : scripts) got[t].push_back(LoadScriptDump(s));
            }
        }
        seen[t][0] = &CanonicalModel(u"Model");
        seen[t][1] = &CanonicalModel(u"Script");
    };
    std::thread a(work, 0), b(work, 1);
    a.join();
    b.join();

    for (int t = 0; t < 2; ++t) {
        EXPECT_EQ(seen[t][0], modelModel);
        EXPECT_EQ(seen[t][1], scriptModel);
        std::vector<std::string> expected;
        for (int i = 0; i < Iterations; ++i)
            for (int part = 0; part < 2; ++part) {
                const std::vector<std::string>& dumps = (part + t) % 2 == 0 ? modelDumps : scriptDumps;
                expected.insert(expected.end(), dumps.begin(), dumps.end());
            }
        EXPECT_EQ(got[t], expected) << "thread " << t;
    }
}

TEST(SharedCanonicalModels, NothingOneReadSetsReachesTheNext) {
    // A handler and a cancel token are the reader's own.
    TTsmModellingStreamer tolerant;
    int reports = 0;
    tolerant.OnError = [&reports](TTsObject&, Exception&) { ++reports; };
    EXPECT_NE(tolerant.Read(std::make_unique<TStringStream>("a\n   b\n")), nullptr);
    EXPECT_EQ(reports, 1);
    EXPECT_THROW(TTsmModellingStreamer().Read(std::make_unique<TStringStream>("a\n   b\n")), ETsmWarning);

    TTsmModellingStreamer cancelled;
    cancelled.CancelToken.Cancel();
    EXPECT_THROW(cancelled.Read(std::make_unique<TStringStream>("a = x\n")), ETsmCancelled);
    EXPECT_EQ(TTsmModellingStreamer().Read(std::make_unique<TStringStream>("a = x\n"))->ChildCount(), 1);

    // The script loader's routines are registered in its run, not in the model.
    LoadScriptDump("Tessarine 0.79\n== Model ==\nm\n");
    TTsCallbackList handlers;
    EXPECT_EQ(CanonicalModel(u"Script").Functions->Handlers(u"checkVersion", handlers), 0);
    EXPECT_EQ(CanonicalModel(u"Script").Functions->Handlers(u"convertCharset", handlers), 0);
}
