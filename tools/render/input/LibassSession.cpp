#include "input/LibassSession.h"

#include "base/PathText.h"
#include "base/Platform.h"
#include "base/Utf8.h"
#include "core/RenderErrors.h"

#include <cstdio>
#include <cstring>

namespace pelldrin::render {

namespace {

constexpr int kWarnLevel = 2;

} // namespace

LibassSession::LibassSession(const std::string& path, const std::string& charset, Warn warn)
    : LibassSession(std::make_shared<const SubtitleFile>(
                        ReadSubtitleFile(path, charset,
                                         [&warn](const std::string& message) {
                                             if (warn) {
                                                 warn(message);
                                             }
                                         })),
                    warn) {}

LibassSession::LibassSession(std::shared_ptr<const SubtitleFile> file, Warn warn)
    : file_(std::move(file)), warn_(std::move(warn)), report_(file_), library_(ass_library_init()) {
    if (library_ == nullptr) {
        throw SubtitleError("libass: cannot initialise the library");
    }
    ass_set_message_cb(library_.get(), &LibassSession::OnMessage, this);
    ass_set_extract_fonts(library_.get(), 1);
    const Warn give = [this](const std::string& message) {
        if (warn_) {
            warn_(message);
        }
    };
    AddFontFiles(library_.get(), FontFolders({FolderOf(file_->path), ProgramFolder()}), give);
    track_ = LoadTrack(library_.get(), *file_, give);
}

ASS_Renderer* LibassSession::StartRenderer(const FrameGeometry& geometry, int cacheMb) {
    if (renderer_ != nullptr) {
        throw SubtitleError("libass: the renderer is already set up");
    }
    renderer_.reset(ass_renderer_init(library_.get()));
    if (renderer_ == nullptr) {
        throw SubtitleError("libass: cannot create a renderer");
    }
    ASS_Renderer* renderer = renderer_.get();
    ass_set_frame_size(renderer, geometry.width, geometry.height);
    ass_set_storage_size(renderer, geometry.width, geometry.height);
    // An anamorphic frame is the wide picture squeezed to the frame's width: libass
    // scales everything horizontally by this factor.
    ass_set_pixel_aspect(renderer,
                         static_cast<double>(geometry.width) * geometry.renderHeight /
                             (static_cast<double>(geometry.renderWidth) * geometry.height));
    ass_set_fonts(renderer, nullptr, "DejaVu Sans", ASS_FONTPROVIDER_AUTODETECT, nullptr, 1);
    // Modest caches keep a long film within a small, steady amount of memory.
    ass_set_cache_limits(renderer, 2000, cacheMb);
    return renderer;
}

void LibassSession::OnMessage(int level, const char* format, va_list args, void* data) {
    auto* self = static_cast<LibassSession*>(data);
    if (level > kWarnLevel || !self->warn_) {
        return;
    }
    char buffer[1024];
    std::vsnprintf(buffer, sizeof buffer, format, args);
    std::size_t length = std::strlen(buffer);
    while (length > 0 && (buffer[length - 1] == '\n' || buffer[length - 1] == '\r')) {
        buffer[--length] = '\0';
    }
    if (const auto warning = self->report_.Translate("libass: " + QuoteForMessage(buffer))) {
        self->warn_(*warning);
    }
}

} // namespace pelldrin::render
