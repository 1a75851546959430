// libass for one subtitle file: its library, track and renderer, owned together and
// freed in the order libass asks for. libass objects may be used by one thread at a time
// only, so each drawing thread has a session of its own over the same text.
#pragma once

#include "core/FrameGeometry.h"
#include "input/FontSources.h"
#include "input/SubtitleTrack.h"

#include <ass/ass.h>

#include <cstdarg>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelldrin::render {

class LibassSession {
  public:
    using Warn = std::function<void(const std::string&)>;

    // Reads the subtitle file (ReadSubtitleFile) and loads it into a library of its own,
    // which holds the fonts of the "fonts" folders beside the file and beside the program.
    // Warnings go to warn: libass's own at warning level or above (those about fonts made
    // readable) and those about the file. Throws SubtitleError or FileError naming the file.
    explicit LibassSession(const std::string& path, const std::string& charset = {},
                           Warn warn = {});
    // A session of its own over a file another session read.
    LibassSession(std::shared_ptr<const SubtitleFile> file, Warn warn);
    LibassSession(const LibassSession&) = delete;
    LibassSession& operator=(const LibassSession&) = delete;

    // Sets up the renderer for the geometry (fonts through fontconfig), its bitmap caches
    // bounded to cacheMb megabytes. Once per session; throws SubtitleError.
    ASS_Renderer* StartRenderer(const FrameGeometry& geometry, int cacheMb = 48);

    ASS_Renderer* Renderer() const { return renderer_.get(); }
    ASS_Track* Track() const { return track_.track.get(); }
    // The line of the file each event of the track came from (0 where unknown).
    const std::vector<int>& EventLines() const { return track_.eventLines; }
    const std::shared_ptr<const SubtitleFile>& File() const { return file_; }

  private:
    static void OnMessage(int level, const char* format, va_list args, void* data);

    std::shared_ptr<const SubtitleFile> file_;
    Warn warn_;
    FontReport report_;
    // Freed in the reverse order: the renderer and the track before their library.
    std::unique_ptr<ASS_Library, LibassFree> library_;
    LoadedTrack track_;
    std::unique_ptr<ASS_Renderer, LibassFree> renderer_;
};

} // namespace pelldrin::render
