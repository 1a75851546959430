#include "app/TaskRowView.h"

#include "base/TextHelpers.h"
#include "base/VideoFormats.h"
#include "script/TaskScript.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace pelldrin {

namespace {

QString Q(const std::string& text) {
    return QString::fromStdString(text);
}

const QColor kFailedColour(170, 0, 0);
const QColor kWarnedColour(150, 95, 0);

} // namespace

RowTag TagOf(const std::string& taskLine) {
    try {
        std::int64_t formatIndex = -1;
        const VideoFormat* format = TryParseInt(TaskLineField(taskLine, FormatIndex), formatIndex)
                                        ? VideoFormatFor(formatIndex)
                                        : nullptr;
        const FrameRate* rate = FrameRateFor(TaskLineField(taskLine, RateIndex));
        if (format && rate) {
            return {Q(std::string(format->listText)), Q(std::string(rate->listText)),
                    IsDiscPair(*format, *rate)};
        }
    } catch (const TaskLineError&) {
    }
    return {};
}

void ShowTaskRow(QListWidgetItem* item, const TaskEntry& entry, const TaskRowTexts& texts) {
    const QString text = Q(RowText(entry));
    if (item->text() != text) {
        item->setText(text);
    }
    item->setData(kIdRole, QVariant::fromValue<qulonglong>(entry.id));
    const RowTag tag = TagOf(entry.taskLine);
    item->setData(kTagRole, tag.format.isEmpty() ? QString() : tag.format + "  " + tag.rate);
    item->setData(kTagWarnRole, !tag.discPair);

    QStringList tip{text};
    const QStyle* style = QApplication::style();
    switch (entry.state) {
    case TaskState::Failed:
        item->setIcon(style->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setForeground(kFailedColour);
        tip << Q(entry.failureReason);
        break;
    case TaskState::Converted:
        // Converted, so not converted again: the row stays so the warnings can be read.
        item->setIcon(style->standardIcon(QStyle::SP_MessageBoxInformation));
        item->setForeground(kWarnedColour);
        for (const std::string& warning : entry.warnings) {
            tip << Q(warning);
        }
        break;
    case TaskState::Stopped:
        tip << texts.stopped;
        [[fallthrough]];
    case TaskState::Queued:
    case TaskState::Running:
        item->setIcon(QIcon());
        item->setData(Qt::ForegroundRole, QVariant()); // the list's own text colour
        break;
    }
    if (!tag.discPair && texts.pairWarning) {
        tip << texts.pairWarning(tag.format, tag.rate);
    }
    item->setToolTip(tip.join('\n'));
}

// Narrow, so that a row is as wide as the list and the list never scrolls sideways.
QSize TaskRowDelegate::sizeHint(const QStyleOptionViewItem& option,
                                const QModelIndex& index) const {
    return {option.fontMetrics.height(), QStyledItemDelegate::sizeHint(option, index).height()};
}

void TaskRowDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                            const QModelIndex& index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString tag = index.data(kTagRole).toString();
    QStyle* style = opt.widget ? opt.widget->style() : QApplication::style();
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    const int tagWidth =
        tag.isEmpty() ? 0 : opt.fontMetrics.horizontalAdvance(tag) + opt.fontMetrics.height();
    opt.text = opt.fontMetrics.elidedText(opt.text, Qt::ElideLeft,
                                          std::max(0, textRect.width() - tagWidth));
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    if (tag.isEmpty()) {
        return;
    }
    painter->save();
    const bool selected = opt.state.testFlag(QStyle::State_Selected);
    QColor colour =
        opt.palette.color(selected ? QPalette::HighlightedText : QPalette::PlaceholderText);
    if (index.data(kTagWarnRole).toBool() && !selected) {
        colour = kFailedColour; // a pair discs do not use
    }
    painter->setPen(colour);
    painter->drawText(textRect.adjusted(0, 0, -3, 0), Qt::AlignRight | Qt::AlignVCenter, tag);
    painter->restore();
}

void TaskListWidget::setPlaceholderText(const QString& text) {
    placeholder_ = text;
    viewport()->update();
}

void TaskListWidget::paintEvent(QPaintEvent* event) {
    QListWidget::paintEvent(event);
    if (count() > 0 || placeholder_.isEmpty()) {
        return;
    }
    QPainter painter(viewport());
    painter.setPen(palette().color(QPalette::PlaceholderText));
    painter.drawText(viewport()->rect().adjusted(8, 8, -8, -8), Qt::AlignCenter | Qt::TextWordWrap,
                     placeholder_);
}

} // namespace pelldrin
