// The library's wide strings and Qt's strings hold the same UTF-16 units.
#pragma once

#include <QString>
#include <string_view>

#include "support/Object.h"

namespace ts {

inline QString ToQString(std::u16string_view text) {
    return QString(reinterpret_cast<const QChar*>(text.data()), static_cast<qsizetype>(text.size()));
}

inline WideString ToWide(const QString& text) {
    return WideString(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
}

}  // namespace ts
