// Message boxes, the folder chooser and the file manager behind one small interface, so
// that the window's tests can answer them.
#pragma once

#include <QPointer>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class QMessageBox;
class QWidget;

namespace pelldrin {

// A subtitle track as the track dialog lists it.
struct TrackChoiceRow {
    std::int64_t number = 0;
    std::string language;
    std::string name;
    std::string codec;
    bool isDefault = false;
    bool isForced = false;
    bool convertible = true; // false: a picture track, listed but never checked
    bool checked = false;    // as the dialog opens
};

// What the track dialog shows, in the window's language.
struct TrackChoice {
    std::string title;                // names the release whose tracks are listed
    std::string intro;                // what to do, and whom else the choice serves
    std::vector<std::string> headers; // number, language, name, codec, flags
    std::string defaultFlag;          // the flags' words
    std::string forcedFlag;
    std::string notConvertible; // a picture track's note
    std::vector<TrackChoiceRow> rows;
    // The dropped files the checked tracks cannot serve, as the line above their names would
    // say it (empty when every file is served); asked again whenever the checks change.
    std::function<std::string(const std::vector<std::int64_t>& checked)> unmatched;
};

// The numbers of the rows checked as the dialog opens: what accepting it at once gives.
std::vector<std::int64_t> CheckedAtOpening(const TrackChoice& choice);

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
    // The track dialog: the numbers of the tracks checked when it was accepted; empty when
    // cancelled or when none was checked.
    virtual std::vector<std::int64_t> ChooseTracks(const TrackChoice& choice) = 0;
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
    std::vector<std::int64_t> ChooseTracks(const TrackChoice& choice) override;

  private:
    QWidget* parent_;
    std::vector<QPointer<QMessageBox>> questions_; // open ones, the latest last
};

} // namespace pelldrin
