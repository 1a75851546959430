// Message boxes, the folder chooser and the file manager behind one small interface, so
// that the window's tests can answer them.
#pragma once

#include <QPointer>

#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace pelldrin {

class IDialogs {
  public:
    virtual ~IDialogs() = default;
    // A refusal or failure, with an error icon.
    virtual void ShowError(const std::string& text, const std::string& caption) = 0;
    // A notice, with an information icon.
    virtual void ShowInfo(const std::string& text, const std::string& caption) = 0;
    // A question with Yes and No, No the default; true on Yes.
    virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
    // Closes every question still open as if answered No: what it asked about is over.
    virtual void CloseQuestions() = 0;
    // The folder chooser, opened at initialFolder; empty when cancelled.
    virtual std::string ChooseFolder(const std::string& initialFolder,
                                     const std::string& title) = 0;
    // Shows the folder in the platform's file manager; false when that cannot be done.
    virtual bool OpenFolder(const std::string& folder) = 0;
    // The file chooser for several files at once, opened at initialFolder and showing the
    // files that filter names ("Subtitles (*.ass *.srt)"); empty when cancelled.
    virtual std::vector<std::string> ChooseFiles(const std::string& initialFolder,
                                                 const std::string& title,
                                                 const std::string& filter) = 0;
};

// The real dialogs, owned by a parent window.
class QtDialogs : public IDialogs {
  public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}
    void ShowError(const std::string& text, const std::string& caption) override;
    void ShowInfo(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void CloseQuestions() override;
    std::string ChooseFolder(const std::string& initialFolder, const std::string& title) override;
    bool OpenFolder(const std::string& folder) override;
    std::vector<std::string> ChooseFiles(const std::string& initialFolder, const std::string& title,
                                         const std::string& filter) override;

  private:
    QWidget* parent_;
    std::vector<QPointer<QMessageBox>> questions_; // open ones, the latest last
};

} // namespace pelldrin
