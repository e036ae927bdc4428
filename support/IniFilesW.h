// TMemIniFileW: an INI file held in memory with wide names and values.
// Sections and keys keep the order in which they were first written; names
// are matched without regard to (ASCII) case, as INI files are on the
// platform the format comes from. Lookups are hashed.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "support/Object.h"

namespace ts {

class TMemIniFileW : public TObject {
    TS_CLASS(TMemIniFileW)
public:
    // An empty file name keeps the file in memory only.
    explicit TMemIniFileW(WideString fileName = {});

    const WideString& FileName() const { return fileName_; }

    WideString ReadString(std::u16string_view section, std::u16string_view key, const WideString& def) const;
    void WriteString(std::u16string_view section, std::u16string_view key, const WideString& value);
    bool SectionExists(std::u16string_view section) const;
    bool ValueExists(std::u16string_view section, std::u16string_view key) const;
    // Section names in order.
    std::vector<WideString> ReadSections() const;
    // Key names of a section in order (empty when the section is absent).
    std::vector<WideString> ReadSection(std::u16string_view section) const;
    void EraseSection(std::u16string_view section);
    void DeleteKey(std::u16string_view section, std::u16string_view key);
    void Clear();

    // The file's text form: "[section]" lines followed by "key=value" lines.
    // Values holding line breaks cannot be written back to a plain INI text and
    // keep them only in memory.
    WideString GetText(std::u16string_view lineBreak = u"\n") const;
    // Replaces the contents by the text's settings; lines starting with ";"
    // are comments.
    void SetText(std::u16string_view text);

private:
    struct Section {
        WideString Name;
        std::vector<std::pair<WideString, WideString>> Keys;
        std::unordered_map<WideString, size_t> Index;  // folded key -> position
    };
    static WideString Fold(std::u16string_view s);
    Section* Find(std::u16string_view section);
    const Section* Find(std::u16string_view section) const;
    void RebuildSectionIndex();

    WideString fileName_;
    std::vector<std::unique_ptr<Section>> sections_;
    std::unordered_map<WideString, size_t> sectionIndex_;
};

}  // namespace ts
