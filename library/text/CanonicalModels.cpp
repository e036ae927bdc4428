// Header skipping for the embedded canonical models.
#include "library/text/CanonicalModels.h"

#include "library/text/TsStreamers.h"
#include "support/Resources.h"

namespace ts {

void SkipCanonicalHeader(TStream& stream) {
    stream.SetPosition(0);
    char head[CanonicalHeaderLimit];
    int64_t n = stream.Read(head, CanonicalHeaderLimit);
    std::string_view bytes(head, static_cast<size_t>(n > 0 ? n : 0));
    int64_t start = 0;
    if (bytes.size() >= 11 && bytes.substr(0, 10) == "Tessarine " && bytes[10] >= '0' && bytes[10] <= '9') {
        size_t end = bytes.find("==\n");
        if (end != std::string_view::npos) start = static_cast<int64_t>(end + 3);
    }
    stream.SetPosition(start);
}

std::unique_ptr<TStream> OpenCanonicalModel(std::u16string_view kind) {
    auto stream = std::make_unique<TResourceStream>(WideString(u"Tsm") + WideString(kind));
    SkipCanonicalHeader(*stream);
    return stream;
}

std::unique_ptr<TTsTreeNode> ReadCanonicalModel(std::u16string_view kind) {
    return TTsmNativeStreamer::ReadFrom(OpenCanonicalModel(kind));
}

}  // namespace ts
