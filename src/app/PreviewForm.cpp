#include "app/PreviewForm.h"

#include "base/FileSystem.h"
#include "base/TextHelpers.h"
#include "runner/CommandLineSplit.h"
#include "script/SubtitleLength.h"
#include "script/TaskRecord.h"
#include "script/TaskScript.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProcess>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace pelldrin {

namespace {

constexpr int kRenderTimeLimitMs = 10000; // a preview that takes longer has gone wrong
constexpr int kSliderRestMs = 150;        // drawing waits until the slider rests this long
constexpr int kCheckerSize = 8;
constexpr std::size_t kMaxShownWarnings = 8; // more would push the picture out of the dialog
constexpr const char* kPictureName = "preview.png";

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

// "Box: X Y W H" or "Box: none" among the renderer's output; nullopt when neither is there.
std::optional<std::optional<QRect>> ReadBoxLine(const QString& output) {
    for (const QString& line : output.split('\n')) {
        const QString text = line.trimmed();
        if (!text.startsWith("Box: ")) {
            continue;
        }
        const QStringList parts = text.mid(5).split(' ', Qt::SkipEmptyParts);
        if (parts == QStringList{"none"}) {
            return std::optional<QRect>();
        }
        if (parts.size() == 4) {
            int v[4];
            bool ok = true;
            for (int i = 0; i < 4 && ok; ++i) {
                v[i] = parts[i].toInt(&ok);
            }
            if (ok && v[2] > 0 && v[3] > 0) {
                return std::optional<QRect>(QRect(v[0], v[1], v[2], v[3]));
            }
        }
    }
    return std::nullopt;
}

} // namespace

PreviewSource PreparePreview(const std::string& sourcePath, const std::string& taskLine,
                             const std::string& currentFolder, const ToolPaths& tools,
                             const std::string& scriptFolder) {
    const TaskScript script = BuildTaskScript(sourcePath, taskLine, currentFolder,
                                              tools.converterPath, tools.pluginPath, scriptFolder);
    // The builder has checked the format and the rate.
    std::int64_t formatIndex = 0;
    TryParseInt(TaskLineField(taskLine, FormatIndex), formatIndex);
    const VideoFormat& format = *VideoFormatFor(formatIndex);
    const FrameRate& rate = *FrameRateFor(TaskLineField(taskLine, RateIndex));
    const std::string extension = FileExtension(sourcePath);
    const int kind =
        SameTextN(extension, ".ass", 4) || SameTextN(extension, ".ssa", 4) ? skAssSsa : skSrt;

    PreviewSource source;
    source.renderer = currentFolder + tools.converterPath;
    source.scriptPath = script.scriptPath;
    source.formatLabel = std::string(format.label);
    source.rateText = std::string(rate.text);
    source.rateNum = rate.num;
    source.rateDen = rate.den;
    source.frameWidth = format.width;
    source.frameHeight = format.height;
    source.lengthFrames = CountSubtitleFrames(sourcePath, kind, rate.decimal);
    if (const auto first = FirstEventSeconds(sourcePath, kind)) {
        // The first frame that begins at or after the event's start shows it.
        const double frame = std::ceil(
            *first * static_cast<double>(rate.num) / static_cast<double>(rate.den) - 1e-6);
        source.startFrame = static_cast<int>(std::clamp(frame, 0.0, double(source.lengthFrames)));
    }
    const std::vector<std::string> args = SplitCommandLine(script.commandLine);
    for (std::size_t i = 0; i + 1 < args.size(); ++i) {
        if (args[i] == "--charset") {
            source.charset = args[i + 1];
        }
    }
    source.warnings = script.warnings;
    return source;
}

QString PreviewTimeText(int frame, std::int64_t rateNum, std::int64_t rateDen) {
    const std::int64_t ms = (std::int64_t{frame} * rateDen * 1000 + rateNum / 2) / rateNum;
    return QString("%1:%2:%3.%4")
        .arg(ms / 3600000, 2, 10, QChar('0'))
        .arg(ms / 60000 % 60, 2, 10, QChar('0'))
        .arg(ms / 1000 % 60, 2, 10, QChar('0'))
        .arg(ms % 1000, 3, 10, QChar('0'));
}

TPreviewCanvas::TPreviewCanvas(QWidget* parent) : QWidget(parent) {
    setMinimumSize(320, 180);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void TPreviewCanvas::SetFrameSize(QSize size) {
    if (!size.isEmpty()) {
        frameSize_ = size;
    }
    update();
}

void TPreviewCanvas::SetPicture(const QImage& picture, std::optional<QRect> box) {
    picture_ = picture;
    box_ = box;
    SetFrameSize(picture.size());
}

void TPreviewCanvas::ClearPicture() {
    picture_ = QImage();
    box_.reset();
    update();
}

QRect TPreviewCanvas::FrameArea() const {
    const QSize fitted = frameSize_.scaled(size() - QSize(2, 2), Qt::KeepAspectRatio);
    return QRect(QPoint((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

void TPreviewCanvas::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Mid));
    const QRect area = FrameArea();
    // The checkerboard shows which parts of the picture are transparent; mid greys, so that
    // white text and black outlines both stand out.
    painter.save();
    painter.setClipRect(area);
    for (int y = area.top(); y <= area.bottom(); y += kCheckerSize) {
        for (int x = area.left(); x <= area.right(); x += kCheckerSize) {
            const bool dark =
                ((x - area.left()) / kCheckerSize + (y - area.top()) / kCheckerSize) % 2;
            painter.fillRect(x, y, kCheckerSize, kCheckerSize,
                             dark ? QColor(96, 96, 96) : QColor(136, 136, 136));
        }
    }
    painter.restore();
    if (!picture_.isNull()) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(area, picture_);
    }
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0, 90, 220), 1));
    painter.drawRect(area.adjusted(0, 0, -1, -1));
    if (box_) {
        const double sx = double(area.width()) / frameSize_.width();
        const double sy = double(area.height()) / frameSize_.height();
        const QRectF scaled(area.left() + box_->x() * sx, area.top() + box_->y() * sy,
                            box_->width() * sx, box_->height() * sy);
        // Just outside the box, so the line never covers the graphic's edge.
        painter.setPen(QPen(QColor(255, 0, 160), 2));
        painter.drawRect(scaled.adjusted(-1, -1, 1, 1));
    }
}

TPreviewForm::TPreviewForm(std::unique_ptr<QTemporaryDir> folder,
                           std::optional<PreviewSource> source, const QString& error,
                           PreviewTexts texts, QWidget* parent)
    : QDialog(parent), folder_(std::move(folder)), texts_(std::move(texts)) {
    BuildControls();
    Begin(std::move(source), error);
}

TPreviewForm::TPreviewForm(std::unique_ptr<QTemporaryDir> folder, PreviewPreparation prepare,
                           PreviewTexts texts, QWidget* parent)
    : QDialog(parent), folder_(std::move(folder)), texts_(std::move(texts)) {
    BuildControls();
    timeslider->setEnabled(false);
    if (texts_.preparing) {
        statuslabel->setText(texts_.preparing(0));
    }
    // The work may take long (a release is read end to end): the dialog stays live, shows
    // how far it got, and ends it when closed.
    preparation_ = std::thread([this, prepare = std::move(prepare)] {
        TrackReadCallbacks callbacks;
        int shown = -1;
        callbacks.progress = [this, &shown](std::int64_t done, std::int64_t total) {
            const int percent =
                total > 0 ? static_cast<int>(std::clamp<std::int64_t>(done, 0, total) * 100 / total)
                          : 0;
            if (percent != shown) {
                shown = percent;
                QMetaObject::invokeMethod(
                    this,
                    [this, percent] {
                        if (!source_ && texts_.preparing) {
                            statuslabel->setText(texts_.preparing(percent));
                        }
                    },
                    Qt::QueuedConnection);
            }
        };
        callbacks.stop = [this] { return stopPreparation_.load(); };
        std::optional<PreviewSource> source;
        QString error;
        try {
            source = prepare(callbacks);
        } catch (const TrackReadStopped&) {
            return; // closed meanwhile
        } catch (const std::exception& e) {
            error = QString::fromStdString(e.what());
        }
        QMetaObject::invokeMethod(
            this,
            [this, source = std::move(source), error]() mutable {
                Begin(std::move(source), error);
            },
            Qt::QueuedConnection);
    });
}

void TPreviewForm::BuildControls() {
    setObjectName("PreviewForm");
    setWindowTitle(texts_.title);
    resize(800, 540);

    warnlabel = new QLabel(this);
    warnlabel->setObjectName("warnlabel");
    warnlabel->setWordWrap(true);
    warnlabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    warnlabel->setStyleSheet("color: rgb(150, 95, 0);");
    warnlabel->hide();
    colourlabel = new QLabel(texts_.colourNote, this);
    colourlabel->setObjectName("colourlabel");
    colourlabel->setWordWrap(true);
    colourlabel->setVisible(!texts_.colourNote.isEmpty());
    canvas = new TPreviewCanvas(this);
    canvas->setObjectName("canvas");
    timeslider = new QSlider(Qt::Horizontal, this);
    timeslider->setObjectName("timeslider");
    timelabel = new QLabel(this);
    timelabel->setObjectName("timelabel");
    statuslabel = new QLabel(this);
    statuslabel->setObjectName("statuslabel");
    statuslabel->setWordWrap(true);
    statuslabel->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(warnlabel);
    layout->addWidget(colourlabel);
    layout->addWidget(canvas, 1);
    auto* timeRow = new QHBoxLayout();
    timeRow->addWidget(timeslider, 1);
    timeRow->addWidget(timelabel);
    layout->addLayout(timeRow);
    layout->addWidget(statuslabel);

    process_ = new QProcess(this);
    debounce_ = new QTimer(this);
    debounce_->setSingleShot(true);
    debounce_->setInterval(kSliderRestMs);
    timeLimit_ = new QTimer(this);
    timeLimit_->setSingleShot(true);
    timeLimit_->setInterval(kRenderTimeLimitMs);
    connect(process_, &QProcess::finished, this, &TPreviewForm::RenderFinished);
    connect(process_, &QProcess::errorOccurred, this, [this](QProcess::ProcessError e) {
        if (e == QProcess::FailedToStart) {
            timeLimit_->stop();
            ShowFailure("cannot start \"" + process_->program() + "\": " + process_->errorString());
        }
    });
    connect(timeLimit_, &QTimer::timeout, this, [this] {
        timedOut_ = true;
        process_->kill();
    });
    connect(debounce_, &QTimer::timeout, this, [this] { Render(timeslider->value()); });
    connect(timeslider, &QSlider::valueChanged, this, &TPreviewForm::timesliderChange);
}

void TPreviewForm::Begin(std::optional<PreviewSource> source, const QString& error) {
    source_ = std::move(source);
    if (!source_) {
        timeslider->setEnabled(false);
        ShowFailure(error);
        return;
    }
    timeslider->setEnabled(true);
    statuslabel->clear();
    canvas->SetFrameSize(QSize(source_->frameWidth, source_->frameHeight));
    ShowWarnings({});
    {
        const QSignalBlocker block(timeslider);
        timeslider->setRange(0, source_->lengthFrames);
        timeslider->setValue(source_->startFrame);
        timeslider->setPageStep(
            std::max<int>(1, static_cast<int>(source_->rateNum / source_->rateDen)));
    }
    timelabel->setText(PreviewTimeText(timeslider->value(), source_->rateNum, source_->rateDen));
    Render(timeslider->value());
}

TPreviewForm::~TPreviewForm() {
    if (preparation_.joinable()) {
        stopPreparation_.store(true);
        preparation_.join();
    }
    // The renderer must not outlive the folder it writes into.
    if (process_->state() != QProcess::NotRunning) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(kRenderTimeLimitMs);
    }
}

void TPreviewForm::timesliderChange() {
    if (!source_) {
        return;
    }
    timelabel->setText(PreviewTimeText(timeslider->value(), source_->rateNum, source_->rateDen));
    debounce_->start();
}

void TPreviewForm::Render(int frame) {
    if (process_->state() != QProcess::NotRunning) {
        pendingFrame_ = frame; // drawn when the running one ends
        return;
    }
    pendingFrame_.reset();
    timedOut_ = false;
    // The middle of the frame, so rounding can never pick its neighbour.
    const double seconds = (frame + 0.5) * static_cast<double>(source_->rateDen) /
                           static_cast<double>(source_->rateNum);
    const QString picture = folder_->filePath(kPictureName);
    QFile::remove(picture); // an old picture must never pass for this one
    process_->setWorkingDirectory(Q(FolderOf(source_->scriptPath)));
    QStringList args{"-v",        Q(source_->formatLabel),          "-f", Q(source_->rateText),
                     "--preview", QString::number(seconds, 'f', 6), "-o", picture};
    if (!source_->charset.empty()) {
        args << "--charset" << Q(source_->charset);
    }
    process_->start(Q(source_->renderer), args << Q(source_->scriptPath));
    timeLimit_->start();
}

void TPreviewForm::RenderFinished() {
    timeLimit_->stop();
    const QString out = QString::fromUtf8(process_->readAllStandardOutput());
    const QString err = QString::fromUtf8(process_->readAllStandardError());
    std::vector<std::string> lines;
    QStringList complaints;
    bool usage = false; // the usage text after a complaint says nothing about this task
    for (const QString& line : err.split('\n', Qt::SkipEmptyParts)) {
        const QString text = line.trimmed();
        lines.push_back(text.toStdString());
        usage = usage || text.startsWith("usage:", Qt::CaseInsensitive);
        if (!usage && !text.isEmpty() && !text.startsWith(Q(std::string(kWarningPrefix)))) {
            complaints << text;
        }
    }
    QStringList warnings;
    for (const std::string& warning : WarningLines(lines, kMaxShownWarnings)) {
        warnings << Q(warning);
    }
    ShowWarnings(warnings);
    const auto box = ReadBoxLine(out);
    const QImage picture(folder_->filePath(kPictureName));
    if (timedOut_) {
        ShowFailure(QString("the renderer did not finish within %1 seconds")
                        .arg(kRenderTimeLimitMs / 1000));
    } else if (process_->exitStatus() != QProcess::NormalExit) {
        ShowFailure("the renderer crashed");
    } else if (process_->exitCode() != 0 || !box || picture.isNull()) {
        QString reason = complaints.join('\n');
        if (reason.isEmpty()) {
            reason =
                process_->exitCode() != 0
                    ? QString("the renderer ended with exit status %1").arg(process_->exitCode())
                    : QString("the renderer gave no picture and no box");
        }
        ShowFailure(reason);
    } else {
        canvas->SetPicture(picture, *box);
        statuslabel->setStyleSheet(QString());
        statuslabel->setText(*box ? QString() : texts_.nothingShown);
    }
    if (pendingFrame_) {
        Render(*pendingFrame_);
    }
}

void TPreviewForm::ShowFailure(const QString& reason) {
    canvas->ClearPicture();
    statuslabel->setStyleSheet("color: rgb(170, 0, 0);");
    statuslabel->setText(texts_.failed + "\n" + reason);
}

void TPreviewForm::ShowWarnings(const QStringList& rendererWarnings) {
    QStringList all;
    for (const std::string& warning : source_ ? source_->warnings : std::vector<std::string>{}) {
        all << Q(warning);
    }
    all << rendererWarnings;
    warnlabel->setText(all.join('\n'));
    warnlabel->setVisible(!all.isEmpty());
}

} // namespace pelldrin
