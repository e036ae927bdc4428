// `tessarine script`: a script file as a user inspects it.
#include "cli/Commands.h"
#include "library/script/TsScript.h"
#include "support/Strings.h"

namespace ts::cli {

namespace {

// "lsModel" -> "model".
WideString KindText(TTsSectionKind kind) { return LowerCaseW(SectionKindName(kind).substr(2)); }

void Quoted(WideString& out, std::u16string_view text) { out += u"\"" + Escaped(text) + u"\""; }

// Text lines shown below a heading, each behind "| " so blanks stay visible.
void Block(WideString& out, std::u16string_view text, std::u16string_view lineBreak, size_t indent) {
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find(lineBreak, pos);
        if (end == std::u16string_view::npos) end = text.size();
        out.append(indent, u' ');
        out += u"| " + Escaped(text.substr(pos, end - pos), SIZE_MAX, false) + u"\n";
        if (end == text.size()) break;
        pos = end + lineBreak.size();
    }
}

WideString ScriptText(const TTsScript& s) {
    WideString out;
    out += u"version: " + TTsVersions::ToText(s.Version()) + u"\n";
    out += u"signature: ";
    Quoted(out, s.Signature);
    out += u"\nlanguage: " + s.LangCode + u"\ncharset: " + s.Charset + u"\n";
    for (int i = 0; i < s.LangLines.Count(); ++i) {
        out += u"title: ";
        Quoted(out, s.LangLines.Name(i));
        out += u" = ";
        Quoted(out, s.LangLines.Value(i));
        out += u"\n";
    }
    out += u"preamble:\n";
    if (!s.Preamble.empty()) Block(out, s.Preamble, s.LineBreak(), 2);
    for (int i = 0; i < s.SectionCount(); ++i) {
        const TTsSection& sec = s.Section(i);
        out += u"section ";
        Quoted(out, sec.Title);
        out += u" (" + KindText(sec.Kind) + u", line " + IntToStr(sec.Line + 1) + u")";
        if (!sec.Versions.IsEmpty()) out += u" " + sec.Versions.ToText();
        out += u"\n";
        for (int k = 0; k < sec.SubsectionCount(); ++k) {
            const TTsSubsection& sub = sec.Subsection(k);
            out += u"  subsection ";
            Quoted(out, sub.Title());
            out += u" (line " + IntToStr(sub.Line + 1) + u")";
            if (!sub.Versions.IsEmpty()) out += u" " + sub.Versions.ToText();
            out += u"\n";
            if (!sub.Text().empty()) Block(out, sub.Text(), s.LineBreak(), 4);
        }
        if (sec.Kind == lsOptions && sec.HasSettings()) {
            const TMemIniFileW& ini = static_cast<const TTsOptionSection&>(sec).Ini();
            for (const WideString& group : ini.ReadSections())
                for (const WideString& key : ini.ReadSection(group)) {
                    out += u"  setting " + group + u"." + key + u" = ";
                    Quoted(out, ini.ReadString(group, key, {}));
                    out += u"\n";
                }
        }
    }
    return out;
}

void JsonField(std::string& out, const char* name, std::u16string_view value) {
    out += std::string("\"") + name + "\": ";
    JsonString(out, value);
}

std::string ScriptJson(const TTsScript& s) {
    std::string out = "{";
    JsonField(out, "version", TTsVersions::ToText(s.Version()));
    out += ", ";
    JsonField(out, "signature", s.Signature);
    out += ", ";
    JsonField(out, "language", s.LangCode);
    out += ", ";
    JsonField(out, "charset", s.Charset);
    out += ", ";
    JsonField(out, "preamble", s.Preamble);
    out += ", \"titles\": {";
    for (int i = 0; i < s.LangLines.Count(); ++i) {
        if (i) out += ", ";
        JsonString(out, s.LangLines.Name(i));
        out += ": ";
        JsonString(out, s.LangLines.Value(i));
    }
    out += "}, \"sections\": [";
    for (int i = 0; i < s.SectionCount(); ++i) {
        const TTsSection& sec = s.Section(i);
        out += i ? ", {" : "{";
        JsonField(out, "title", sec.Title);
        out += ", ";
        JsonField(out, "kind", KindText(sec.Kind));
        out += ", \"line\": " + std::to_string(sec.Line + 1) + ", ";
        JsonField(out, "conditions", sec.Versions.ToText());
        out += ", \"subsections\": [";
        for (int k = 0; k < sec.SubsectionCount(); ++k) {
            const TTsSubsection& sub = sec.Subsection(k);
            out += k ? ", {" : "{";
            JsonField(out, "title", sub.Title());
            out += ", \"line\": " + std::to_string(sub.Line + 1) + ", ";
            JsonField(out, "conditions", sub.Versions.ToText());
            out += ", ";
            JsonField(out, "text", sub.Text());
            out += "}";
        }
        out += "]";
        if (sec.Kind == lsOptions) {
            out += ", \"settings\": {";
            const TMemIniFileW& ini = static_cast<const TTsOptionSection&>(sec).Ini();
            bool firstGroup = true;
            for (const WideString& group : ini.ReadSections()) {
                if (!firstGroup) out += ", ";
                firstGroup = false;
                JsonString(out, group);
                out += ": {";
                bool firstKey = true;
                for (const WideString& key : ini.ReadSection(group)) {
                    if (!firstKey) out += ", ";
                    firstKey = false;
                    JsonString(out, key);
                    out += ": ";
                    JsonString(out, ini.ReadString(group, key, {}));
                }
                out += "}";
            }
            out += "}";
        }
        out += "}";
    }
    out += "]}\n";
    return out;
}

}  // namespace

int RunScript(const TArgs& args) {
    args.ExpectPositionals(1);
    try {
        const WideString name = FileArg(args.Positionals()[0]);
        TFileStreamW file(name, TFileMode::fmOpenRead);
        TTsScript script(file, name);
        if (args.Flag("json"))
            Out(ScriptJson(script));
        else
            Out(ScriptText(script));
    } catch (const std::exception& e) {
        return ReportFileError(e, args.Positionals()[0]);
    }
    return ExitOk;
}

}  // namespace ts::cli
