#include "support/TempFiles.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/Strings.h"

namespace ts {

WideString GetTempDirectoryW() {
    const char* env = std::getenv("TMPDIR");
    std::string dir = env && *env ? env : "/tmp";
    if (dir.back() != '/') dir += '/';
    return Utf8ToWide(dir);
}

WideString CreateTempFileW(const WideString& dir, const WideString& prefix) {
    WideString base = dir.empty() ? GetTempDirectoryW() : dir;
    if (base.back() != u'/') base += u'/';
    static constexpr char kSuffix[] = ".tmp";
    std::string pattern = WideToUtf8(base) + WideToUtf8(prefix) + "XXXXXX" + kSuffix;
    // mkstemps creates the file with O_EXCL and mode 0600: the name is ours alone.
    int fd = ::mkstemps(pattern.data(), static_cast<int>(sizeof kSuffix - 1));
    if (fd < 0) {
        int err = errno;
        throw EOSError(Format(u"Cannot create a temporary file in \"%s\". %s", {base, Utf8ToWide(std::strerror(err))}),
                       err);
    }
    ::close(fd);
    return Utf8ToWide(pattern);
}

}  // namespace ts
