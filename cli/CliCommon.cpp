// Shared pieces of the command line.
#include "cli/CliCommon.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "debugger/driver/TsdbgNames.h"
#include "debugger/driver/TsdbgSource.h"
#include "debugger/driver/TsdbgTreeLines.h"
#include "library/core/TsTreeWalk.h"
#include "library/modelling/TsmEngine.h"
#include "library/text/TsTextLocation.h"
#include "library/text/modellingreader/TsmReadExplain.h"
#include "support/ReadAheadStream.h"
#include "support/Strings.h"
#include "support/TempFiles.h"

namespace ts::cli {

// ---- Arguments ------------------------------------------------------------

TArgs::TArgs(const std::vector<std::string>& args, std::set<std::string> valued, std::set<std::string> flags) {
    bool options = true;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (options && a == "--") {
            options = false;
        } else if (options && a.size() > 2 && a.starts_with("--")) {
            std::string name = a.substr(2);
            std::optional<std::string> inlineValue;
            if (size_t eq = name.find('='); eq != std::string::npos) {
                inlineValue = name.substr(eq + 1);
                name.resize(eq);
            }
            if (valued.count(name)) {
                if (inlineValue) {
                    values_[name] = *inlineValue;
                } else {
                    if (i + 1 >= args.size()) throw EUsage("option --" + name + " needs a value");
                    values_[name] = args[++i];
                }
            } else if (flags.count(name) && !inlineValue) {
                flags_.insert(name);
            } else {
                throw EUsage("unknown option '" + a + "'");
            }
        } else if (options && a.size() > 1 && a[0] == '-' && a != "-") {
            throw EUsage("unknown option '" + a + "'");
        } else {
            positionals_.push_back(a);
        }
    }
}

std::optional<std::string> TArgs::Value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

void TArgs::ExpectPositionals(size_t n) const {
    if (positionals_.size() < n) throw EUsage("missing arguments");
    if (positionals_.size() > n) throw EUsage("unexpected argument '" + positionals_[n] + "'");
}

std::optional<int> TArgs::IntValue(const std::string& name, int lo, int hi) const {
    std::optional<std::string> v = Value(name);
    if (!v) return std::nullopt;
    std::optional<int32_t> n = TryStrToInt(Utf8ToWide(*v));
    if (!n || *n < lo || *n > hi)
        throw EUsage("--" + name + " must be a number from " + std::to_string(lo) + " to " + std::to_string(hi) +
                     ", not '" + *v + "'");
    return *n;
}

std::optional<std::string> TArgs::Choice(const std::string& name, const std::set<std::string>& choices) const {
    std::optional<std::string> v = Value(name);
    if (v && !choices.count(*v)) {
        std::string list;
        for (const std::string& c : choices) list += (list.empty() ? "" : "|") + c;
        throw EUsage("--" + name + " must be " + list + ", not '" + *v + "'");
    }
    return v;
}

// ---- Output ---------------------------------------------------------------

void Out(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stdout); }
void Out(std::u16string_view text) { Out(WideToUtf8(text)); }
void Err(std::string_view text) { std::fwrite(text.data(), 1, text.size(), stderr); }
void Err(std::u16string_view text) { Err(WideToUtf8(text)); }

WideString FileArg(const std::string& arg) { return Utf8ToWide(arg); }

RawByteString ReadInputFile(const std::string& arg) {
    if (arg != "-") {
        TFileStreamW file(FileArg(arg), TFileMode::fmOpenRead);
        return file.ReadToEnd();
    }
    RawByteString bytes;
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) bytes.append(buf, n);
    return bytes;
}

std::unique_ptr<TStream> OpenInputStream(const std::string& arg) {
    if (arg != "-")
        return std::make_unique<TReadAheadStream>(std::make_unique<TFileStreamW>(FileArg(arg), TFileMode::fmOpenRead));
    const WideString name = CreateTempFileW({}, u"tessarine-stdin-");
    auto file = std::make_unique<TFileStreamW>(name, TFileMode::fmOpenReadWrite);
    // Unlinked at once: the open file is all that is left of it.
    std::remove(WideToUtf8(name).c_str());
    char buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, stdin)) > 0) file->WriteBuffer(buf, static_cast<int64_t>(n));
    file->Seek(0, TSeekOrigin::soBeginning);
    return std::make_unique<TReadAheadStream>(std::move(file));
}

TTextPlace TTextPlace::File(const std::string& arg, RawByteString bytes, int32_t codepage) {
    TTextPlace p;
    p.FileName = arg == "-" ? WideString(u"<stdin>") : FileArg(arg);
    p.Bytes = std::move(bytes);
    p.Codepage = codepage;
    return p;
}

TTextPlace TTextPlace::Memo(const std::string& arg, WideString text, int32_t firstLine) {
    TTextPlace p;
    p.FileName = FileArg(arg);
    p.IsMemo = true;
    p.MemoText = std::move(text);
    p.FirstLine = firstLine;
    return p;
}

TTsTextLocation LocateInPlace(const TTextPlace& place, int64_t offset) {
    if (place.Locator) return place.Locator->Locate(offset, place.Codepage);
    return LocateOffset(place.Bytes, offset, place.Codepage);
}

WideString ErrorText(const std::exception& error) {
    if (const auto* e = dynamic_cast<const Exception*>(&error)) return ErrorClassText(error) + u": " + e->Message();
    return ErrorClassText(error) + u": " + Utf8ToWide(error.what());
}

namespace {

WideString OffsetPlaceText(const TTextPlace& place, int64_t offset, std::u16string_view message) {
    if (place.IsMemo) return MemoOffsetText(place.MemoText, offset, place.FileName, place.FirstLine, message);
    TTsTextLocation where = LocateInPlace(place, offset);
    where.Line += place.FirstLine;
    return LocatedMessage(place.FileName, where, message);
}

}  // namespace

WideString PlacedErrorText(const std::exception& error, const TTextPlace* place) {
    const WideString text = ErrorText(error);
    // A bad model line is told in the model author's words; the library's
    // own message follows for the details.
    if (const TTsmReadExplanation* why = ReadErrorExplanation(error)) {
        const WideString details = DetailsText(text);
        if (!place) return why->Text + u"\n" + details;
        return OffsetPlaceText(*place, why->Offset, why->Text) + details;
    }
    if (!place) return text + u"\n";
    WideString placed;
    if (place->IsMemo) {
        placed = MemoErrorPlaceText(place->MemoText, error, place->FileName, place->FirstLine, text);
    } else if (std::optional<int64_t> offset = TsmErrorOffset(error)) {
        placed = OffsetPlaceText(*place, *offset, text);
    }
    if (!placed.empty()) return placed;
    return place->FileName + u": " + text + u"\n";
}

WideString DetailsText(std::u16string_view message) { return u"  details: " + WideString(message) + u"\n"; }

WideString ErrorClassText(const std::exception& error) {
    if (const auto* e = dynamic_cast<const Exception*>(&error)) return HumaniseName(e->ClassName());
    return u"Exception";
}

int ReportError(const std::exception& error, const TTextPlace* place) {
    Err(PlacedErrorText(error, place));
    return ExitError;
}

int ReportFileError(const std::exception& error, const std::string& arg) {
    if (!TsmErrorOffset(error)) return ReportError(error);
    TTextPlace file;
    try {
        file = TTextPlace::File(arg, ReadInputFile(arg));
    } catch (const std::exception&) {
        return ReportError(error);
    }
    return ReportError(error, &file);
}

// ---- JSON -----------------------------------------------------------------

namespace {

void JsonEscapeUtf8(std::string& out, std::string_view utf8) {
    out += '"';
    for (unsigned char c : utf8) {
        switch (c) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    out += '"';
}

void JsonNumber(std::string& out, double f) {
    if (!std::isfinite(f)) {
        out += "null";
        return;
    }
    // The shortest text that reads back the same (17 digits always do).
    char buf[32];
    for (int prec = 1; prec <= 17; ++prec) {
        std::snprintf(buf, sizeof buf, "%.*g", prec, f);
        if (std::strtod(buf, nullptr) == f) break;
    }
    out += buf;
}

}  // namespace

void JsonString(std::string& out, std::u16string_view text) { JsonEscapeUtf8(out, WideToUtf8(text)); }

void JsonValue(std::string& out, const TTsValue& v, bool spansAsRanges) {
    if (spansAsRanges && v.Has(vkSpan)) {
        // A span's length is a whole number of bytes, kept in a float.
        out += "{\"offset\": " + std::to_string(v.Int) + ", \"length\": " + std::to_string(std::llround(v.Float)) + "}";
        return;
    }
    out += '{';
    bool first = true;
    auto key = [&](const char* k) {
        if (!first) out += ", ";
        first = false;
        out += '"';
        out += k;
        out += "\": ";
    };
    if (v.Has(vkString)) {
        key("s");
        JsonString(out, v.Str);
    }
    if (v.Has(vkRaw)) {
        key("r");
        std::string hex;
        static const char digits[] = "0123456789ABCDEF";
        for (unsigned char c : v.Raw()) {
            hex += digits[c >> 4];
            hex += digits[c & 15];
        }
        out += '"' + hex + '"';
    }
    if (v.Has(vkBool)) {
        key("b");
        out += v.Bool ? "true" : "false";
    }
    if (v.Has(vkInt)) {
        key("i");
        out += std::to_string(v.Int);
    }
    if (v.Has(vkFloat)) {
        key("f");
        JsonNumber(out, v.Float);
    }
    if (v.Has(vkObject)) {
        key("o");
        JsonString(out, ObjectText(v.Obj));
    }
    out += '}';
}

std::string TreeToJson(const TTsTreeNode& root, bool spansAsRanges, TJsonExtra extra, const void* context) {
    std::string out;
    WriteTreeJson(root, spansAsRanges, extra, context, [&out](std::string_view piece) { out += piece; });
    return out;
}

void WriteTreeJson(const TTsTreeNode& root, bool spansAsRanges, TJsonExtra extra, const void* context,
                   const std::function<void(std::string_view)>& sink, std::string_view rootMembers) {
    constexpr size_t kPiece = size_t{1} << 16;
    // Iterative, so that a tree of any depth is written: an entry either
    // opens a node or closes the one opened before it.
    struct Step {
        const TTsTreeNode* Node;
        bool Close;
        bool Comma;
    };
    std::string out;
    std::vector<Step> todo{{&root, false, false}};
    while (!todo.empty()) {
        if (out.size() >= kPiece) {
            sink(out);
            out.clear();
        }
        const Step s = todo.back();
        todo.pop_back();
        if (s.Close) {
            out += "]}";
            continue;
        }
        if (s.Comma) out += ", ";
        const TTsTreeNode& node = *s.Node;
        out += '{';
        if (&node == &root) out += rootMembers;
        out += "\"name\": ";
        JsonString(out, node.Name());
        out += ", ";
        if (extra) out += extra(node, context);
        out += "\"props\": {";
        const TTsProperties& props = node.Props();
        for (int i = 0; i < props.Count(); ++i) {
            const TTsProperty* p = props.ByIndex(i);
            if (!p) continue;
            if (i) out += ", ";
            JsonString(out, p->Name());
            out += ": ";
            JsonValue(out, p->Value, spansAsRanges);
        }
        out += "}, \"children\": [";
        todo.push_back({&node, true, false});
        for (int i = node.ChildCount() - 1; i >= 0; --i) todo.push_back({node.ChildByIndex(i), false, i > 0});
    }
    out += '\n';
    sink(out);
}

// ---- Display --------------------------------------------------------------

WideString ValueDisplay(const TTsValue& v) {
    if (v.IsNull()) return u"<nil>";
    if (v.Has(vkSpan)) return u"[" + IntToStr(v.Int) + u"+" + ValueText(TTsValue::FromFloat(v.Float)) + u"]";
    WideString out;
    auto part = [&](const WideString& s) { out += (out.empty() ? u"" : u" ") + s; };
    if (v.Has(vkString)) part(u"\"" + Escaped(v.Str) + u"\"");
    if (v.Has(vkRaw)) part(u"x'" + BytesToHexPairs(v.Raw()) + u"'");
    if (v.Has(vkBool)) part(v.Bool ? u"True" : u"False");
    if (v.Has(vkInt)) part(IntToStr(v.Int));
    if (v.Has(vkFloat)) part(FloatToStr(v.Float));
    if (v.Has(vkObject)) part(ObjectText(v.Obj));
    return out;
}

WideString TreeToText(const TTsTreeNode& root) {
    WideString out;
    for (auto [node, depth] : PreOrder(root)) {
        const size_t indent = static_cast<size_t>(depth) * 2;
        out.append(indent, u' ');
        out += node->Name().empty() ? WideString(u"<unnamed>") : node->Name();
        out += u'\n';
        const TTsProperties& props = node->Props();
        for (int i = 0; i < props.Count(); ++i) {
            const TTsProperty* p = props.ByIndex(i);
            if (!p) continue;
            out.append(indent + 2, u' ');
            out += u"$" + p->Name() + u" = " + ValueDisplay(p->Value) + u"\n";
        }
    }
    return out;
}

}  // namespace ts::cli
