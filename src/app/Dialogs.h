// Message boxes and the folder chooser behind one small interface, so that the
// window's tests can answer them.
#pragma once

#include <string>

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
    // The folder chooser, opened at initialFolder; empty when cancelled.
    virtual std::string ChooseFolder(const std::string& initialFolder,
                                     const std::string& title) = 0;
};

// The real dialogs, owned by a parent window.
class QtDialogs : public IDialogs {
  public:
    explicit QtDialogs(QWidget* parent) : parent_(parent) {}
    void ShowError(const std::string& text, const std::string& caption) override;
    void ShowInfo(const std::string& text, const std::string& caption) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    std::string ChooseFolder(const std::string& initialFolder, const std::string& title) override;

  private:
    QWidget* parent_;
};

} // namespace pelldrin
