// TTsmLine: models its children over one line of the input. The line gets a
// stream of its own, pushed as the current input while the children run and
// kept by the slicer, so that the children's spans stay readable after the
// run. An input held in memory is viewed in place; any other is copied.
#include <algorithm>
#include <string_view>

#include "library/modelling/TsmCompiler.h"

namespace ts {

namespace {

// Bytes of input looked at first while searching for the line break; the
// window doubles for long lines, so short lines are not over-read.
constexpr int64_t FirstWindow = 256;
constexpr int64_t MaxWindow = 65536;

// Reads from the input's position into buf until the separator or the end
// of the input; answers the line's length and whether the separator ended
// it. A long line is read on until its separator, however long it is: a
// line is never taken to run to the end of the input just because its
// separator lies far away.
int64_t ReadLine(TStream& in, const RawByteString& sep, RawByteString& buf, bool& found) {
    buf.clear();
    found = false;
    size_t searchFrom = 0;
    for (int64_t window = FirstWindow;; window = std::min(window * 2, MaxWindow)) {
        const size_t have = buf.size();
        buf.resize(have + static_cast<size_t>(window));
        const int64_t n = in.Read(buf.data() + have, window);
        buf.resize(have + static_cast<size_t>(n > 0 ? n : 0));
        if (!sep.empty()) {
            const size_t at = buf.find(sep, searchFrom);
            if (at != RawByteString::npos) {
                found = true;
                return static_cast<int64_t>(at);
            }
            // A separator may straddle two windows.
            searchFrom = buf.size() >= sep.size() ? buf.size() - sep.size() + 1 : 0;
        }
        if (n < window) return static_cast<int64_t>(buf.size());
    }
}

}  // namespace

std::unique_ptr<Exception> TTsmLine::ModellNode(TTsTreeNode* parentResult, const TTsmSpan& span) {
    TTsmRun& r = *Run;
    TStream& in = r.CurrentInput();
    const int64_t start = in.Position();
    const TTsmSpan lineSpan{static_cast<int32_t>(span.Offset - start), span.Length, nullptr};
    // At the end of the input the children meet the end of the input itself.
    if (start >= in.Size()) return TTsmNode::ModellNode(parentResult, lineSpan);

    TTsmRunState& rs = *r.RunState;
    bool found = false;
    int64_t length = 0;
    if (const char* memory = r.Slicer ? StreamMemory(in) : nullptr) {
        const std::string_view rest(memory + start, static_cast<size_t>(in.Size() - start));
        const size_t at = rs.LineBreak.empty() ? std::string_view::npos : rest.find(rs.LineBreak);
        found = at != std::string_view::npos;
        length = static_cast<int64_t>(found ? at : rest.size());
        r.InputStack.PushBorrowed(r.Slicer->AddView(memory + start, length));
    } else {
        length = ReadLine(in, rs.LineBreak, rs.LineBytes, found);
        r.PushInput(std::make_unique<TMemoryStream>(rs.LineBytes.substr(0, static_cast<size_t>(length))));
    }
    const int64_t after = start + length + (found ? static_cast<int64_t>(rs.LineBreak.size()) : 0);
    in.Seek(start, TSeekOrigin::soBeginning);

    std::unique_ptr<Exception> e = TTsmNode::ModellNode(parentResult, lineSpan);
    r.PopInput();
    in.Seek(after, TSeekOrigin::soBeginning);
    return e;
}

}  // namespace ts
