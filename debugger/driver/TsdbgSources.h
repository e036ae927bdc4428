// Source browsing: a directory mask such as /path/to/models/*.tsn,txt, the
// files that match it (optionally in every subdirectory), and the subdirectory
// list the window offers for quick navigation.
//
// Paths are POSIX: "/" separates directories and "\" is accepted as one, the
// root "/" is where going up stops. ":" separates nothing here, since it is an
// ordinary character of a file name on this platform. Matching ignores case.
#pragma once

#include <dirent.h>

#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "support/Object.h"

namespace ts {

inline constexpr std::u16string_view DefaultSourceExtensions = u"*.tsn,txt";

// Whether name matches a pattern of "*" (any run, also none) and "?" (one
// UTF-16 unit); everything else matches itself exactly.
bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern);

// Everything up to and including the last "/" or "\" (empty without one).
std::u16string_view DirectoryPart(std::u16string_view path);
std::u16string_view NamePart(std::u16string_view path);

// One directory search: an open directory stream standing on one entry.
class TDirSearch {
public:
    struct TEntry {
        WideString Name;
        // A real directory; a symbolic link is never one, whatever it points to.
        bool IsDirectory = false;
    };

    // Opens dir (ending in "/") and reads its first entry. Nothing is open
    // when the directory cannot be read or holds no entry at all.
    explicit TDirSearch(const WideString& dir);
    TDirSearch(TDirSearch&&) noexcept = default;
    TDirSearch& operator=(TDirSearch&&) noexcept = default;

    bool IsOpen() const { return dir_ != nullptr; }
    const TEntry& Entry() const { return entry_; }
    // Moves to the next entry; false at the end.
    bool Next();

private:
    struct TCloser {
        void operator()(DIR* d) const { ::closedir(d); }
    };
    bool ReadEntry();

    std::string path_;
    std::unique_ptr<DIR, TCloser> dir_;
    TEntry entry_;
};

// The search levels of a recursive search. Popping a level closes its search.
class TFMStack : public TObject {
    TS_CLASS(TFMStack)
public:
    struct TLevel {
        WideString Dir;  // with a trailing "/"
        TDirSearch Search;
    };

    static constexpr int DefaultCapacity = 65536;
    explicit TFMStack(int capacity = DefaultCapacity) : capacity_(capacity) {}

    int Count() const { return static_cast<int>(levels_.size()); }
    // Raises Exception "TFMStack: too high!" when the count would reach the capacity.
    void Push(WideString dir, TDirSearch search);
    void Pop();
    void Clear() { levels_.clear(); }
    TLevel& Top() { return levels_.back(); }

private:
    int capacity_;
    std::vector<TLevel> levels_;
};

// Enumerates the paths that match one pattern, directory by directory; a
// matching directory comes before its contents.
class TMaskResolver : public TObject {
    TS_CLASS(TMaskResolver)
public:
    static constexpr int RecursiveDepth = 50;

    // Off: this directory only. On: 50 levels, unless already deeper than one.
    void SetRecursive(bool on);
    int MaxDepth() const { return maxDepth_; }
    void SetMaxDepth(int depth) { maxDepth_ = static_cast<int16_t>(depth); }
    void SetCaseSensitive(bool on) { caseSensitive_ = on; }

    // A pattern without a directory part searches the current directory.
    void Start(const WideString& pattern);
    // The next matching path, or an empty string at the end.
    WideString Next();
    const WideString& Current() const { return current_; }

private:
    bool OpenDir(const WideString& dir);
    void Advance();

    int16_t maxDepth_ = 1;
    bool caseSensitive_ = false;
    WideString mask_;
    WideString nameMask_;
    TFMStack stack_;
    WideString current_;
};

// What the window tells RefreshSourceList about its controls.
struct TSourceListRequest {
    bool Force = false;
    // An item of the combo's list is selected (its text was not typed or set).
    bool ComboItemSelected = false;
    bool ComboHasFocus = false;
    WideString ComboText{};
    // The full path of the loaded file; empty when none is loaded.
    WideString LoadedPath{};
};

// What the window shows after RefreshSourceList.
struct TSourceListView {
    // When set, the combo's items become Subdirs and its text ComboText.
    bool ReplaceCombo = false;
    std::vector<WideString> Subdirs;
    WideString ComboText;
    std::vector<WideString> Files;
    // The file list's item to select, when the loaded file is listed.
    std::optional<WideString> SelectedFile;
};

class TSourcesLocation : public TObject {
    TS_CLASS(TSourcesLocation)
public:
    static constexpr int DefaultFileLimit = 65536;
    explicit TSourcesLocation(int fileLimit = DefaultFileLimit) : fileLimit_(fileLimit) {}

    const WideString& Mask() const { return mask_; }
    // An empty mask is the root; a directory, or a mask ending in a
    // separator, gets the default extensions. Rescans.
    void SetMask(const WideString& mask);
    // The mask's directory part with a trailing "/" (empty for a mask without one).
    WideString Directory() const;
    bool CanGoUp() const;
    // To the parent directory, keeping the name pattern; nothing at "/".
    void GoUp();

    bool Recursive() const { return recursive_; }
    // Takes effect at the next rescan.
    void SetRecursive(bool on) { recursive_ = on; }

    // Raises EListError "Too many source files matching '%s'." past the file
    // limit; the previous files are kept then.
    void Rescan();
    const WideString& Base() const { return base_; }
    const std::vector<WideString>& Extensions() const { return extensions_; }
    // Full paths in the order found. A file matching two patterns is there twice.
    const std::vector<WideString>& Files() const { return files_; }

    // The files, relative to Directory when relative (a file of a subdirectory
    // keeps its subdirectory path).
    std::vector<WideString> FillFiles(bool relative) const;
    // The subdirectories of Directory, never "." or "..".
    std::vector<WideString> ListSubdirs(bool relative) const;

    // The window's RefreshSourceList: applies a typed combo text and answers
    // what the combo and the file list show. Raises what SetMask raises.
    TSourceListView RefreshSourceList(const TSourceListRequest& request);
    // The combo's select event: the chosen subdirectory becomes the location.
    void SelectSubdir(const WideString& name) { SetMask(Directory() + name); }

private:
    int fileLimit_;
    WideString mask_;
    bool recursive_ = false;
    std::vector<WideString> files_;
    WideString base_;
    std::vector<WideString> extensions_;
};

}  // namespace ts
