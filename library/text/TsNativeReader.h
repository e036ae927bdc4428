// TTsmNativeStreamer: the hand-written reader of the text model language,
// one line at a time, into the model lines of TTsmTextStreamer.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>
#include <vector>

#include "library/text/TsStreamers.h"

namespace ts {

// The hand-written text model reader.
class TTsmNativeStreamer : public TTsmTextStreamer {
    TS_CLASS(TTsmNativeStreamer)
public:
    using TTsmTextStreamer::TTsmTextStreamer;

    static const TTsStreamerClassInfo Class;
    static std::unique_ptr<TTsTreeNode> ReadFrom(std::unique_ptr<TStream> stream) {
        return TTsStreamer::ReadFrom(&Class, std::move(stream));
    }

    // Most items one line may list.
    static constexpr size_t MaxItems = 256;

protected:
    bool ParseLine() override;

private:
    void ProcessItems();

    // The line's items, as views into line_; kept to reuse their storage.
    std::vector<std::u16string_view> items_;
};

}  // namespace ts
