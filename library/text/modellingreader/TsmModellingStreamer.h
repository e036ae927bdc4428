// TTsmModellingStreamer: the text model reader that reads model text with
// the library's own engine. It runs the compiled canonical "Model" model
// over the text and turns every "line" element of the result into a model
// node with the same node-building step as the native reader.
//
// Warnings of the model (WARN nodes) and other recoverable reports of the
// run go to this streamer's HandleError: with an OnError handler reading
// goes on, without one they end the read. A copy of CancelToken, cancelled
// elsewhere, ends the read with ETsmCancelled.
#pragma once

#include <memory>
#include <string_view>

#include "library/modelling/TsmEngine.h"
#include "library/modelling/TsmRun.h"
#include "library/modelling/streams/TsmSlicer.h"
#include "library/text/TsStreamers.h"

namespace ts {

class TTsmModellingStreamer : public TTsmTextStreamer {
    TS_CLASS(TTsmModellingStreamer)
public:
    explicit TTsmModellingStreamer(TTsTreeNode* root = nullptr);
    ~TTsmModellingStreamer() override;

    // Stops the read from another thread: the model run shares this token.
    TTsmCancelToken CancelToken;

    static const TTsStreamerClassInfo Class;
    static std::unique_ptr<TTsTreeNode> ReadFrom(std::unique_ptr<TStream> stream) {
        return TTsStreamer::ReadFrom(&Class, std::move(stream));
    }

protected:
    void DoRead() override;
    // Lines come from the model's result, not from cutting the text.
    bool ParseLine() override { return false; }

private:
    // Fills Props from one "line" element of the result.
    void ReadLineElement(const TTsTreeNode& line);
    WideString TextOf(const TTsTreeNode& line, std::u16string_view child, std::u16string_view prop);
    void ReadMerges(const TTsTreeNode* list, TTsStreamingMerges& merges);
    // Attaches to a mismatch of the model's run what the run expected
    // where it got farthest (TTsmReadExplanation, in error.Extra).
    // Runs the failed run again with a listener to explain where and why.
    void Explain(TTsmRun& run, ETsmMismatch& error);

    std::unique_ptr<TTsmSlicer> slicer_;
};

}  // namespace ts
