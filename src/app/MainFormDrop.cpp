// The window's intake: files and folders dropped, added from the File menu or named on the
// command line, a release's tracks chosen, and the one message a drop ends with.
#include "app/MainForm.h"

#include "app/QtText.h"
#include "app/Releases.h"
#include "app/TaskRowView.h"
#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "settings/FileListing.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QListWidget>
#include <QMimeData>
#include <QUrl>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace pelldrin {

namespace {

constexpr int kMaxSkippedNames = 20; // names listed per group in a drop's message

bool IsSubtitleFile(const std::string& path) {
    const std::string ext = FileExtension(path);
    return !path.empty() &&
           (SameTextN(ext, ".ass", 4) || SameTextN(ext, ".ssa", 4) || SameTextN(ext, ".srt", 4));
}

// An address that names no file of this computer ("http://...", "file://host/...").
bool IsAddress(const std::string& path) {
    const auto colon = path.find("://");
    return colon != std::string::npos && colon > 1 &&
           std::all_of(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(colon),
                       [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; });
}

// A message and the names it lists, at most kMaxSkippedNames of them.
std::string NamedList(std::string text, const std::vector<std::string>& names) {
    for (std::size_t i = 0; i < names.size() && i < kMaxSkippedNames; ++i) {
        text += "\n" + names[i];
    }
    if (names.size() > kMaxSkippedNames) {
        text += "\n... (" + std::to_string(names.size() - kMaxSkippedNames) + ")";
    }
    return text;
}

} // namespace

struct TMainform::DropItem {
    std::string path;
    std::optional<MatroskaHead> head; // a release's
    std::vector<TaskTrack> tracks;    // the release's tracks to queue
};

void TMainform::AddDroppedFiles(const QStringList& paths) {
    DropReport report;
    std::vector<DropItem> items;
    for (const QString& file : paths) {
        const std::string path = S(file);
        if (IsAddress(path)) {
            report.notLocal.push_back(path);
        } else if (!path.empty() && QFileInfo(file).isDir()) {
            AddFolder(path, items, report);
        } else {
            CollectFile(path, items, report);
        }
    }
    ChooseReleaseTracks(items, report);
    for (const DropItem& item : items) {
        if (!item.head) {
            AddTask(item.path, std::nullopt, report);
        }
        for (const TaskTrack& track : item.tracks) {
            AddTask(item.path, track, report);
        }
    }
    FlushModel();
    if (tasklist->count() > 0) {
        tasklist->scrollToItem(tasklist->item(tasklist->count() - 1));
    }
    TellDrop(report);
}

void TMainform::CollectFile(const std::string& path, std::vector<DropItem>& items,
                            DropReport& report) {
    if (!report.collected.insert(path).second) {
        return;
    }
    if (IsSubtitleFile(path)) {
        items.push_back({path, std::nullopt, {}});
        return;
    }
    if (!IsMatroskaFileName(path)) {
        report.notSubtitles.push_back(path);
        return;
    }
    // The head alone: a release of any size is listed at once.
    try {
        MatroskaHead head = ReadMatroskaHead(path);
        const std::vector<const MatroskaTrack*> text = head.TextTracks();
        if (text.empty()) {
            report.noTextTrack.push_back(path);
            return;
        }
        DropItem item{path, std::move(head), {}};
        if (text.size() == 1) {
            item.tracks.push_back(TaskTrackOf(*text.front()));
        }
        items.push_back(std::move(item));
    } catch (const std::exception& e) {
        report.unreadable.push_back(e.what());
    }
}

void TMainform::ChooseReleaseTracks(std::vector<DropItem>& items, DropReport& report) {
    std::vector<DropItem*> several;
    for (DropItem& item : items) {
        if (item.head && item.tracks.empty()) {
            several.push_back(&item);
        }
    }
    if (several.empty()) {
        return;
    }
    const MatroskaHead& first = *several.front()->head;
    TrackChoice choice;
    choice.title = Format("C047", {FileNamePart(several.front()->path)});
    choice.intro = Msg("C048");
    if (several.size() > 1) {
        choice.intro += "\n" + Format("C049", {static_cast<std::int64_t>(several.size() - 1)});
    }
    choice.headers = {Msg("C050"), Msg("C051"), Msg("C052"), Msg("C053"), Msg("C054")};
    choice.defaultFlag = Msg("C055");
    choice.forcedFlag = Msg("C056");
    choice.notConvertible = Msg("C057");
    const MatroskaTrack* offered = first.DefaultTextTrack();
    for (const MatroskaTrack& track : first.tracks) {
        const bool text = track.kind == TrackKind::Text;
        choice.rows.push_back({track.number, track.language, track.name, track.codec,
                               track.isDefault, track.isForced, text, &track == offered});
    }
    // The heads go with the question, which may outlive this call.
    std::vector<std::pair<std::string, MatroskaHead>> others;
    for (std::size_t i = 1; i < several.size(); ++i) {
        others.emplace_back(FileNamePart(several[i]->path), *several[i]->head);
    }
    choice.unmatched = [first, others = std::move(others),
                        intro = Msg("C058")](const std::vector<std::int64_t>& chosen) {
        std::vector<std::string> names;
        for (const auto& [name, head] : others) {
            bool missing = false;
            MatchedTracks(first, chosen, head, missing);
            if (missing) {
                names.push_back(name);
            }
        }
        return names.empty() ? std::string() : NamedList(intro, names);
    };
    const std::vector<std::int64_t> chosen = dialogs_->ChooseTracks(choice);
    if (chosen.empty()) {
        return; // cancelled: these releases stay out
    }
    for (DropItem* item : several) {
        bool missing = false;
        item->tracks = MatchedTracks(first, chosen, *item->head, missing);
        if (item->tracks.empty()) {
            report.unmatched.push_back(item->path);
        }
    }
}

void TMainform::TellDrop(const DropReport& report) {
    std::vector<std::string> refusals;
    if (!report.notSubtitles.empty()) {
        refusals.push_back(NamedList(Msg("C001"), report.notSubtitles));
    }
    if (!report.notLocal.empty()) {
        refusals.push_back(NamedList(Msg("C032"), report.notLocal));
    }
    for (const auto& [folder, names] : report.skipped) {
        refusals.push_back(NamedList(Msg("C020") + "\n" + folder, names));
    }
    if (!report.noTextTrack.empty()) {
        refusals.push_back(NamedList(Msg("C045"), report.noTextTrack));
    }
    if (!report.unreadable.empty()) {
        refusals.push_back(NamedList(Msg("C046"), report.unreadable));
    }
    if (!report.unmatched.empty()) {
        refusals.push_back(NamedList(Msg("C060"), report.unmatched));
    }
    std::vector<std::string> notices;
    if (!report.duplicates.empty()) {
        notices.push_back(NamedList(Msg("C027"), report.duplicates));
    }
    if (!report.requeued.empty()) {
        notices.push_back(NamedList(Msg("C033"), report.requeued));
    }
    // One box for the whole drop: an error when anything was refused, else a notice.
    std::string text;
    for (const auto* group : {&refusals, &notices}) {
        for (const std::string& part : *group) {
            text += (text.empty() ? "" : "\n\n") + part;
        }
    }
    if (!refusals.empty()) {
        dialogs_->ShowError(text, Msg("C002"));
    } else if (!notices.empty()) {
        dialogs_->ShowInfo(text, Msg("C034"));
    }
}

void TMainform::AddFolder(const std::string& folder, std::vector<DropItem>& items,
                          DropReport& report) {
    // The folder's own files only, by name; sub-folders are not searched.
    std::vector<std::string> skipped;
    for (const std::string& path : ListFiles(folder, "*")) {
        if (!QFileInfo(Q(path)).isDir() && (IsSubtitleFile(path) || IsMatroskaFileName(path))) {
            CollectFile(path, items, report);
        } else {
            skipped.push_back(FileNamePart(path));
        }
    }
    if (!skipped.empty()) {
        report.skipped.emplace_back(folder, std::move(skipped));
    }
}

void TMainform::AddTask(const std::string& path, const std::optional<TaskTrack>& track,
                        DropReport& report) {
    // A second row for a file (or a release's track) would convert it into the same folder
    // again: its one row keeps its settings, which can be changed there.
    try {
        TaskEntry named;
        named.path = path;
        named.track = track;
        switch (queue_.AddFile(path, template_, track).outcome) {
        case TaskQueue::AddOutcome::Added:
            break;
        case TaskQueue::AddOutcome::AlreadyQueued:
            report.duplicates.push_back(RowText(named, Msg("C061")));
            break;
        case TaskQueue::AddOutcome::Requeued:
            report.requeued.push_back(RowText(named, Msg("C061")));
            break;
        }
    } catch (const std::exception& e) {
        dialogs_->ShowError(e.what(), Msg("C016"));
    }
}

void TMainform::addfilesmClick() {
    const std::string start = lastAddFolder_.empty() ? S(QDir::homePath()) : lastAddFolder_;
    const auto files =
        dialogs_->ChooseFiles(start, Msg("C030"), Msg("C039") + " (*.ass *.ssa *.srt *.mkv *.mks)");
    if (files.empty()) {
        return;
    }
    lastAddFolder_ = FolderOf(files.front());
    WriteConfigValue(ConfigFile(), "Config", "AddFolder", lastAddFolder_);
    QStringList paths;
    for (const std::string& file : files) {
        paths << Q(file);
    }
    AddDroppedFiles(paths);
}

void TMainform::addfoldermClick() {
    const std::string start = lastAddFolder_.empty() ? S(QDir::homePath()) : lastAddFolder_;
    const std::string folder = dialogs_->ChooseFolder(start, Msg("C031"));
    if (folder.empty()) {
        return;
    }
    lastAddFolder_ = folder;
    WriteConfigValue(ConfigFile(), "Config", "AddFolder", lastAddFolder_);
    AddDroppedFiles({Q(folder)});
}

QStringList PathsFromCommandLine(const QStringList& arguments) {
    QStringList paths;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        // Windows paths shown and written with backslashes, as the user knows them.
        paths << QDir::toNativeSeparators(QFileInfo(arguments[i]).absoluteFilePath());
    }
    return paths;
}

void TMainform::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasUrls()) {
        event->acceptProposedAction();
    }
}

void TMainform::dropEvent(QDropEvent* event) {
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls()) {
        // "file://host/path" names a file of another computer: it stays an address, and
        // the drop refuses it with its reason.
        const bool local = url.isLocalFile() && (url.host().isEmpty() || url.host() == "localhost");
        paths << (local ? QDir::toNativeSeparators(url.toLocalFile()) : url.toString());
    }
    event->acceptProposedAction();
    AddDroppedFiles(paths);
}

} // namespace pelldrin
