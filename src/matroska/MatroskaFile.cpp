#include "matroska/MatroskaFile.h"

#include "base/AtomicFile.h"
#include "base/FileSystem.h"
#include "base/FontFiles.h"
#include "base/PathText.h"
#include "base/TextHelpers.h"
#include "base/Utf8.h"
#include "matroska/TrackText.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/mathematics.h>
}

#ifndef PELLDRIN_FFMPEG_LINKED
#include <dlfcn.h>
#endif

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <limits>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <system_error>

namespace pelldrin {

namespace {

namespace fs = std::filesystem;

// FFmpeg reads a file in pieces of at most this size, so the stop check and the head's
// limit are looked at after each piece however large an element is.
constexpr int kReadPieceBytes = 1 << 20;
// Progress is reported when this much more has been read.
constexpr std::int64_t kProgressStep = std::int64_t{4} << 20;
// FFmpeg's messages kept for one read; a damaged file gives a new one for every element.
constexpr std::size_t kMaxMessages = 8;
// What FFmpeg says of a file that ends inside an element.
constexpr std::string_view kCutShort = "ended prematurely";

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

std::string Quoted(const std::string& path) {
    return "\"" + QuoteForMessage(path) + "\"";
}

// --- FFmpeg's functions.

// Where FFmpeg is the system's (Linux), libavformat is loaded when the first Matroska file is
// read, not at start: linked, it and the hundred libraries a distribution builds it with
// took some 30 ms of every start of either program, as long as converting a small subtitle
// takes, and a batch starts the renderer once a file. Our own small build of it (the
// Windows program folder) is linked as usual.
// clang-format off
#define PELLDRIN_FFMPEG_CALLS(X)                                                                   \
    X(av_dict_free) X(av_dict_get) X(av_dict_set_int) X(av_find_input_format)                      \
    X(av_log_default_callback) X(av_log_set_callback) X(av_packet_alloc) X(av_packet_free)        \
    X(av_packet_unref) X(av_read_frame) X(av_rescale) X(av_rescale_q_rnd) X(av_strerror)          \
    X(avcodec_get_name) X(avformat_alloc_context) X(avformat_close_input)                         \
    X(avformat_open_input) X(avio_size)
// clang-format on

struct FfmpegCalls {
#define PELLDRIN_FFMPEG_MEMBER(name) decltype(&::name) name = nullptr;
    PELLDRIN_FFMPEG_CALLS(PELLDRIN_FFMPEG_MEMBER)
#undef PELLDRIN_FFMPEG_MEMBER
};

FfmpegCalls LoadFfmpeg() {
    FfmpegCalls calls;
#ifdef PELLDRIN_FFMPEG_LINKED
#define PELLDRIN_FFMPEG_TAKE(name) calls.name = &::name;
#else
    // The name the headers we are built with belong to: another major version has other
    // structures.
    const std::string library = "libavformat.so." AV_STRINGIFY(LIBAVFORMAT_VERSION_MAJOR);
    void* handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = ::dlerror();
        throw MatroskaError(MatroskaFault::Unreadable,
                            "Matroska files are read with FFmpeg's " + library +
                                ", which cannot be loaded" +
                                (why != nullptr ? std::string(": ") + why : std::string()));
    }
    // Looked up in libavformat and the libraries it needs (libavcodec, libavutil).
#define PELLDRIN_FFMPEG_TAKE(name)                                                                 \
    calls.name = reinterpret_cast<decltype(calls.name)>(::dlsym(handle, #name));                   \
    if (calls.name == nullptr) {                                                                   \
        throw MatroskaError(MatroskaFault::Unreadable, "Matroska files are read with FFmpeg's " +  \
                                                           library + ", which lacks " #name);      \
    }
#endif
    PELLDRIN_FFMPEG_CALLS(PELLDRIN_FFMPEG_TAKE)
#undef PELLDRIN_FFMPEG_TAKE
    return calls;
}

// FFmpeg's functions, loaded by the first call; throws MatroskaError when they cannot be,
// and tries again at the next call.
const FfmpegCalls& Ff() {
    static const FfmpegCalls calls = LoadFfmpeg();
    return calls;
}

std::string FfmpegErrorText(int code) {
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    Ff().av_strerror(code, text, sizeof text);
    return text;
}

// --- FFmpeg's log, caught per reading thread.

// The messages of the read that runs on this thread, or nullptr.
thread_local std::vector<std::string>* tlMessages = nullptr;

void CatchLog(void* avcl, int level, const char* format, va_list args) {
    if (tlMessages == nullptr) {
        Ff().av_log_default_callback(avcl, level, format, args);
        return;
    }
    if (level > AV_LOG_INFO) {
        return;
    }
    char line[1024];
    std::vsnprintf(line, sizeof line, format, args);
    std::string text = Trim(line);
    if (level > AV_LOG_WARNING) {
        // A track it makes no stream of shifts the numbers of the tracks after it.
        if (text.find("track type") == std::string::npos) {
            return;
        }
        text += ": the track is not counted, so the numbers of the tracks after it are one "
                "less than mkvtoolnix's";
    }
    // The message that says a file is cut short is kept however many came before it.
    const bool cutShort = text.find(kCutShort) != std::string::npos;
    if (text.empty() || (tlMessages->size() > kMaxMessages && !cutShort) ||
        std::find(tlMessages->begin(), tlMessages->end(), text) != tlMessages->end()) {
        return;
    }
    if (cutShort) {
        tlMessages->push_back(text);
        return;
    }
    tlMessages->push_back(tlMessages->size() < kMaxMessages ? text : "and more like these");
}

// Sends FFmpeg's messages to `sink` while it exists.
class MessageCatch {
  public:
    explicit MessageCatch(std::vector<std::string>& sink) : previous_(tlMessages) {
        static std::once_flag once;
        std::call_once(once, [] { Ff().av_log_set_callback(CatchLog); });
        tlMessages = &sink;
    }
    ~MessageCatch() { tlMessages = previous_; }
    MessageCatch(const MessageCatch&) = delete;
    MessageCatch& operator=(const MessageCatch&) = delete;

  private:
    std::vector<std::string>* previous_;
};

// --- One open file.

// What FFmpeg's interrupt callback looks at: the head's limit while opening, then the
// caller's stop check and progress.
struct ReadWatch {
    AVFormatContext* context = nullptr;
    std::int64_t headBudget = -1; // bytes the open may read; -1 once it is open
    bool overBudget = false;
    const ExtractCallbacks* callbacks = nullptr;
    std::int64_t total = 0;
    std::int64_t reported = 0;
    bool stopped = false;
    std::exception_ptr failure; // thrown by a callback; carried past FFmpeg
};

int Interrupt(void* opaque) noexcept {
    auto* watch = static_cast<ReadWatch*>(opaque);
    if (watch->overBudget || watch->stopped || watch->failure) {
        return 1;
    }
    const AVIOContext* pb = watch->context != nullptr ? watch->context->pb : nullptr;
    if (pb == nullptr || watch->callbacks == nullptr) {
        return 0;
    }
    try {
        if (watch->callbacks->stop && watch->callbacks->stop()) {
            watch->stopped = true;
            return 1;
        }
        if (watch->headBudget >= 0) {
            watch->overBudget = pb->bytes_read > watch->headBudget;
            return watch->overBudget ? 1 : 0;
        }
        if (watch->callbacks->progress && pb->pos >= watch->reported + kProgressStep) {
            watch->reported = pb->pos;
            watch->callbacks->progress(std::min(pb->pos, watch->total), watch->total);
        }
    } catch (...) {
        watch->failure = std::current_exception();
        return 1;
    }
    return 0;
}

// The caller's file, opened by FFmpeg's Matroska demuxer and read through the watch.
class OpenFile {
  public:
    OpenFile(const std::string& path, const MatroskaLimits& limits,
             const ExtractCallbacks* callbacks)
        : path_(path), capture_(messages_) {
        std::error_code ec;
        const fs::file_status status = fs::status(ToFsPath(path), ec);
        if (ec || !fs::exists(status)) {
            throw MatroskaError(MatroskaFault::Unreadable,
                                Quoted(path) + " cannot be read: there is no such file");
        }
        if (!fs::is_regular_file(status)) {
            throw MatroskaError(MatroskaFault::Unreadable,
                                Quoted(path) + " cannot be read: it is not a file");
        }
        const AVInputFormat* format = Ff().av_find_input_format("matroska");
        if (format == nullptr) {
            throw MatroskaError(MatroskaFault::Unreadable, "this FFmpeg cannot read Matroska, so " +
                                                               Quoted(path) + " cannot be read");
        }
        context_ = Ff().avformat_alloc_context();
        if (context_ == nullptr) {
            throw std::bad_alloc();
        }
        watch_.context = context_;
        watch_.headBudget = limits.headBytes;
        watch_.callbacks = callbacks != nullptr ? callbacks : &noCallbacks_;
        context_->interrupt_callback = {Interrupt, &watch_};
        AVDictionary* options = nullptr;
        Ff().av_dict_set_int(&options, "blocksize", kReadPieceBytes, 0);
        // "file:" keeps a name with a colon from being taken for another protocol.
        const int opened =
            Ff().avformat_open_input(&context_, ("file:" + path).c_str(), format, &options);
        Ff().av_dict_free(&options);
        if (opened < 0) {
            context_ = nullptr; // freed by FFmpeg
            watch_.context = nullptr;
            ThrowWatched(limits);
            if (Mentions(kCutShort)) {
                throw MatroskaError(MatroskaFault::NotMatroska,
                                    Quoted(path) + " ends inside its head (it is cut short)" +
                                        Details(opened));
            }
            if (opened == AVERROR_EOF) {
                throw MatroskaError(MatroskaFault::NotMatroska,
                                    Quoted(path) +
                                        " ends before its first block: it holds "
                                        "none, or it is cut short" +
                                        Details(opened));
            }
            if (opened == AVERROR_INVALIDDATA || opened == AVERROR_PATCHWELCOME) {
                throw MatroskaError(MatroskaFault::NotMatroska,
                                    Quoted(path) +
                                        " is not a Matroska file, or its head is "
                                        "damaged" +
                                        Details(opened));
            }
            throw MatroskaError(MatroskaFault::Unreadable,
                                Quoted(path) + " cannot be read" + Details(opened));
        }
        watch_.headBudget = -1;
        if (watch_.overBudget || watch_.stopped || watch_.failure) {
            // FFmpeg may open a file whose attachments it could not all read.
            Ff().avformat_close_input(&context_);
            watch_.context = nullptr;
            ThrowWatched(limits);
        }
        const std::int64_t size = Ff().avio_size(context_->pb);
        watch_.total = size > 0 ? size : 0;
    }
    ~OpenFile() {
        if (context_ != nullptr) {
            Ff().avformat_close_input(&context_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    AVFormatContext* Context() const { return context_; }
    ReadWatch& Watch() { return watch_; }
    const std::string& Path() const { return path_; }

    // True when one of FFmpeg's messages so far holds the text.
    bool Mentions(std::string_view part) const {
        return std::any_of(messages_.begin(), messages_.end(),
                           [&](const std::string& m) { return m.find(part) != std::string::npos; });
    }

    // FFmpeg's messages so far, each as a warning naming the file; the list is emptied.
    std::vector<std::string> TakeMessages() {
        std::vector<std::string> out;
        for (const std::string& m : messages_) {
            out.push_back(Quoted(path_) + ": FFmpeg: " + QuoteForMessage(m));
        }
        messages_.clear();
        return out;
    }

    // Throws what the watch saw while the head was read, if anything: a callback's failure,
    // a stop, or a head over its budget.
    void ThrowWatched(const MatroskaLimits& limits) const {
        if (watch_.failure) {
            std::rethrow_exception(watch_.failure);
        }
        if (watch_.stopped) {
            throw MatroskaError(MatroskaFault::Stopped,
                                Quoted(path_) + ": the reading was stopped");
        }
        if (watch_.overBudget) {
            throw MatroskaError(MatroskaFault::OverLimit, OverHeadLimit(limits));
        }
    }

    std::string OverHeadLimit(const MatroskaLimits& limits) const {
        return Quoted(path_) + " holds more than " + std::to_string(limits.headBytes >> 20) +
               " MB in its head (its attachments, mostly): more than a read may take";
    }

    // ": <FFmpeg's error text> (<its messages>)" for a message.
    std::string Details(int code) {
        std::string text = ": " + FfmpegErrorText(code);
        if (!messages_.empty()) {
            text += " (FFmpeg: " + QuoteForMessage(JoinWith(messages_, ';')) + ")";
        }
        return text;
    }

  private:
    std::string path_;
    std::vector<std::string> messages_;
    ExtractCallbacks noCallbacks_;
    MessageCatch capture_;
    ReadWatch watch_;
    AVFormatContext* context_ = nullptr;
};

std::string MetadataValue(const AVDictionary* metadata, const char* key) {
    const AVDictionaryEntry* entry = Ff().av_dict_get(metadata, key, nullptr, 0);
    return entry != nullptr && entry->value != nullptr ? entry->value : "";
}

std::string_view Extradata(const AVStream* stream) {
    const AVCodecParameters* par = stream->codecpar;
    if (par->extradata == nullptr || par->extradata_size <= 0) {
        return {};
    }
    return {reinterpret_cast<const char*>(par->extradata),
            static_cast<std::size_t>(par->extradata_size)};
}

// SSA scripts have "[V4 Styles]" where ASS scripts have "[V4+ Styles]"; FFmpeg gives both
// codec ids as one.
bool IsSsaHeader(std::string_view header) {
    const std::string lower = Lower(header.substr(0, 1 << 16));
    return lower.find("[v4 styles]") != std::string::npos &&
           lower.find("[v4+ styles]") == std::string::npos;
}

MatroskaTrack DescribeTrack(const AVStream* stream) {
    MatroskaTrack track;
    track.number = stream->index;
    const std::string language = MetadataValue(stream->metadata, "language");
    track.language = language.empty() ? "und" : language;
    track.name = MetadataValue(stream->metadata, "title");
    track.isDefault = (stream->disposition & AV_DISPOSITION_DEFAULT) != 0;
    track.isForced = (stream->disposition & AV_DISPOSITION_FORCED) != 0;
    // FFmpeg hands over its codec, not the codec id the file holds: the id is that
    // codec's own.
    struct Codec {
        AVCodecID id;
        const char* name;
        TrackKind kind;
    };
    static constexpr std::array<Codec, 7> kCodecs{{
        {AV_CODEC_ID_SUBRIP, "S_TEXT/UTF8", TrackKind::Text},
        {AV_CODEC_ID_TEXT, "S_TEXT/ASCII", TrackKind::Text},
        {AV_CODEC_ID_HDMV_PGS_SUBTITLE, "S_HDMV/PGS", TrackKind::Picture},
        {AV_CODEC_ID_DVD_SUBTITLE, "S_VOBSUB", TrackKind::Picture},
        {AV_CODEC_ID_DVB_SUBTITLE, "S_DVBSUB", TrackKind::Picture},
        {AV_CODEC_ID_HDMV_TEXT_SUBTITLE, "S_HDMV/TEXTST", TrackKind::OtherText},
        {AV_CODEC_ID_WEBVTT, "D_WEBVTT/SUBTITLES", TrackKind::OtherText},
    }};
    const AVCodecID id = stream->codecpar->codec_id;
    const auto known =
        std::find_if(kCodecs.begin(), kCodecs.end(), [&](const Codec& c) { return c.id == id; });
    if (id == AV_CODEC_ID_ASS || id == AV_CODEC_ID_SSA) {
        track.codec = IsSsaHeader(Extradata(stream)) ? "S_TEXT/SSA" : "S_TEXT/ASS";
        track.kind = TrackKind::Text;
    } else if (known != kCodecs.end()) {
        track.codec = known->name;
        track.kind = known->kind;
    } else {
        track.codec = Ff().avcodec_get_name(id);
    }
    return track;
}

bool IsFontMimeType(const std::string& mimeType) {
    static constexpr std::array<std::string_view, 8> kTypes{
        "application/x-truetype-font", "application/x-font-ttf", "application/x-font-otf",
        "application/x-font-opentype", "application/x-font",     "application/vnd.ms-opentype",
        "application/font-sfnt",       "application/font-woff"};
    const std::string lower = Lower(mimeType);
    return lower.compare(0, 5, "font/") == 0 ||
           std::find(kTypes.begin(), kTypes.end(), lower) != kTypes.end();
}

// An attachment with its data, which FFmpeg holds while the file is open.
struct AttachedFile {
    MatroskaAttachment info;
    std::string_view data;
};

std::vector<AttachedFile> Attachments(const AVFormatContext* context) {
    std::vector<AttachedFile> files;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        std::string_view data;
        if (stream->codecpar->codec_type == AVMEDIA_TYPE_ATTACHMENT) {
            data = Extradata(stream);
        } else if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
            // Pictures become cover art, which is no font.
            data = {reinterpret_cast<const char*>(stream->attached_pic.data),
                    static_cast<std::size_t>(std::max(stream->attached_pic.size, 0))};
        } else {
            continue;
        }
        AttachedFile file;
        file.info.name = MetadataValue(stream->metadata, "filename");
        file.info.mimeType = MetadataValue(stream->metadata, "mimetype");
        file.info.size = static_cast<std::int64_t>(data.size());
        file.info.font = (IsFontMimeType(file.info.mimeType) || IsFontFileName(file.info.name)) &&
                         !FontDataExtension(data).empty();
        file.data = data;
        files.push_back(std::move(file));
    }
    return files;
}

MatroskaHead DescribeHead(OpenFile& file) {
    MatroskaHead head;
    head.path = file.Path();
    head.fileSize = file.Watch().total;
    const AVFormatContext* context = file.Context();
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        if (context->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE) {
            head.tracks.push_back(DescribeTrack(context->streams[i]));
        }
    }
    for (const AttachedFile& a : Attachments(context)) {
        head.attachments.push_back(a.info);
    }
    head.warnings = file.TakeMessages();
    return head;
}

std::string TrackList(const MatroskaHead& head) {
    if (head.tracks.empty()) {
        return "it has no subtitle track";
    }
    std::string text = "its subtitle tracks are";
    for (std::size_t i = 0; i < head.tracks.size(); ++i) {
        text += (i == 0 ? " " : ", ") + std::to_string(head.tracks[i].number) + " (" +
                head.tracks[i].codec + ")";
    }
    return text;
}

// SRT cues; the rest of the text tracks are ASS or SSA.
bool IsSrtTrack(const MatroskaTrack& track) {
    return track.codec == "S_TEXT/UTF8" || track.codec == "S_TEXT/ASCII";
}

// A name for an attachment that no other file of this extraction has (any letter case, as
// Windows compares names): "name (2).ext" and so on.
std::string UniqueName(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = name;
    const std::string extension = FileExtension(name);
    const std::string stem = name.substr(0, name.size() - extension.size());
    for (int n = 2; !taken.insert(Lower(candidate)).second; ++n) {
        candidate = stem + " (" + std::to_string(n) + ")" + extension;
    }
    return candidate;
}

// The folder to write into, made when missing, and its fonts folder, refused when it is
// anything but a folder (a link would lead the fonts elsewhere).
void PrepareFolder(const std::string& folder, const std::string& fontsFolder, bool withFonts) {
    CreateFolders(folder);
    if (!withFonts) {
        return;
    }
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(ToFsPath(fontsFolder), ec);
    if (fs::exists(status) && !fs::is_directory(status)) {
        throw FileError("cannot write fonts into \"" + QuoteForMessage(fontsFolder) +
                        "\": it is not a folder");
    }
    CreateFolders(fontsFolder);
}

} // namespace

const MatroskaTrack* MatroskaHead::FindTrack(std::int64_t number) const {
    for (const MatroskaTrack& t : tracks) {
        if (t.number == number) {
            return &t;
        }
    }
    return nullptr;
}

std::vector<const MatroskaTrack*> MatroskaHead::TextTracks() const {
    std::vector<const MatroskaTrack*> text;
    for (const MatroskaTrack& t : tracks) {
        if (t.kind == TrackKind::Text) {
            text.push_back(&t);
        }
    }
    return text;
}

const MatroskaTrack* MatroskaHead::DefaultTextTrack() const {
    const std::vector<const MatroskaTrack*> text = TextTracks();
    for (const MatroskaTrack* t : text) {
        if (t->isDefault) {
            return t;
        }
    }
    return text.empty() ? nullptr : text.front();
}

bool IsMatroskaFileName(const std::string& path) {
    const std::string extension = Lower(FileExtension(FileNamePart(path)));
    return extension == ".mkv" || extension == ".mks";
}

MatroskaHead ReadMatroskaHead(const std::string& path, const MatroskaLimits& limits) {
    OpenFile file(path, limits, nullptr);
    return DescribeHead(file);
}

std::optional<std::int64_t> MatchTrack(const MatroskaTrack& chosen, const MatroskaHead& other) {
    const std::vector<const MatroskaTrack*> text = other.TextTracks();
    const MatroskaTrack* alike = nullptr;
    for (const MatroskaTrack* t : text) {
        if (t->language == chosen.language && t->codec == chosen.codec && t->name == chosen.name &&
            (alike == nullptr || t->number == chosen.number)) {
            alike = t;
        }
    }
    if (alike != nullptr) {
        return alike->number;
    }
    for (const MatroskaTrack* t : text) {
        if (t->number == chosen.number) {
            return t->number;
        }
    }
    return std::nullopt;
}

std::string ExtractedSubtitleName(const std::string& matroskaPath, const MatroskaTrack& track) {
    std::string stem = FileNamePart(matroskaPath);
    stem.resize(stem.size() - FileExtension(stem).size());
    return stem + ".track" + std::to_string(track.number) + (IsSrtTrack(track) ? ".srt" : ".ass");
}

ExtractedTrack ExtractTrack(const std::string& path, std::int64_t number, const std::string& folder,
                            const ExtractCallbacks& callbacks, const MatroskaLimits& limits) {
    OpenFile file(path, limits, &callbacks);
    AVFormatContext* context = file.Context();
    const MatroskaHead head = DescribeHead(file);
    ExtractedTrack result;
    result.warnings = head.warnings;

    int index = -1;
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        const AVStream* stream = context->streams[i];
        if (index < 0 && stream->codecpar->codec_type == AVMEDIA_TYPE_SUBTITLE &&
            stream->index == number) {
            index = static_cast<int>(i);
        }
    }
    if (index < 0) {
        throw MatroskaError(MatroskaFault::NoSuchTrack, Quoted(path) + " has no subtitle track " +
                                                            std::to_string(number) + ": " +
                                                            TrackList(head));
    }
    AVStream* stream = context->streams[index];
    result.track = DescribeTrack(stream);
    const MatroskaTrack& track = result.track;
    const std::string where = Quoted(path) + ", track " + std::to_string(number);
    if (track.kind != TrackKind::Text) {
        throw MatroskaError(
            MatroskaFault::NotText,
            where + " (" + track.codec + ") is " +
                (track.kind == TrackKind::Picture ? "a picture track" : "in a text format") +
                " that is not converted: only ASS, SSA and SRT tracks are");
    }
    const bool ass = !IsSrtTrack(track);

    // Only this track's blocks are handed over; the others are skipped unread.
    for (unsigned i = 0; i < context->nb_streams; ++i) {
        context->streams[i]->discard =
            static_cast<int>(i) == index ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    }
    const AVRational unit{1, ass ? 100 : 1000};
    const auto toUnit = [&](std::int64_t ts) {
        return Ff().av_rescale_q_rnd(
            ts, stream->time_base, unit,
            static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX));
    };
    std::vector<TextBlock> blocks;
    std::int64_t bytes = 0;
    std::int64_t untimed = 0;
    bool timed = false; // a block with a duration above zero
    int readError = 0;
    std::unique_ptr<AVPacket, void (*)(AVPacket*)> packet(
        Ff().av_packet_alloc(), [](AVPacket* p) { Ff().av_packet_free(&p); });
    if (!packet) {
        throw std::bad_alloc();
    }
    ReadWatch& watch = file.Watch();
    for (;;) {
        const int status = Ff().av_read_frame(context, packet.get());
        if (watch.failure) {
            std::rethrow_exception(watch.failure);
        }
        if (watch.stopped) {
            throw MatroskaError(MatroskaFault::Stopped, where + ": the reading was stopped");
        }
        if (status < 0) {
            if (status != AVERROR_EOF) {
                readError = status;
            }
            break;
        }
        if (packet->stream_index == index) {
            const std::int64_t ts = packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts;
            if (ts == AV_NOPTS_VALUE) {
                ++untimed;
            } else {
                bytes += packet->size;
                if (static_cast<std::int64_t>(blocks.size()) >= limits.trackBlocks) {
                    throw MatroskaError(MatroskaFault::OverLimit,
                                        where + " holds more than " +
                                            std::to_string(limits.trackBlocks) +
                                            " blocks: more than an extraction takes");
                }
                if (bytes > limits.trackBytes) {
                    throw MatroskaError(MatroskaFault::OverLimit,
                                        where + " holds more than " +
                                            std::to_string(limits.trackBytes >> 20) +
                                            " MB of text: more than an extraction takes");
                }
                TextBlock block;
                block.start = toUnit(ts);
                if (packet->duration > 0 &&
                    ts <= std::numeric_limits<std::int64_t>::max() - packet->duration) {
                    block.end = toUnit(ts + packet->duration);
                    timed = true;
                }
                block.data.assign(reinterpret_cast<const char*>(packet->data),
                                  static_cast<std::size_t>(packet->size));
                blocks.push_back(std::move(block));
            }
        }
        Ff().av_packet_unref(packet.get());
    }
    if (callbacks.progress) {
        callbacks.progress(watch.total, watch.total);
    }

    if (file.Mentions(kCutShort)) {
        result.warnings.push_back(Quoted(path) + " ends early (it is cut short): the subtitle "
                                                 "holds the blocks before its end");
    }
    for (std::string& m : file.TakeMessages()) {
        result.warnings.push_back(std::move(m));
    }
    if (readError != 0) {
        result.warnings.push_back(where + ": the reading ended early (" +
                                  FfmpegErrorText(readError) +
                                  "): the blocks after that point are not in the subtitle");
    }
    if (untimed > 0) {
        result.warnings.push_back(where + ": " + std::to_string(untimed) +
                                  " blocks without a time are left out");
    }
    // FFmpeg gives a duration of zero both for a block without one and for one that lasts
    // no time, as mkvmerge stores a line whose end is its start. In a track whose other
    // blocks have durations, zero is such a duration; in a track without any, each block
    // lasts until the next, as players show them.
    if (timed) {
        for (TextBlock& b : blocks) {
            if (!b.end) {
                b.end = b.start;
            }
        }
    }
    if (blocks.empty()) {
        std::string detail;
        for (const std::string& w : result.warnings) {
            detail += "; " + w;
        }
        throw MatroskaError(MatroskaFault::NoText,
                            where + " gave no block that could be read" + detail);
    }

    const std::int64_t fileEnd =
        context->duration > 0 ? Ff().av_rescale(context->duration, unit.den, AV_TIME_BASE) : 0;
    const std::string_view header = Extradata(stream);
    if (ass && Trim(header).empty()) {
        result.warnings.push_back(where + ": the track has no header (styles, script info): "
                                          "the default style draws it");
    }
    TrackText text =
        ass ? BuildAssTrack(header, std::move(blocks), fileEnd, track.codec == "S_TEXT/SSA")
            : BuildSrtTrack(std::move(blocks), fileEnd);
    for (const std::string& w : text.warnings) {
        result.warnings.push_back(where + ": " + w);
    }
    const std::size_t invalid = InvalidUtf8Offset(text.text);
    if (invalid != std::string::npos) {
        result.warnings.push_back(where + ": the text is not UTF-8 (byte " +
                                  std::to_string(invalid) +
                                  " of the written file): it is written as it is");
    }
    result.events = text.events;

    // The fonts, under names of their own inside the fonts folder.
    struct FontToWrite {
        std::string path;
        std::string_view data;
    };
    std::vector<FontToWrite> fonts;
    const std::string fontsFolder = JoinPath(folder, "fonts");
    std::set<std::string> taken;
    for (const AttachedFile& a : Attachments(context)) {
        const std::string label = Quoted(path) + ": the attachment \"" +
                                  QuoteForMessage(a.info.name) + "\" (" +
                                  QuoteForMessage(a.info.mimeType) + ")";
        if (!a.info.font) {
            result.warnings.push_back(label + " is no font: not written");
            continue;
        }
        if (static_cast<std::uint64_t>(a.data.size()) > kMaxFontFileBytes) {
            result.warnings.push_back(label + " is over " +
                                      std::to_string(kMaxFontFileBytes >> 20) +
                                      " MB, more than the renderer loads: not written");
            continue;
        }
        if (static_cast<std::int64_t>(fonts.size()) >= limits.fonts) {
            result.warnings.push_back(label + ": more than " + std::to_string(limits.fonts) +
                                      " fonts are attached; the rest are not written");
            break;
        }
        const std::string safe = SafeAttachmentName(a.info.name, FontDataExtension(a.data));
        const auto same = std::find_if(fonts.begin(), fonts.end(), [&](const FontToWrite& f) {
            return Lower(FileNamePart(f.path)) == Lower(safe) && f.data == a.data;
        });
        if (same != fonts.end()) {
            result.warnings.push_back(label + " repeats another attachment: written once");
            continue;
        }
        const std::string name = UniqueName(safe, taken);
        if (name != a.info.name) {
            result.warnings.push_back(label + " is written as \"" + QuoteForMessage(name) + "\"");
        }
        fonts.push_back({JoinPath(fontsFolder, name), a.data});
    }

    PrepareFolder(folder, fontsFolder, !fonts.empty());
    for (const FontToWrite& f : fonts) {
        AtomicWriteFile(f.path, f.data);
        result.fontPaths.push_back(f.path);
    }
    result.subtitlePath = JoinPath(folder, ExtractedSubtitleName(path, track));
    AtomicWriteFile(result.subtitlePath, text.text);
    return result;
}

} // namespace pelldrin
