// The video formats and frame rates Pelldrin knows: one table for the window's lists, the
// task script builder and the renderer, so that they cannot drift apart.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pelldrin {

struct VideoFormat {
    std::string_view label;    // the converter's -v value, e.g. "1080p"
    std::string_view listText; // the window's list item
    int width = 0;             // the output frame
    int height = 0;
    int renderWidth = 0; // the picture as drawn (MaskSub), before an anamorphic squeeze
    int renderHeight = 0;
    std::string_view extraLine; // a resize line after MaskSub, or empty
};

// One frame rate, exact: frames per second = num / den.
struct FrameRate {
    std::string_view text;     // the converter's -f value, shortest decimal form
    std::string_view listText; // the window's list item
    double decimal = 0;        // the value the text spells, as the length scan counts with it
    std::int64_t num = 0;
    std::int64_t den = 1;
    int timecodeBase = 0; // frames per second of the non-drop timecodes
};

// A task's FormatIndex is a position in this table (new formats are appended, so a stored
// index keeps its meaning).
inline constexpr std::array<VideoFormat, 6> kVideoFormats{{
    {"1080p", "1080P", 1920, 1080, 1920, 1080, ""},
    {"720p", "720P", 1280, 720, 1280, 720, ""},
    {"480p", "480p", 720, 480, 720, 480, ""},
    {"480i", "480i", 720, 480, 854, 480, "LanczosResize(720,480)"},
    {"576i", "576i", 720, 576, 1024, 576, "LanczosResize(720,576)"},
    {"1080i", "1080i", 1920, 1080, 1920, 1080, ""},
}};
inline constexpr std::size_t kTaskFormatCount = kVideoFormats.size();

// A task's RateIndex is a position in this table (appended to, like the formats).
inline constexpr std::array<FrameRate, 6> kFrameRates{{
    {"23.976", "23.976", 23.976, 24000, 1001, 24},
    {"29.97", "29.970", 29.97, 30000, 1001, 30},
    {"25", "25", 25.0, 25, 1, 25},
    {"24", "24", 24.0, 24, 1, 24},
    {"50", "50", 50.0, 50, 1, 50},
    {"59.94", "59.94", 59.94, 60000, 1001, 60},
}};
inline constexpr std::size_t kTaskRateCount = kFrameRates.size();

// The format with this -v label, or nullptr.
constexpr const VideoFormat* FindVideoFormat(std::string_view label) {
    for (const auto& format : kVideoFormats) {
        if (format.label == label) {
            return &format;
        }
    }
    return nullptr;
}

// The rate written exactly as this -f text, or nullptr.
constexpr const FrameRate* FindFrameRate(std::string_view text) {
    for (const auto& rate : kFrameRates) {
        if (rate.text == text) {
            return &rate;
        }
    }
    return nullptr;
}

// The frame rates a Blu-ray disc carries each format at: the BD-ROM video formats (1080 lines
// interlaced at 25 and 29.97 frames or progressive at 23.976 and 24; 720 lines progressive at
// 23.976, 24, 50 and 59.94; 576 interlaced at 25; 480 interlaced at 29.97) and the 1080-line
// progressive video of UHD discs at 50 and 59.94. Other pairs are accepted, with a warning:
// a disc made from them will not play as the subtitles expect.
struct DiscPair {
    std::string_view format; // -v label
    std::string_view rates;  // the -f texts, separated by blanks
};
inline constexpr std::array<DiscPair, 6> kDiscPairs{{
    {"1080p", "23.976 24 50 59.94"},
    {"1080i", "25 29.97"},
    {"720p", "23.976 24 50 59.94"},
    {"480p", ""},
    {"480i", "29.97"},
    {"576i", "25"},
}};

// Whether Blu-ray discs use this format at this rate.
constexpr bool IsDiscPair(const VideoFormat& format, const FrameRate& rate) {
    for (const auto& pair : kDiscPairs) {
        if (pair.format != format.label) {
            continue;
        }
        std::string_view rest = pair.rates;
        while (!rest.empty()) {
            const auto blank = rest.find(' ');
            if (rest.substr(0, blank) == rate.text) {
                return true;
            }
            rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        }
    }
    return false;
}

} // namespace pelldrin
