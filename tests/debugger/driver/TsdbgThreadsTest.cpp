// The window thread loads scripts while a compile worker (or a cancelled one
// that has not stopped yet) uses the library: both start from a fresh
// process, so the library's first-use set-up races too. Run under
// ThreadSanitizer to see races; under ASan a fault shows as a crash.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "debugger/driver/TsdbgDriver.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "support/Strings.h"

using namespace ts;

namespace {

WideString ExamplePath(const char* name) { return Utf8ToWide(std::string(TS_SOURCE_DIR) + "/examples/" + name); }

}  // namespace

TEST(TsdbgThreads, ScriptsLoadWhileWorkersCompile) {
    const WideString model = LoadSource(ExamplePath("config-file.txt")).Text;
    std::atomic<bool> go{false};
    std::atomic<int> loaded{0};
    WideString firstScript;
    std::thread window([&] {
        while (!go) std::this_thread::yield();
        for (int i = 0; i < 6; ++i) {
            TLoadedSource s = LoadSource(ExamplePath(i % 2 ? "server-log.tsn" : "phone-book-ru.tsn"));
            if (i == 0) firstScript = s.Text;
            ++loaded;
        }
    });
    TCompileDriver d;
    WideString expected;
    go = true;
    for (int i = 0; i < 6; ++i) {
        // Every other run is cancelled at once and replaced by the next one,
        // so cancelled workers overlap with the new ones.
        d.StartCompile(model, 2);
        if (i % 2 == 0) continue;
        TSyncOutcome out = d.WaitAndSync();
        ASSERT_EQ(out.Action, TSyncAction::ShowResult) << WideToUtf8(d.ErrorMessage);
        WideString text = LinesToText(RenderTree(*d.ResultTree));
        if (expected.empty()) expected = text;
        EXPECT_EQ(text, expected);
    }
    window.join();
    EXPECT_EQ(loaded, 6);
    EXPECT_FALSE(firstScript.empty());
}
