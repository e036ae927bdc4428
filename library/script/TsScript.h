// Script files (*.tsn): a "Tessarine <version>" header with an optional
// signature, an optional language block that maps local section titles to
// English ones and names the file's charset, a preamble, and "== title =="
// sections holding "=== title ===" subsections, each optionally limited to
// library versions ("==[>= 0.7 < 1.0] Model ==").
//
// Exposes TTsScript (the loaded file: sections keyed by title, Load over a
// stream through the canonical "Script" model, the first supported model),
// TTsSection and its kinds, TTsModelSection, TTsOptionSection (settings read
// into a wide INI file and written back), TTsSubsection, TTsLangLines and
// the ETsScript error family.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsHashes.h"
#include "support/IniFilesW.h"
#include "support/Streams.h"

namespace ts {

class TTsmSlicer;
class TTsScript;
class TTsSection;
class TTsSubsection;

enum TTsSectionKind { lsModel, lsTree, lsOptions, lsSample, lsDescription, lsOther };

// "Model", "Tree", "Option", "Sample", "Description"; empty for lsOther.
std::u16string_view StandardSectionTitle(TTsSectionKind kind);
// "lsModel" ... "lsOther", as messages name kinds.
std::u16string_view SectionKindName(TTsSectionKind kind);

// ---- Errors -----------------------------------------------------------------

class ETsScript : public ETessarine {
public:
    ETsScript(const TTsScript* script, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Script(script) {}
    const TTsScript* Script;  // borrowed
    TS_EXCEPTION(ETsScript)
};

class ETsEmptySubsectionTitle : public ETsScript {
public:
    explicit ETsEmptySubsectionTitle(const TTsSection* section);
    const TTsSection* Section;  // borrowed
    TS_EXCEPTION(ETsEmptySubsectionTitle)
};

class ETsEmptySectionTitle : public ETsScript {
public:
    explicit ETsEmptySectionTitle(const TTsScript* script);
    TS_EXCEPTION(ETsEmptySectionTitle)
};

class ETsScriptNoSupportedModel : public ETsScript {
public:
    explicit ETsScriptNoSupportedModel(const TTsScript* script);
    TS_EXCEPTION(ETsScriptNoSupportedModel)
};

class ETsScriptNoKind : public ETsScript {
public:
    ETsScriptNoKind(const TTsScript* script, TTsSectionKind kind);
    TTsSectionKind Kind;
    TS_EXCEPTION(ETsScriptNoKind)
};

class ETsOtherSectionCall : public ETsScript {
public:
    ETsOtherSectionCall(const TTsScript* script, std::u16string_view method);
    TS_EXCEPTION(ETsOtherSectionCall)
};

class ETsScriptZeroVersion : public ETsScript {
public:
    explicit ETsScriptZeroVersion(const TTsScript* script);
    TS_EXCEPTION(ETsScriptZeroVersion)
};

class ETsDuplicatedSection : public ETsScript {
public:
    ETsDuplicatedSection(const TTsScript* script, const WideString& title);
    WideString Title;
    TS_EXCEPTION(ETsDuplicatedSection)
};

class ETsBadScriptCharset : public ETsScript {
public:
    ETsBadScriptCharset(const TTsScript* script, const WideString& charset);
    WideString Charset;
    TS_EXCEPTION(ETsBadScriptCharset)
};

// Not an ETsScript: it goes through the script's HandleError, so a handler
// may let a newer script load anyway.
class ETsLaterScriptVersion : public ETessarine {
public:
    ETsLaterScriptVersion(const TTsScript* script, TTsVersion version);
    const TTsScript* Script;  // borrowed
    TTsVersion Version;
    TS_EXCEPTION(ETsLaterScriptVersion)
};

// ---- Subsections ----------------------------------------------------------------

class TTsSubsection : public TTsObject {
    TS_CLASS(TTsSubsection)
public:
    TTsSubsection(TTsSection& section, WideString title);

    TTsSection& Section() const { return *section_; }
    int32_t Line = 0;  // line index of the header (0 = the file's first line)
    const WideString& Title() const { return title_; }
    TTsVersions Versions;
    const WideString& Text() const { return text_; }
    // Leading and trailing CR and LF characters are dropped.
    void SetText(std::u16string_view text);

    // "===[versions] title ===", or empty for the untitled first subsection.
    virtual WideString Header() const;
    // Header, the script's line break (when both parts are present), Text.
    virtual WideString ToText() const;

private:
    TTsSection* section_;
    WideString title_;
    WideString text_;
};

// ---- Sections --------------------------------------------------------------------

// Holds its subsections keyed by title, in file order; the first one is
// untitled and holds the text right after the section header.
class TTsSection : public TTsHash {
    TS_CLASS(TTsSection)
public:
    explicit TTsSection(TTsScript& script);

    TTsScript& Script() const { return *script_; }
    int32_t Line = 0;  // line index of the header
    WideString Title;
    TTsVersions Versions;
    TTsSectionKind Kind = lsOther;

    // EListError for an index out of range.
    TTsSubsection& Subsection(int index) const;
    int SubsectionCount() const { return Count(); }
    TTsSubsection& FirstSubsection() const { return Subsection(0); }
    // A trimmed, non-empty title (ETsEmptySubsectionTitle).
    virtual TTsSubsection& AddSubsection(std::u16string_view title);
    // The first subsection whose Versions accept this library and whose
    // Text is not empty; nil when there is none.
    TTsSubsection* FirstSupported() const;

    virtual bool HasSettings() const { return false; }
    // Header, line break, Body.
    virtual WideString ToText() const;
    // "==[versions] display title ==".
    virtual WideString Header() const;
    // The subsections' texts separated by blank lines.
    virtual WideString Body() const;
    // The title in the script's language; a standard kind with other than
    // one subsection reads as a plural.
    virtual WideString DisplayTitle() const;

protected:
    // The title as the script's language shows it, and whether the
    // language block translated it.
    std::pair<WideString, bool> LocalTitle() const;

private:
    TTsScript* script_;
};

class TTsModelSection : public TTsSection {
    TS_CLASS(TTsModelSection)
public:
    using TTsSection::TTsSection;
};

// Settings, one "name = value" per line. In the untitled subsection a name
// "group.key" puts key into the INI section "group" (no group: "tsn"); a
// titled subsection is an INI section of its own. A bare name means "1"; a
// name with "=" and nothing after it takes the following lines indented by
// two blanks as a multi-line value. Lines starting with "#" or ";" are
// comments.
class TTsOptionSection : public TTsSection {
    TS_CLASS(TTsOptionSection)
public:
    static constexpr std::u16string_view DefaultIniSection = u"tsn";

    using TTsSection::TTsSection;

    // Read from the subsections on first use (so a const section may fill it).
    TMemIniFileW& Ini() const;
    bool HasSettings() const override;
    // The settings written back, the default INI section first.
    WideString Body() const override;
    WideString DisplayTitle() const override;

private:
    void ReadSettings() const;
    void ReadLine(TMemIniFileW& ini, std::u16string_view line, bool first) const;

    mutable std::unique_ptr<TMemIniFileW> ini_;
    // While reading: the INI section of a titled subsection (empty in the
    // untitled one) and the multi-line value being collected.
    mutable WideString currentIniSection_;
    mutable WideString pendingSection_;
    mutable WideString pendingKey_;
    mutable int32_t pendingBlankLines_ = -1;
    mutable bool pending_ = false;
};

// ---- Language lines --------------------------------------------------------------------

// "local title = English title" pairs in file order. Names are matched
// without regard to case, the first of equal names wins.
class TTsLangLines {
public:
    void Clear();
    void Add(WideString name, WideString value);
    int Count() const { return static_cast<int>(lines_.size()); }
    const WideString& Name(int i) const { return lines_.at(static_cast<size_t>(i)).first; }
    const WideString& Value(int i) const { return lines_.at(static_cast<size_t>(i)).second; }
    // The value of the first line with that name; nullptr when none.
    const WideString* ValueOf(std::u16string_view name) const;
    // The name of the first line with that value (any case); nullptr when none.
    const WideString* NameOf(std::u16string_view value) const;
    // "name=value" lines joined by line feeds.
    WideString Text() const;

private:
    std::vector<std::pair<WideString, WideString>> lines_;
    std::unordered_map<WideString, size_t> byName_;  // folded name -> first line
};

// ---- The script ----------------------------------------------------------------------------

class TTsScript : public TTsHash {
    TS_CLASS(TTsScript)
public:
    TTsScript();
    // Create, then Load without keeping the modelling result.
    TTsScript(TStream& stream, const WideString& fileName);
    ~TTsScript() override;

    // LineBreak starts empty: Load detects it from the file.
    TTsOptions Options;
    WideString Name;
    // The modelling result, kept only when Load was asked to keep it.
    std::unique_ptr<TTsmSlicer> Slicer;
    TTsVersion Version() const { return version_; }
    // ETsScriptZeroVersion for 0.
    void SetVersion(TTsVersion version);
    // Options.LineBreak, or CR LF while it is still to be detected.
    const WideString& LineBreak() const;
    WideString Signature;
    WideString LangCode = u"en";
    TTsLangLines LangLines;
    WideString Charset = u"utf-8";
    WideString Preamble;

    // Reads the script from the stream's position to its end. A file that
    // does not follow the format fails with the engine's mismatch error;
    // any failure leaves the script without sections.
    void Load(TStream& stream, const WideString& fileName = {}, bool keepResult = false);

    int SectionCount() const { return Count(); }
    TTsSection& Section(int index) const;
    // The section whose key is the kind's standard title, or nil.
    TTsSection* TryByKey(TTsSectionKind kind) const;
    // TryByKey or ETsScriptNoKind.
    TTsSection& ByKey(TTsSectionKind kind) const;
    // A section by its (English) title, or nil.
    TTsSection* FindSection(std::u16string_view title) const;
    // The first model subsection this library supports, or
    // ETsScriptNoSupportedModel.
    TTsSubsection& FirstModel() const;

    TTsSection& AddStandard(TTsSectionKind kind);
    TTsSection& AddCustom(std::u16string_view title);

    // The English title of a local one, trimmed; the title itself when the
    // language block does not list it.
    WideString ToEnglish(std::u16string_view title) const;
    // The first local title of an English one, trimmed; the title itself
    // when the language block does not list it.
    WideString ToLocal(std::u16string_view title) const;
    // The standard kind a title names, singular or plural, any case.
    static TTsSectionKind KindOfTitle(std::u16string_view title);

private:
    friend struct TTsScriptLoad;
    void ResetHeader();

    TTsVersion version_ = TTsVersions::LibraryVersion;
    // The line break the last Load detected; a Load while Options still
    // holds it detects again, so one object can load files of either kind.
    WideString detectedLineBreak_;
};

}  // namespace ts
