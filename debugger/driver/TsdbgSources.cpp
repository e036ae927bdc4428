// Source browsing.
#include "debugger/driver/TsdbgSources.h"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>

#include "support/Exception.h"
#include "support/Streams.h"
#include "support/Strings.h"

namespace ts {

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

WideString ToSlashes(std::u16string_view s) {
    WideString out(s);
    std::replace(out.begin(), out.end(), u'\\', u'/');
    return out;
}

std::u16string_view WithoutTrailingSeparators(std::u16string_view s) {
    while (!s.empty() && IsSeparator(s.back())) s.remove_suffix(1);
    return s;
}

bool IsExistingDirectory(const WideString& path) {
    std::error_code ec;
    return std::filesystem::is_directory(FileNameToPath(path), ec);
}

}  // namespace

bool MatchesWildcard(std::u16string_view name, std::u16string_view pattern) {
    // Greedy with one backtrack point: the last "*" seen absorbs one more
    // character whenever the rest fails to match.
    size_t n = 0, p = 0;
    size_t starP = std::u16string_view::npos, starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == u'*') {
            starP = p++;
            starN = n;
        } else if (starP != std::u16string_view::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == u'*') ++p;
    return p == pattern.size();
}

std::u16string_view DirectoryPart(std::u16string_view path) {
    const size_t i = path.find_last_of(u"/\\");
    return i == std::u16string_view::npos ? std::u16string_view{} : path.substr(0, i + 1);
}

std::u16string_view NamePart(std::u16string_view path) { return path.substr(DirectoryPart(path).size()); }

// --- TDirSearch -----------------------------------------------------------

TDirSearch::TDirSearch(const WideString& dir) : path_(FileNameToPath(dir)), dir_(::opendir(path_.c_str())) {
    // An unreadable directory simply has nothing to give.
    if (dir_ && !ReadEntry()) dir_.reset();
}

bool TDirSearch::Next() { return dir_ && ReadEntry(); }

bool TDirSearch::ReadEntry() {
    const dirent* e = ::readdir(dir_.get());
    if (!e) return false;
    entry_.Name = Utf8ToWide(e->d_name);
    // A symbolic link is not a directory even when it points to one: a
    // recursive search that followed links would run round a loop (a link to
    // a parent) until the depth limit, and two links per level would double
    // the search at each level.
    if (e->d_type == DT_UNKNOWN) {
        struct stat st {};
        entry_.IsDirectory = ::lstat((path_ + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    } else {
        entry_.IsDirectory = e->d_type == DT_DIR;
    }
    return true;
}

// --- TFMStack -------------------------------------------------------------

void TFMStack::Push(WideString dir, TDirSearch search) {
    if (Count() + 1 >= capacity_) throw Exception(u"TFMStack: too high!");
    levels_.push_back(TLevel{std::move(dir), std::move(search)});
}

void TFMStack::Pop() {
    if (!levels_.empty()) levels_.pop_back();
}

// --- TMaskResolver --------------------------------------------------------

void TMaskResolver::SetRecursive(bool on) {
    if (!on)
        maxDepth_ = 1;
    else if (maxDepth_ <= 1)
        maxDepth_ = RecursiveDepth;
}

void TMaskResolver::Start(const WideString& pattern) {
    mask_ = ToSlashes(pattern);
    if (!mask_.empty() && DirectoryPart(mask_).empty()) mask_ = u"./" + mask_;
    const std::u16string_view name = NamePart(mask_);
    nameMask_ = name.empty() ? WideString(u"*") : caseSensitive_ ? WideString(name) : LowerCaseW(name);
    current_.clear();
    stack_.Clear();
    OpenDir(WideString(DirectoryPart(mask_)));
}

bool TMaskResolver::OpenDir(const WideString& dir) {
    if (dir.empty() || stack_.Count() >= maxDepth_) return false;
    WideString d = dir;
    if (d.back() != u'/') d += u'/';
    TDirSearch search(d);
    if (!search.IsOpen()) return false;
    stack_.Push(std::move(d), std::move(search));
    return true;
}

void TMaskResolver::Advance() {
    while (stack_.Count() > 0) {
        if (stack_.Top().Search.Next()) return;
        stack_.Pop();
    }
}

WideString TMaskResolver::Next() {
    for (;;) {
        if (mask_.empty() || stack_.Count() == 0) {
            current_.clear();
            return {};
        }
        // Copies: opening a subdirectory below pushes a level.
        const TFMStack::TLevel& top = stack_.Top();
        const WideString name = top.Search.Entry().Name;
        const WideString dir = top.Dir;
        if (name.empty() || name == u"." || name == u"..") {
            Advance();
            continue;
        }
        // A directory's contents come next, before the rest of its parent;
        // one that is too deep or unreadable is passed over.
        if (!(top.Search.Entry().IsDirectory && OpenDir(dir + name))) Advance();
        if (MatchesWildcard(caseSensitive_ ? name : LowerCaseW(name), nameMask_)) {
            current_ = dir + name;
            if (current_.starts_with(u"./")) current_.erase(0, 2);
            return current_;
        }
    }
}

// --- TSourcesLocation -----------------------------------------------------

void TSourcesLocation::SetMask(const WideString& mask) {
    mask_ = ToSlashes(mask);
    // The root plays the part of the current drive's root.
    if (mask_.empty()) mask_ = u"/";
    if (mask_.back() == u'/' || IsExistingDirectory(mask_))
        mask_ = WideString(WithoutTrailingSeparators(mask_)) + u"/" + WideString(DefaultSourceExtensions);
    Rescan();
}

WideString TSourcesLocation::Directory() const {
    // Masks are kept with "/" only, so the directory part ends in one.
    return WideString(DirectoryPart(mask_));
}

bool TSourcesLocation::CanGoUp() const {
    const WideString dir = Directory();
    return WithoutTrailingSeparators(dir).find(u'/') != std::u16string_view::npos;
}

void TSourcesLocation::GoUp() {
    const WideString dir = Directory();
    const std::u16string_view parent = DirectoryPart(WithoutTrailingSeparators(dir));
    if (!parent.empty()) SetMask(WideString(parent) + WideString(NamePart(mask_)));
}

void TSourcesLocation::Rescan() {
    const size_t dot = mask_.rfind(u'.');
    extensions_.clear();
    if (dot == WideString::npos) {
        // One pattern: the mask itself.
        base_ = mask_;
        extensions_.emplace_back();
    } else {
        base_ = Trim(std::u16string_view(mask_).substr(0, dot + 1));
        std::u16string_view rest = std::u16string_view(mask_).substr(dot + 1);
        for (;;) {
            const size_t comma = rest.find(u',');
            extensions_.push_back(Trim(rest.substr(0, comma)));
            if (comma == std::u16string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }

    std::vector<WideString> found;
    TMaskResolver resolver;
    resolver.SetRecursive(recursive_);
    for (const WideString& ext : extensions_) {
        resolver.Start(base_ + ext);
        for (WideString path = resolver.Next(); !path.empty(); path = resolver.Next()) {
            if (static_cast<int64_t>(found.size()) >= fileLimit_)
                throw EListError(u"Too many source files matching '%s'.", {mask_});
            found.push_back(std::move(path));
        }
    }
    files_ = std::move(found);
}

std::vector<WideString> TSourcesLocation::FillFiles(bool relative) const {
    const size_t cut = relative ? Directory().size() : 0;
    std::vector<WideString> out;
    out.reserve(files_.size());
    for (const WideString& f : files_) out.push_back(f.substr(std::min(cut, f.size())));
    return out;
}

std::vector<WideString> TSourcesLocation::ListSubdirs(bool relative) const {
    const WideString dir = Directory();
    std::vector<WideString> out;
    TMaskResolver resolver;
    resolver.Start(dir + u"*");
    for (WideString path = resolver.Next(); !path.empty(); path = resolver.Next()) {
        // A link to a directory is offered too: choosing it descends one level only.
        if (!IsExistingDirectory(path)) continue;
        out.push_back(relative && path.starts_with(dir) ? path.substr(dir.size()) : path);
    }
    return out;
}

TSourceListView TSourcesLocation::RefreshSourceList(const TSourceListRequest& request) {
    if (!request.ComboItemSelected) SetMask(request.ComboText);
    TSourceListView view;
    view.ReplaceCombo = request.Force || !request.ComboHasFocus;
    if (view.ReplaceCombo) {
        view.Subdirs = ListSubdirs(true);
        view.ComboText = mask_;
    }
    view.Files = FillFiles(true);
    const WideString dir = Directory();
    if (!request.LoadedPath.empty() && request.LoadedPath.starts_with(dir)) {
        const WideString rest = request.LoadedPath.substr(dir.size());
        if (std::find(view.Files.begin(), view.Files.end(), rest) != view.Files.end()) view.SelectedFile = rest;
    }
    return view;
}

}  // namespace ts
