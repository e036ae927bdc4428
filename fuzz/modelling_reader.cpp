// The modelling reader over arbitrary bytes, once ending at the first error
// and once with a handler that only collects the reports.
#include "fuzz/FuzzCommon.h"
#include "library/text/modellingreader/TsmModellingStreamer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    const bool tolerant = data[0] & 1;
    fuzz::Guarded([&] {
        TTsmModellingStreamer streamer;
        if (tolerant) streamer.OnError = [](TTsObject&, Exception&) {};
        streamer.Read(std::make_unique<TStringStream>(RawByteString(fuzz::Bytes(data + 1, size - 1))), u"f.txt");
    });
    return 0;
}
