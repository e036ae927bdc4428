#include "support/IniFilesW.h"

#include "support/Strings.h"

namespace ts {

TMemIniFileW::TMemIniFileW(WideString fileName) : fileName_(std::move(fileName)) {}

WideString TMemIniFileW::Fold(std::u16string_view s) {
    WideString out(s);
    for (char16_t& c : out) c = AsciiLower(c);
    return out;
}

TMemIniFileW::Section* TMemIniFileW::Find(std::u16string_view section) {
    auto it = sectionIndex_.find(Fold(section));
    return it == sectionIndex_.end() ? nullptr : sections_[it->second].get();
}

const TMemIniFileW::Section* TMemIniFileW::Find(std::u16string_view section) const {
    auto it = sectionIndex_.find(Fold(section));
    return it == sectionIndex_.end() ? nullptr : sections_[it->second].get();
}

void TMemIniFileW::RebuildSectionIndex() {
    sectionIndex_.clear();
    for (size_t i = 0; i < sections_.size(); ++i) sectionIndex_.emplace(Fold(sections_[i]->Name), i);
}

WideString TMemIniFileW::ReadString(std::u16string_view section, std::u16string_view key, const WideString& def) const {
    const Section* s = Find(section);
    if (!s) return def;
    auto it = s->Index.find(Fold(key));
    return it == s->Index.end() ? def : s->Keys[it->second].second;
}

void TMemIniFileW::WriteString(std::u16string_view section, std::u16string_view key, const WideString& value) {
    Section* s = Find(section);
    if (!s) {
        sections_.push_back(std::make_unique<Section>());
        s = sections_.back().get();
        s->Name = WideString(section);
        sectionIndex_.emplace(Fold(section), sections_.size() - 1);
    }
    WideString folded = Fold(key);
    auto it = s->Index.find(folded);
    if (it != s->Index.end()) {
        s->Keys[it->second].second = value;
        return;
    }
    s->Keys.emplace_back(WideString(key), value);
    s->Index.emplace(std::move(folded), s->Keys.size() - 1);
}

bool TMemIniFileW::SectionExists(std::u16string_view section) const { return Find(section) != nullptr; }

bool TMemIniFileW::ValueExists(std::u16string_view section, std::u16string_view key) const {
    const Section* s = Find(section);
    return s && s->Index.count(Fold(key));
}

std::vector<WideString> TMemIniFileW::ReadSections() const {
    std::vector<WideString> out;
    out.reserve(sections_.size());
    for (const auto& s : sections_) out.push_back(s->Name);
    return out;
}

std::vector<WideString> TMemIniFileW::ReadSection(std::u16string_view section) const {
    std::vector<WideString> out;
    if (const Section* s = Find(section))
        for (const auto& kv : s->Keys) out.push_back(kv.first);
    return out;
}

void TMemIniFileW::EraseSection(std::u16string_view section) {
    auto it = sectionIndex_.find(Fold(section));
    if (it == sectionIndex_.end()) return;
    sections_.erase(sections_.begin() + static_cast<std::ptrdiff_t>(it->second));
    RebuildSectionIndex();
}

void TMemIniFileW::DeleteKey(std::u16string_view section, std::u16string_view key) {
    Section* s = Find(section);
    if (!s) return;
    auto it = s->Index.find(Fold(key));
    if (it == s->Index.end()) return;
    s->Keys.erase(s->Keys.begin() + static_cast<std::ptrdiff_t>(it->second));
    s->Index.clear();
    for (size_t i = 0; i < s->Keys.size(); ++i) s->Index.emplace(Fold(s->Keys[i].first), i);
}

void TMemIniFileW::Clear() {
    sections_.clear();
    sectionIndex_.clear();
}

WideString TMemIniFileW::GetText(std::u16string_view lineBreak) const {
    WideString out;
    for (const auto& s : sections_) {
        out += u"[" + s->Name + u"]";
        out += lineBreak;
        for (const auto& kv : s->Keys) {
            out += kv.first + u"=" + kv.second;
            out += lineBreak;
        }
        out += lineBreak;
    }
    return out;
}

void TMemIniFileW::SetText(std::u16string_view text) {
    Clear();
    WideString current;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of(u"\r\n", pos);
        if (end == std::u16string_view::npos) end = text.size();
        std::u16string_view line = TrimView(text.substr(pos, end - pos));
        pos = end + 1;
        if (end < text.size() && text[end] == u'\r' && pos < text.size() && text[pos] == u'\n') ++pos;
        if (line.empty() || line[0] == u';') continue;
        if (line.front() == u'[' && line.back() == u']') {
            current = WideString(line.substr(1, line.size() - 2));
            if (!Find(current)) {
                sections_.push_back(std::make_unique<Section>());
                sections_.back()->Name = current;
                sectionIndex_.emplace(Fold(current), sections_.size() - 1);
            }
            continue;
        }
        size_t eq = line.find(u'=');
        if (eq == std::u16string_view::npos) continue;
        WriteString(current, TrimView(line.substr(0, eq)), WideString(TrimView(line.substr(eq + 1))));
        if (end >= text.size()) break;
    }
}

}  // namespace ts
