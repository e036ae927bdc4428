// Humanised names: class and property names as the debugger shows them,
// with the library's prefixes dropped and blanks before inner capitals
// ("ETsmDoubleCompile" -> "Double Compile", "HasOrdered?" -> "Has Ordered?").
#pragma once

#include <string_view>

#include "support/Object.h"

namespace ts {

WideString HumaniseName(std::u16string_view name);

}  // namespace ts
