// Program resources: files of resources/ embedded by the build and found by
// name without regard to case ("TsmModel" finds TSMMODEL).
#pragma once

#include <memory>
#include <span>
#include <string_view>

#include "support/Streams.h"

namespace ts {

struct TEmbeddedResource {
    std::u16string_view Name;
    std::string_view Data;
};

// Defined by the generated resources table.
std::span<const TEmbeddedResource> EmbeddedResources();

// nullptr when there is no such resource.
const TEmbeddedResource* FindResource(std::u16string_view name);

// A read-only stream over a resource's bytes.
class TResourceStream : public TMemoryStream {
    TS_CLASS(TResourceStream)
public:
    // Raises EResNotFound when the resource does not exist.
    explicit TResourceStream(std::u16string_view name);
    int64_t Write(const void*, int64_t) override { throw EStreamError(u"Resource streams are read-only"); }
};

TS_SIMPLE_EXCEPTION(EResNotFound, Exception)

}  // namespace ts
