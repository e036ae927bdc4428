// RPN compile and evaluate: the data is the expression text; the first byte
// picks the order and whether variables are known. Known variables evaluate
// to their name as a string when it starts with "s", else to its length.
#include "fuzz/FuzzCommon.h"
#include "library/expressions/rpn/RPNit.h"
#include "support/Strings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    if (size == 0 || fuzz::TooLong(size)) return 0;
    const uint8_t mode = data[0];
    const WideString text = Utf8ToWide(fuzz::Bytes(data + 1, size - 1));
    fuzz::Guarded([&] {
        TRpnCompileSettings settings;
        // The cache would keep every distinct text of the run.
        settings.UseCache = false;
        settings.Reversed = mode & 1;
        std::shared_ptr<const TCompiledRPN> compiled = RpnCompile(text, settings);
        TRpnEvaluator ev(*compiled);
        if (mode & 2) {
            ev.OnVariable = [](TRpnEvaluator&, const WideString& name, TRpnScalar& value) {
                if (!name.empty() && name[0] == u's') {
                    value.Kinds = RpnKind(valStr);
                    value.Str = name;
                } else {
                    value.Kinds = RpnKind(valNum);
                    value.Num = static_cast<double>(name.size());
                }
            };
        }
        TRpnScalar result;
        ev.Evaluate(result);
        RpnValueToText(result);
    });
    return 0;
}
