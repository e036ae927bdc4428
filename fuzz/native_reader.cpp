// Fuzzing aid for the native text model reader: reads a model from stdin and
// reports the reader's error. Any other outcome (a crash, a sanitizer report,
// a hang, another exception type) is a finding. Build it by hand, e.g.
//   c++ -std=c++20 -fsanitize=address,undefined -I. fuzz/native_reader.cpp <libs>
// and drive it with an external fuzzer in stdin mode.
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>

#include "library/text/TsStreamers.h"

int main(int argc, char** argv) {
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    ts::TTsmNativeStreamer streamer;
    // An optional code page argument exercises the decoders too.
    if (argc > 1) streamer.Options.Codepage = std::atoi(argv[1]);
    try {
        auto root = streamer.Read(std::make_unique<ts::TStringStream>(std::move(input)));
        std::printf("%d top-level nodes\n", root->ChildCount());
    } catch (const ts::ETessarine& e) {
        std::printf("reader error: %s\n", e.what());
    } catch (const ts::EConvertError& e) {
        std::printf("conversion error: %s\n", e.what());
    }
    return 0;
}
