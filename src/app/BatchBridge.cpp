// The bridge from the batch worker to the window: every report is queued onto the window's
// thread, and the worker never waits for the window.
#include "app/MainForm.h"

#include "app/TaskRowView.h"

#include <QListWidget>
#include <QProgressBar>
#include <QThread>

#include <algorithm>

namespace pelldrin {

class TMainform::Host : public IBatchHost {
  public:
    explicit Host(TMainform& form) : form_(form) {}

    void SetTotalProgress(int position, int maximum) override {
        Post([this, position, maximum] {
            form_.progbar->setMaximum(std::max(maximum, 1));
            form_.progbar->setValue(position);
        });
    }
    void SetCurrentProgress(int position, int maximum) override {
        // A converter may print thousands of progress lines a second: keep the
        // latest value and post at most one update at a time.
        currentPosition_.store(position);
        currentMaximum_.store(maximum);
        if (currentPending_.exchange(true)) {
            return;
        }
        Post([this] {
            currentPending_.store(false);
            const int maximum = std::max(currentMaximum_.load(), 1);
            form_.cprogbar->setMaximum(maximum);
            form_.cprogbar->setValue(std::clamp(currentPosition_.load(), 0, maximum));
        });
    }
    // The rows follow the queue's own changes; these only keep the running row in view.
    void TaskStarted(std::uint64_t id) override {
        Post([this, id] {
            form_.FlushModel();
            if (auto* item = form_.RowOf(id)) {
                form_.tasklist->scrollToItem(item);
            }
        });
    }
    void TaskFinished(std::uint64_t) override {
        Post([this] { form_.FlushModel(); });
    }
    void TaskFinishedWithWarnings(std::uint64_t, const std::vector<std::string>&) override {
        Post([this] { form_.FlushModel(); });
    }
    void TaskFailed(std::uint64_t, const std::string&) override {
        Post([this] { form_.FlushModel(); });
    }
    void PriorityRefused(const std::string& message) override {
        // The runner's text is fixed; the line below it is in the user's language.
        Post([this, message] { form_.ShowRunMessage(message + "\n" + form_.Msg("C019")); });
    }
    void RunStateChanged(bool running) override {
        Post([this, running] {
            form_.FlushModel();
            form_.SetRunning(running);
        });
    }
    void RunMessage(const std::string& message) override {
        Post([this, message] { form_.ShowRunMessage(message); });
    }

  private:
    template <typename F> void Post(F&& f) {
        if (QThread::currentThread() == form_.thread()) {
            f();
        } else {
            QMetaObject::invokeMethod(&form_, std::forward<F>(f), Qt::QueuedConnection);
        }
    }
    TMainform& form_;
    std::atomic<int> currentPosition_{0};
    std::atomic<int> currentMaximum_{1};
    std::atomic<bool> currentPending_{false};
};

std::unique_ptr<IBatchHost> TMainform::MakeHost() {
    return std::make_unique<Host>(*this);
}

} // namespace pelldrin
