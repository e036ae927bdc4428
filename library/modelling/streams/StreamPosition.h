// TStreamPositionKeeper: puts a stream back at the position it had when the
// keeper was made, on every way out of a scope (errors included).
#pragma once

#include <cstdint>

#include "support/Streams.h"

namespace ts {

class TStreamPositionKeeper {
public:
    explicit TStreamPositionKeeper(TStream& s) : s_(s), pos_(s.Position()) {}
    ~TStreamPositionKeeper() { s_.Seek(pos_, TSeekOrigin::soBeginning); }
    TStreamPositionKeeper(const TStreamPositionKeeper&) = delete;
    TStreamPositionKeeper& operator=(const TStreamPositionKeeper&) = delete;

private:
    TStream& s_;
    int64_t pos_;
};

}  // namespace ts
