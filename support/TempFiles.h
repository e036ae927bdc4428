// Temporary files: the system's temporary directory (TMPDIR when set) and
// unique temporary files created atomically, so that no other process can
// claim the same name between choosing it and creating it.
#pragma once

#include "support/Exception.h"
#include "support/Object.h"

namespace ts {

// A failed system call, with the system's error number and reason.
class EOSError : public Exception {
public:
    EOSError(WideString message, int errorCode) : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const { return errorCode_; }
    TS_EXCEPTION(EOSError)

private:
    int errorCode_;
};

// The directory for temporary files, ending in "/": TMPDIR when it is set and
// not empty, else /tmp.
WideString GetTempDirectoryW();

// Creates a new empty file named prefix + a unique part + ".tmp" in dir (the
// temporary directory when empty) and returns its full name. The file is made
// readable and writable by its owner only. Raises EOSError when it cannot be
// created.
WideString CreateTempFileW(const WideString& dir = {}, const WideString& prefix = {});

}  // namespace ts
