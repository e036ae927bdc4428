// Script sections and subsections: their errors, their text forms (the
// reverse of loading), the option section's settings read into a wide INI
// file and written back, and the language lines.
#include <algorithm>

#include "library/script/TsScript.h"
#include "support/Strings.h"

namespace ts {

namespace {

struct TKindInfo {
    std::u16string_view Title;
    std::u16string_view Name;
};
constexpr TKindInfo KindTable[] = {
    {u"Model", u"lsModel"},
    {u"Tree", u"lsTree"},
    {u"Option", u"lsOptions"},
    {u"Sample", u"lsSample"},
    {u"Description", u"lsDescription"},
    {u"", u"lsOther"},
};

bool IsCrLf(char16_t c) { return c == u'\r' || c == u'\n'; }

std::u16string_view StripCrLf(std::u16string_view s) {
    while (!s.empty() && IsCrLf(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsCrLf(s.back())) s.remove_suffix(1);
    return s;
}

// Calls f with each line of text cut at lineBreak; the last line may be empty.
template <class F>
void ForEachLine(std::u16string_view text, std::u16string_view lineBreak, F&& f) {
    size_t pos = 0;
    for (;;) {
        const size_t end = text.find(lineBreak, pos);
        if (end == std::u16string_view::npos) {
            f(text.substr(pos));
            return;
        }
        f(text.substr(pos, end - pos));
        pos = end + lineBreak.size();
    }
}

// Lines of a value, whichever line breaks it holds.
std::vector<std::u16string_view> ValueLines(std::u16string_view text) {
    std::vector<std::u16string_view> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (!IsCrLf(text[i])) continue;
        lines.push_back(text.substr(start, i - start));
        if (text[i] == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') ++i;
        start = i + 1;
    }
    lines.push_back(text.substr(start));
    return lines;
}

}  // namespace

std::u16string_view StandardSectionTitle(TTsSectionKind kind) {
    return kind >= lsModel && kind <= lsOther ? KindTable[kind].Title : std::u16string_view();
}

std::u16string_view SectionKindName(TTsSectionKind kind) {
    return kind >= lsModel && kind <= lsOther ? KindTable[kind].Name : std::u16string_view(u"?");
}

// ---- Errors -------------------------------------------------------------------

ETsEmptySubsectionTitle::ETsEmptySubsectionTitle(const TTsSection* section)
    : ETsScript(section ? &section->Script() : nullptr, u"Script subsection cannot have an empty title.", {}),
      Section(section) {}

ETsEmptySectionTitle::ETsEmptySectionTitle(const TTsScript* script)
    : ETsScript(script, u"Script section cannot have an empty title.", {}) {}

ETsScriptNoSupportedModel::ETsScriptNoSupportedModel(const TTsScript* script)
    : ETsScript(script, u"%s contains no models that support this version (%s).",
                {script, TTsVersions::ToText(TTsVersions::LibraryVersion)}) {}

ETsScriptNoKind::ETsScriptNoKind(const TTsScript* script, TTsSectionKind kind)
    : ETsScript(script, u"%s doesn't contain a %s section.", {script, SectionKindName(kind)}), Kind(kind) {}

ETsOtherSectionCall::ETsOtherSectionCall(const TTsScript* script, std::u16string_view method)
    : ETsScript(script, u"%s.%s doesn't accept section kind of lsOther.", {script, method}) {}

ETsScriptZeroVersion::ETsScriptZeroVersion(const TTsScript* script)
    : ETsScript(script, u"Attempted to set a zero TTsVersion for %s.", {script}) {}

ETsDuplicatedSection::ETsDuplicatedSection(const TTsScript* script, const WideString& title)
    : ETsScript(script, u"Declaring '%s' %s section twice.", {title, script}), Title(title) {}

ETsBadScriptCharset::ETsBadScriptCharset(const TTsScript* script, const WideString& charset)
    : ETsScript(script, u"%s charset '%s' is unknown.", {script, charset}), Charset(charset) {}

ETsLaterScriptVersion::ETsLaterScriptVersion(const TTsScript* script, TTsVersion version)
    : ETessarine(u"Tessarine script version (v%s) is newer than this build (v%s).",
                 {TTsVersions::ToText(version), TTsVersions::ToText(TTsVersions::LibraryVersion)}),
      Script(script),
      Version(version) {}

// ---- TTsSubsection ----------------------------------------------------------------

TTsSubsection::TTsSubsection(TTsSection& section, WideString title) : section_(&section), title_(std::move(title)) {}

void TTsSubsection::SetText(std::u16string_view text) { text_.assign(StripCrLf(text)); }

WideString TTsSubsection::Header() const {
    if (title_.empty()) return {};
    return u"===" + Versions.ToText() + u" " + title_ + u" ===";
}

WideString TTsSubsection::ToText() const {
    WideString out = Header();
    if (!out.empty() && !text_.empty()) out += section_->Script().LineBreak();
    out += text_;
    return out;
}

// ---- TTsSection --------------------------------------------------------------------

TTsSection::TTsSection(TTsScript& script) : script_(&script) {
    TTsHash::Add(u"", u"", std::make_unique<TTsSubsection>(*this, WideString()));
}

TTsSubsection& TTsSection::Subsection(int index) const { return *static_cast<TTsSubsection*>(Object(index)); }

TTsSubsection& TTsSection::AddSubsection(std::u16string_view title) {
    const std::u16string_view t = TrimView(title);
    if (t.empty()) throw ETsEmptySubsectionTitle(this);
    auto sub = std::make_unique<TTsSubsection>(*this, WideString(t));
    TTsSubsection& ref = *sub;
    TTsHash::Add(t, u"", std::move(sub));
    return ref;
}

TTsSubsection* TTsSection::FirstSupported() const {
    for (int i = 0; i < Count(); ++i) {
        TTsSubsection& sub = Subsection(i);
        if (!sub.Text().empty() && sub.Versions.SatisfiesLibrary()) return &sub;
    }
    return nullptr;
}

std::pair<WideString, bool> TTsSection::LocalTitle() const {
    const std::u16string_view title = TrimView(Title);
    const WideString* local = script_->LangLines.NameOf(title);
    // Authors list standard titles as they write them, often plural
    // ("Beispiele=Samples"); the section should keep that local title.
    if (!local && Kind != lsOther) local = script_->LangLines.NameOf(WideString(title) + u"s");
    if (local) return {Trim(*local), true};
    return {Title, false};
}

WideString TTsSection::DisplayTitle() const {
    auto [title, translated] = LocalTitle();
    if (Kind != lsOther && !translated && Count() != 1) title += u"s";
    return title;
}

WideString TTsSection::Header() const { return u"==" + Versions.ToText() + u" " + DisplayTitle() + u" =="; }

WideString TTsSection::Body() const {
    const WideString& lb = script_->LineBreak();
    WideString out;
    for (int i = 0; i < Count(); ++i) {
        // An empty untitled part would otherwise leave a blank line at the top.
        if (i > 1 || (i == 1 && !Subsection(0).Text().empty())) {
            out += lb;
            out += lb;
        }
        out += Subsection(i).ToText();
    }
    return out;
}

WideString TTsSection::ToText() const { return Header() + script_->LineBreak() + Body(); }

// ---- TTsOptionSection ----------------------------------------------------------------

TMemIniFileW& TTsOptionSection::Ini() const {
    if (!ini_) ReadSettings();
    return *ini_;
}

bool TTsOptionSection::HasSettings() const { return !Ini().ReadSections().empty(); }

void TTsOptionSection::ReadSettings() const {
    auto ini = std::make_unique<TMemIniFileW>();
    const WideString& lb = Script().LineBreak();
    for (int i = 0; i < Count(); ++i) {
        const TTsSubsection& sub = Subsection(i);
        if (i > 0 && !sub.Versions.SatisfiesLibrary()) continue;
        currentIniSection_ = i == 0 ? WideString() : sub.Title();
        // A value does not run on into the next subsection.
        pending_ = false;
        ForEachLine(sub.Text(), lb, [&](std::u16string_view line) { ReadLine(*ini, line, i == 0); });
    }
    pending_ = false;
    ini_ = std::move(ini);
}

void TTsOptionSection::ReadLine(TMemIniFileW& ini, std::u16string_view line, bool first) const {
    line = TrimRightView(line);
    if (!line.empty() && (line.front() == u'#' || line.front() == u';')) return;

    if (pending_) {
        if (line.empty()) {
            ++pendingBlankLines_;
            return;
        }
        if (line.starts_with(u"  ")) {
            WideString value = ini.ReadString(pendingSection_, pendingKey_, {});
            for (int32_t i = 0; i < pendingBlankLines_ + 1; ++i) value += Script().LineBreak();
            value += line.substr(2);
            ini.WriteString(pendingSection_, pendingKey_, value);
            pendingBlankLines_ = 0;
            return;
        }
        pending_ = false;
    }

    line = TrimLeftView(line);
    const size_t eq = line.find(u'=');
    std::u16string_view name = TrimView(line.substr(0, eq));
    const WideString value = eq == std::u16string_view::npos ? WideString(u"1") : Trim(line.substr(eq + 1));

    WideString section = currentIniSection_;
    if (first) {
        const size_t dot = name.find(u'.');
        if (dot == std::u16string_view::npos) {
            section = DefaultIniSection;
        } else {
            section = Trim(name.substr(0, dot));
            name = TrimView(name.substr(dot + 1));
        }
    }
    if (name.empty()) return;
    ini.WriteString(section, name, value);
    if (value.empty()) {
        pending_ = true;
        pendingSection_ = section;
        pendingKey_.assign(name);
        pendingBlankLines_ = -1;
    }
}

namespace {

void WriteSetting(WideString& out, const WideString& lb, std::u16string_view prefix, const WideString& key,
                  const WideString& value) {
    if (!out.empty()) out += lb;
    out += prefix;
    out += key;
    if (value == u"1") return;
    if (value.empty()) {
        out += u" =";
    } else if (std::any_of(value.begin(), value.end(), IsCrLf)) {
        out += u" =";
        for (std::u16string_view line : ValueLines(value)) {
            out += lb;
            out += u"  ";
            out += line;
        }
    } else {
        out += u" = ";
        out += value;
    }
}

}  // namespace

WideString TTsOptionSection::Body() const {
    const TMemIniFileW& ini = Ini();
    const WideString& lb = Script().LineBreak();
    WideString out;
    for (const WideString& key : ini.ReadSection(DefaultIniSection)) {
        // A plain "a.b" would come back as key "b" of section "a".
        const std::u16string_view prefix =
            key.find(u'.') == WideString::npos ? std::u16string_view() : std::u16string_view(u"tsn.");
        WriteSetting(out, lb, prefix, key, ini.ReadString(DefaultIniSection, key, {}));
    }
    for (const WideString& section : ini.ReadSections()) {
        if (SameTextAscii(section, DefaultIniSection)) continue;
        const WideString prefix = section + u".";
        for (const WideString& key : ini.ReadSection(section))
            WriteSetting(out, lb, prefix, key, ini.ReadString(section, key, {}));
    }
    return out;
}

WideString TTsOptionSection::DisplayTitle() const {
    WideString title = TTsSection::DisplayTitle();
    if (Kind != lsOther && title == StandardSectionTitle(Kind) && Ini().ReadSections().size() != 1) title += u"s";
    return title;
}

// ---- TTsLangLines -------------------------------------------------------------------------

void TTsLangLines::Clear() {
    lines_.clear();
    byName_.clear();
}

void TTsLangLines::Add(WideString name, WideString value) {
    byName_.try_emplace(LowerCaseW(name), lines_.size());
    lines_.emplace_back(std::move(name), std::move(value));
}

const WideString* TTsLangLines::ValueOf(std::u16string_view name) const {
    auto it = byName_.find(LowerCaseW(name));
    return it == byName_.end() ? nullptr : &lines_[it->second].second;
}

const WideString* TTsLangLines::NameOf(std::u16string_view value) const {
    for (const auto& [n, v] : lines_)
        if (SameTextW(TrimView(v), value)) return &n;
    return nullptr;
}

WideString TTsLangLines::Text() const {
    WideString out;
    for (const auto& [n, v] : lines_) {
        if (!out.empty()) out += u'\n';
        out += n + u"=" + v;
    }
    return out;
}

}  // namespace ts
