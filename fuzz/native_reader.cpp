// The native reader over arbitrary bytes; the first byte picks the code page
// it decodes with, so the decoders are fuzzed too.
#include "fuzz/FuzzCommon.h"
#include "library/text/TsNativeReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    static const int32_t kCodepages[] = {65001, 1252, 1251, 1200, 1201, 866, 20127};
    const int32_t codepage = kCodepages[data[0] % std::size(kCodepages)];
    fuzz::Guarded([&] {
        TTsmNativeStreamer streamer;
        streamer.Options.Codepage = codepage;
        streamer.Read(std::make_unique<TStringStream>(RawByteString(fuzz::Bytes(data + 1, size - 1))), u"f.txt");
    });
    return 0;
}
