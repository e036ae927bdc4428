#include "support/Exception.h"

#include "support/Strings.h"

namespace ts {

Exception::Exception(WideString message) { SetMessage(std::move(message)); }

Exception::Exception(std::u16string_view format, FormatArgs args) { SetMessage(Format(format, args)); }

void Exception::SetMessage(WideString message) {
    message_ = std::move(message);
    utf8_ = WideToUtf8(message_);
}

}  // namespace ts
