// The preview of one task: the subtitle as the renderer draws it at a chosen time, over a
// checkerboard, with the video frame's outline, the graphic's box and the warnings.
#pragma once

#include "batch/BatchWorker.h"
#include "batch/TrackSubtitle.h"

#include <QDialog>
#include <QImage>
#include <QRect>
#include <QString>
#include <QStringList>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

class QLabel;
class QProcess;
class QSlider;
class QTemporaryDir;
class QTimer;

namespace pelldrin {

// Everything a preview needs to ask the renderer for a frame.
struct PreviewSource {
    std::string renderer;   // the renderer's full path
    std::string scriptPath; // the task script, in the preview's own folder
    std::string formatLabel;
    std::string rateText;
    std::int64_t rateNum = 24;
    std::int64_t rateDen = 1;
    int frameWidth = 0;
    int frameHeight = 0;
    int lengthFrames = 0;              // the clip, as the script gives it to the renderer
    int startFrame = 0;                // the first frame of the first event
    std::string charset;               // the template's --charset, if it gives one
    std::vector<std::string> warnings; // what the script builder noticed about the inputs
};

// Writes the task's script into scriptFolder (never the task's output folder) and gathers
// what the preview needs. Throws what BuildTaskScript throws.
PreviewSource PreparePreview(const std::string& sourcePath, const std::string& taskLine,
                             const std::string& currentFolder, const ToolPaths& tools,
                             const std::string& scriptFolder);

// What a preview does before it can draw when that takes a while (a release's track read out
// first): run on a thread of its own, with progress and a stop check; returns the source, or
// throws the reason (TrackReadStopped when stopped).
using PreviewPreparation = std::function<PreviewSource(const TrackReadCallbacks& callbacks)>;

// A frame time as HH:MM:SS.mmm.
QString PreviewTimeText(int frame, std::int64_t rateNum, std::int64_t rateDen);

// The texts of the dialog, in the window's language.
struct PreviewTexts {
    QString title;
    QString failed;       // the line above a failure's reason
    QString nothingShown; // the frame shows no subtitle
    QString colourNote;   // an HDR10 task's: the picture shows its colours as authored
    std::function<QString(int percent)> preparing; // while the preparation works
};

// Draws the picture scaled to fit over a checkerboard, with the frame's outline and the box.
class TPreviewCanvas : public QWidget {
  public:
    explicit TPreviewCanvas(QWidget* parent);
    void SetFrameSize(QSize size);
    void SetPicture(const QImage& picture, std::optional<QRect> box);
    void ClearPicture();
    const QImage& Picture() const { return picture_; }
    std::optional<QRect> Box() const { return box_; }
    // Where the frame lies in the widget, scaled to fit and centred.
    QRect FrameArea() const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QSize frameSize_{1920, 1080};
    QImage picture_;
    std::optional<QRect> box_;
};

class TPreviewForm : public QDialog {
    Q_OBJECT

  public:
    // folder holds the script and the picture and lives as long as the dialog; source is
    // empty with error set when the preview could not be prepared.
    TPreviewForm(std::unique_ptr<QTemporaryDir> folder, std::optional<PreviewSource> source,
                 const QString& error, PreviewTexts texts, QWidget* parent);
    // Prepares the source on a thread of its own while the dialog shows its progress; closing
    // the dialog stops it.
    TPreviewForm(std::unique_ptr<QTemporaryDir> folder, PreviewPreparation prepare,
                 PreviewTexts texts, QWidget* parent);
    ~TPreviewForm() override;

    // The slider moved: draws that frame once the slider rests.
    void timesliderChange();

    QLabel* warnlabel = nullptr;
    QLabel* colourlabel = nullptr; // shown for an HDR10 task
    TPreviewCanvas* canvas = nullptr;
    QSlider* timeslider = nullptr;
    QLabel* timelabel = nullptr;
    QLabel* statuslabel = nullptr;

  private:
    void BuildControls();
    // Shows the source's first frame, or the error when there is no source.
    void Begin(std::optional<PreviewSource> source, const QString& error);
    void Render(int frame);
    void RenderFinished();
    void ShowFailure(const QString& reason);
    void ShowWarnings(const QStringList& rendererWarnings);

    std::unique_ptr<QTemporaryDir> folder_;
    std::optional<PreviewSource> source_;
    PreviewTexts texts_;
    QProcess* process_ = nullptr;
    QTimer* debounce_ = nullptr;
    QTimer* timeLimit_ = nullptr;
    std::optional<int> pendingFrame_; // asked for while another frame was being drawn
    bool timedOut_ = false;
    std::thread preparation_;
    std::atomic<bool> stopPreparation_{false};
};

} // namespace pelldrin
