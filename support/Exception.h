// The platform's exception class and the runtime-library errors the library
// raises. Exceptions are copyable so that an error object can be held, passed
// to a handler, and raised later as its own class (Raise).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "support/Format.h"
#include "support/Object.h"

namespace ts {

class Exception : public std::exception, public TObject {
public:
    // No help-context parameter here: with one, a format with a single
    // integer argument in braces could be taken for message and context.
    explicit Exception(WideString message = {});
    // Builds the message from a format and arguments (the platform's syntax).
    Exception(std::u16string_view format, FormatArgs args);

    const WideString& Message() const { return message_; }
    void SetMessage(WideString message);
    int HelpContext() const { return helpContext_; }
    void SetHelpContext(int h) { helpContext_ = h; }

    const char* what() const noexcept override { return utf8_.c_str(); }

    virtual std::unique_ptr<Exception> Clone() const { return std::make_unique<Exception>(*this); }
    [[noreturn]] virtual void Raise() const { throw *this; }

    static constexpr std::u16string_view StaticClassName() { return u"Exception"; }
    std::u16string_view ClassName() const override { return u"Exception"; }

private:
    WideString message_;
    std::string utf8_;
    int helpContext_ = 0;
};

}  // namespace ts

// Declares an exception class's name and its polymorphic copy and raise.
#define TS_EXCEPTION(Name)                                                                            \
    TS_CLASS(Name)                                                                                    \
    std::unique_ptr<::ts::Exception> Clone() const override { return std::make_unique<Name>(*this); } \
    [[noreturn]] void Raise() const override { throw *this; }

// A runtime-library error class that only carries a message.
#define TS_SIMPLE_EXCEPTION(Name, Parent) \
    class Name : public Parent {          \
    public:                               \
        using Parent::Parent;             \
        TS_EXCEPTION(Name)                \
    };

namespace ts {
TS_SIMPLE_EXCEPTION(EListError, Exception)
TS_SIMPLE_EXCEPTION(EOverflow, Exception)
TS_SIMPLE_EXCEPTION(EConvertError, Exception)
TS_SIMPLE_EXCEPTION(ERangeError, Exception)
TS_SIMPLE_EXCEPTION(EStreamError, Exception)
TS_SIMPLE_EXCEPTION(EReadError, EStreamError)
TS_SIMPLE_EXCEPTION(EWriteError, EStreamError)
TS_SIMPLE_EXCEPTION(EFOpenError, EStreamError)
TS_SIMPLE_EXCEPTION(EFCreateError, EStreamError)
TS_SIMPLE_EXCEPTION(EInvalidArgument, Exception)
TS_SIMPLE_EXCEPTION(EInvalidPointer, Exception)
TS_SIMPLE_EXCEPTION(EMethodNotFound, Exception)
TS_SIMPLE_EXCEPTION(EInvalidOperation, Exception)
}  // namespace ts
