#include "support/Resources.h"

#include "support/Strings.h"

namespace ts {

const TEmbeddedResource* FindResource(std::u16string_view name) {
    for (const TEmbeddedResource& r : EmbeddedResources())
        if (SameTextAscii(r.Name, name)) return &r;
    return nullptr;
}

namespace {
RawByteString ResourceBytes(std::u16string_view name) {
    const TEmbeddedResource* r = FindResource(name);
    if (!r) throw EResNotFound(Format(u"Resource %s not found", {name}));
    return RawByteString(r->Data);
}
}  // namespace

TResourceStream::TResourceStream(std::u16string_view name) : TMemoryStream(ResourceBytes(name)) {}

}  // namespace ts
