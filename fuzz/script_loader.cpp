// The script loader over arbitrary bytes, keeping the modelling result.
#include "fuzz/FuzzCommon.h"
#include "library/script/TsScript.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (fuzz::TooLong(size)) return 0;
    fuzz::Guarded([&] {
        TTsScript script;
        TMemoryStream in{RawByteString(fuzz::Bytes(data, size))};
        script.Load(in, u"f.tsn", true);
    });
    return 0;
}
