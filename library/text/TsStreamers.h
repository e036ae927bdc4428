// Streamers: objects that read a stream into a tree of TTsTreeNode.
//
// TTsStreamer is the capability-guarded, single-use base; TTsTextStreamer
// decodes the whole stream into text; TTsLineStreamer cuts that text into
// lines; TTsmTextStreamer turns parsed model lines into model nodes, the
// common base of the model readers (TsNativeReader, modellingreader/).
// Reader failures raise ETsBadTextStreaming.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "library/core/TsBase.h"
#include "library/core/TsNodes.h"
#include "library/text/TsModelFlags.h"
#include "support/Streams.h"

namespace ts {

enum TTsStreamerCapability : uint8_t { lsRead, lsWrite, lsCompressed, lsChecksum, lsBinary, lsUnambiguous };
// A set of capabilities, one bit per member.
using TTsStreamerCapabilities = uint8_t;
constexpr TTsStreamerCapabilities CapabilitySet(TTsStreamerCapability c) {
    return static_cast<TTsStreamerCapabilities>(1u << c);
}
// The members' names in order joined by ", ", or "<none>".
WideString CapabilitiesText(TTsStreamerCapabilities set);

class TTsStreamer;

// A streamer class reference that can create its streamer.
struct TTsStreamerClassInfo : TClassInfo {
    std::unique_ptr<TTsStreamer> (*Create)(TTsTreeNode* root) = nullptr;
};
using TTsStreamerClass = const TTsStreamerClassInfo*;

class TTsStreamer : public TTsObject {
    TS_CLASS(TTsStreamer)
public:
    // root is normally nil; a given root is borrowed and makes Read fail as reuse.
    explicit TTsStreamer(TTsTreeNode* root = nullptr);

    // Options for decoding: CR LF and 1250 by default, with the line break
    // emptied so that the text's own is detected.
    TTsOptions Options;

    TTsStreamerCapabilities Capabilities() const { return capabilities_; }
    const WideString& SourceName() const { return sourceName_; }
    // The tree being built (borrowed view); nil before reading.
    TTsTreeNode* Root() const { return root_; }
    TStream* Stream() const { return stream_.get(); }
    int64_t StartPos() const { return startPos_; }

    // Reads the stream (taken over; the previous one is freed) into a new
    // tree and hands its root to the caller. An empty source name means the
    // stream's description. Reads once: ETsReusingStreamer afterwards.
    std::unique_ptr<TTsTreeNode> Read(std::unique_ptr<TStream> stream, std::u16string_view sourceName = {});
    // Creates a streamer of the class, reads with no source name, frees it.
    static std::unique_ptr<TTsTreeNode> ReadFrom(TTsStreamerClass cls, std::unique_ptr<TStream> stream);

protected:
    virtual void DoRead();
    virtual void DoWrite();

    void SetCapabilities(TTsStreamerCapabilities c) { capabilities_ = c; }
    // Creates the unnamed root that DoRead fills.
    TTsTreeNode& NewRoot();

private:
    TTsStreamerCapabilities capabilities_ = 0;
    WideString sourceName_;
    TTsTreeNode* root_ = nullptr;
    std::unique_ptr<TTsTreeNode> ownedRoot_;
    std::unique_ptr<TStream> stream_;
    int64_t startPos_ = 0;
};

class TTsTextStreamer : public TTsStreamer {
    TS_CLASS(TTsTextStreamer)
public:
    explicit TTsTextStreamer(TTsTreeNode* root = nullptr);

    // 0-based index of the current line; -1 before the first.
    int32_t LineIndex() const { return lineIndex_; }

    // The index of the text's first line in the file it came from (a model
    // taken out of a script starts further down): added to the line index
    // in "source" values and errors, so that they count the file's lines.
    int32_t FirstLineIndex = 0;

    // CR LF when the first line feed after the first character follows a
    // carriage return, LF when it does not; without such a line feed CR when
    // the text holds one, else LF.
    static WideString DetectLineBreak(std::u16string_view text);
    // The same over the bytes of a stream's rest, read only as far as needed;
    // the stream's position is left as it was.
    static WideString DetectLineBreak(TStream& in);

protected:
    // Decodes the rest of the stream with Options.Codepage and parses it.
    void DoRead() override;
    virtual void ParseText(std::u16string_view text) = 0;

    int32_t lineIndex_ = -1;
};

class TTsLineStreamer : public TTsTextStreamer {
    TS_CLASS(TTsLineStreamer)
public:
    using TTsTextStreamer::TTsTextStreamer;

    const WideString& Line() const { return line_; }

    // Raises ETsBadTextStreaming for the current line; position is 1-based
    // within the line, 0 or below for none.
    [[noreturn]] void Fail(std::u16string_view message, int32_t position = 0) const;

protected:
    // Cuts at the line break, drops trailing blanks and skips empty lines,
    // counting every line.
    void ParseText(std::u16string_view text) override;
    // Parses line_; false stops the reading.
    virtual bool ParseLine() = 0;

    WideString line_;
};

// ---- Model lines ---------------------------------------------------------

struct TTsStreamingMerge {
    WideString Name;
    bool NonConsuming = false;
};
using TTsStreamingMerges = std::vector<TTsStreamingMerge>;

// What one model line says.
struct TTsStreamingProps : TTsModelFlags {
    int32_t Order = 0;
    WideString Name;
    WideString Path;
    WideString Cond;
    TTsValue Source;
    int32_t Level = 0;
    TTsStreamingMerges MergesL;
    TTsStreamingMerges MergesR;

    // Back to all-zero, keeping the strings' storage.
    void Clear();
};

// A merge list as a property text: entries joined by U+0000, a
// non-consuming one written with a leading ".".
WideString MergeListText(const TTsStreamingMerges& merges);

// Whether upper-casing changes a character of the text (it has a lower-case letter).
bool HasLowerCase(std::u16string_view text);

// Deepest indentation level a model line may have.
inline constexpr int32_t MaxModelLevel = 1000;

class TTsmTextStreamer : public TTsLineStreamer {
    TS_CLASS(TTsmTextStreamer)
public:
    using TTsLineStreamer::TTsLineStreamer;

    // Longest model line, in characters. A line is a handful of items and
    // its longest, a condition, is bounded at the same length itself; the
    // bound keeps a line without breaks from costing a reader without end.
    static constexpr size_t MaxLineLength = 65536;

protected:
    // Starts from a new unnamed root at level -1.
    void DoRead() override;
    void ParseText(std::u16string_view text) override;
    // Fails on the first line longer than MaxLineLength. Lines end at LF, CR
    // LF or a lone CR, whatever break the reader cuts at, so both readers
    // refuse the same texts.
    void CheckLineLengths(std::u16string_view text);
    // Adds the node for Props under the right parent and writes its properties.
    TTsTreeNode& BuildNode();

    TTsStreamingProps Props;
    int32_t prevLevel_ = -1;
    TTsTreeNode* current_ = nullptr;  // the previous line's node, or the root
};

// ---- Errors ----------------------------------------------------------------

class ETsStreamer : public ETessarine {
public:
    ETsStreamer(const TTsStreamer* streamer, std::u16string_view format, FormatArgs args)
        : ETessarine(format, args), Streamer(streamer) {}
    // Borrowed: valid while the streamer lives; nil when raised by ReadFrom,
    // whose streamer is gone by then.
    const TTsStreamer* Streamer;
    TS_EXCEPTION(ETsStreamer)
};

class ETsUncapableStreamer : public ETsStreamer {
public:
    ETsUncapableStreamer(const TTsStreamer* streamer, TTsStreamerCapabilities needed)
        : ETsStreamer(streamer, u"%s is not capable of %s, only of %s.",
                      {streamer, CapabilitiesText(needed), CapabilitiesText(streamer->Capabilities())}),
          Needed(needed) {}
    TTsStreamerCapabilities Needed;
    TS_EXCEPTION(ETsUncapableStreamer)
};

class ETsReusingStreamer : public ETsStreamer {
public:
    explicit ETsReusingStreamer(const TTsStreamer* streamer)
        : ETsStreamer(streamer, u"%s is not reusable for reading - create new streamer for each operation.",
                      {streamer}) {}
    TS_EXCEPTION(ETsReusingStreamer)
};

class ETsBadTextStreaming : public ETsStreamer {
public:
    // lineIndex is 0-based; position is 1-based within line, 0 or below for none.
    ETsBadTextStreaming(const TTsStreamer* streamer, std::u16string_view reason, int32_t lineIndex,
                        std::u16string_view line, int32_t position);
    WideString Reason;
    int32_t LineNumber;  // 1-based
    int32_t Position;
    TS_EXCEPTION(ETsBadTextStreaming)

    // ", 'c'", ", <end>" or nothing.
    static WideString PositionText(std::u16string_view line, int32_t position);
    // The line around the position, at most 20 characters of it after the position.
    static WideString NearbyText(std::u16string_view line, int32_t position);
};

}  // namespace ts
