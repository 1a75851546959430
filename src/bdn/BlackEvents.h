// Blank events: fully transparent full-frame events added at the start and/or the end of
// a BDN XML file, with the timecode arithmetic they need and the image they show.
#pragma once

#include "bdn/SubFileType.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>

namespace pelldrin {

// Adds blank events to the BDN XML file at xmlPath: mode 1 the first event, 2 the end event,
// 3 both; any other mode reads and writes nothing. The first one goes before every event
// and the end one after them, each cut short where it would overlap a subtitle and left
// out when no frame remains. The header's count and first and last times are set to the
// events the file then holds, and "0.png" is written beside it (nothing is written when
// no blank event remains). Everything is checked before the first write and each write is
// atomic, so a BdnError leaves the XML file unchanged.
void AddBlackEvents(const std::string& xmlPath, int mode);

// The timecode HH:MM:SS:FF plus frames at the given frame base; hours do not wrap.
// Throws BdnError for a malformed timecode or a base below 1.
std::string AddFrames(std::string_view timecode, int frames, int base);

// The whole number of frames a second of a BDN timecode counts at the frame rate text:
// the rate rounded up, so 23.976 gives 24 and 25 gives 25. Throws BdnError for a text that
// is not a decimal number or a base below 1.
int FrameBase(std::string_view frameRate);

// Writes the bytes of a resource carried in the program to targetPath, atomically.
// The one resource is "PNG" of type "PNGFILE": the blank event image of the video format.
void SaveResourceToFile(std::string_view name, std::string_view type, const std::string& targetPath,
                        std::string_view videoFormat = "1080p");

// The width and height of the blank event image of the video format: its frame size
// (an unknown format gets 1920x1080).
std::pair<int, int> BlankEventSize(std::string_view videoFormat);

// The blank event image as PNG bytes: fully transparent, the frame size of the video format
// ("720p", "480i", ...; an unknown format gets the 1920x1080 image).
std::string_view BlankEventImage(std::string_view videoFormat = "1080p");

} // namespace pelldrin
