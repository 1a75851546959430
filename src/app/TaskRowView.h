// How the task list shows its rows: each row's text, marks and tooltip from its entry, the
// format and rate drawn at the row's right end, and the empty list's hint.
#pragma once

#include "batch/TaskQueue.h"

#include <QListWidget>
#include <QString>
#include <QStyledItemDelegate>

#include <functional>

class QListWidgetItem;

namespace pelldrin {

// What a task row keeps besides its text.
enum TaskRowRole : int {
    kIdRole = Qt::UserRole, // the task's queue id
    kTagRole,               // the format and rate drawn at the right end (QString)
    kTagWarnRole,           // true when discs do not use that format at that rate
};

// The texts a row's tooltip may add, in the window's language.
struct TaskRowTexts {
    QString stopped;                                                    // a stopped row's note
    std::function<QString(const QString&, const QString&)> pairWarning; // format, rate
};

// The format and rate of a TaskLine as the lists name them, and whether discs use the
// pair; an empty tag when the line names no known format or rate.
struct RowTag {
    QString format;
    QString rate;
    bool discPair = true;
};
RowTag TagOf(const std::string& taskLine);

// Puts the entry onto its row: text, icon, colour, tooltip and tag.
void ShowTaskRow(QListWidgetItem* item, const TaskEntry& entry, const TaskRowTexts& texts);

// Draws a row: the path, cut at its left where the row is too narrow (the file's name is
// what tells rows apart), and the task's format and rate at the row's right end.
class TaskRowDelegate : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
};

// The task list: shows a hint where it has no rows.
class TaskListWidget : public QListWidget {
    Q_OBJECT

  public:
    using QListWidget::QListWidget;
    void setPlaceholderText(const QString& text);
    QString placeholderText() const { return placeholder_; }

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    QString placeholder_;
};

} // namespace pelldrin
