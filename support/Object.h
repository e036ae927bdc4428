// The root of every class whose name shows in messages: messages print
// objects by class name, so each class answers its own through ClassName().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ts {

// UTF-16 text, counted in UTF-16 units.
using WideString = std::u16string;
// 8-bit text and byte strings.
using RawByteString = std::string;

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;

    static constexpr std::u16string_view StaticClassName() { return u"TObject"; }
    virtual std::u16string_view ClassName() const { return u"TObject"; }
};

// Class reference: what the library passes around as "a class" (node classes,
// condition classes, streamer classes...). A registry holds pointers to static
// descriptors; a kind of class derives its own descriptor with a factory.
struct TClassInfo {
    std::u16string_view Name;
    const TClassInfo* Parent = nullptr;
    bool InheritsFrom(const TClassInfo* other) const {
        for (const TClassInfo* c = this; c; c = c->Parent)
            if (c == other) return true;
        return false;
    }
};
using TClassRef = const TClassInfo*;

}  // namespace ts

#define TS_U16_(s) u##s
// Declares the class-name answers of a TObject descendant.
#define TS_CLASS(Name)                                                                \
public:                                                                               \
    static constexpr std::u16string_view StaticClassName() { return TS_U16_(#Name); } \
    std::u16string_view ClassName() const override { return TS_U16_(#Name); }
