// Helpers of the script tests: loading a script from bytes and finding the
// example scripts of the source tree.
#pragma once

#include <memory>
#include <string_view>

#include "library/script/TsScript.h"
#include "support/Strings.h"

namespace ts::scripttest {

inline std::unique_ptr<TTsScript> LoadText(std::string_view bytes) {
    auto script = std::make_unique<TTsScript>();
    TMemoryStream in{RawByteString(bytes)};
    script->Load(in);
    return script;
}

inline WideString ExamplePath(std::u16string_view name) {
    return Utf8ToWide(TS_SOURCE_DIR "/examples/") + WideString(name);
}

inline std::unique_ptr<TTsScript> LoadExample(std::u16string_view name) {
    TFileStreamW stream(ExamplePath(name), TFileMode::fmOpenRead);
    return std::make_unique<TTsScript>(stream, WideString());
}

}  // namespace ts::scripttest
