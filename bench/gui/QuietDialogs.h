// The window's dialogs for the benchmarks: nothing is shown; errors go to standard error,
// notices are counted, questions are answered No and the track question as it opens.
#pragma once

#include "app/Dialogs.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

class QuietDialogs : public pelldrin::IDialogs {
  public:
    void ShowError(const std::string& text, const std::string&) override {
        std::fprintf(stderr, "error: %s\n", text.c_str());
    }
    void ShowInfo(const std::string&, const std::string&) override { ++notices; }
    bool AskYesNo(const std::string&, const std::string&) override { return false; }
    std::string ChooseFolder(const std::string&, const std::string&) override { return {}; }
    void CloseQuestions() override {}
    bool OpenFolder(const std::string&) override { return false; }
    std::vector<std::string> ChooseFiles(const std::string&, const std::string&,
                                         const std::string&) override {
        return {};
    }
    std::vector<std::int64_t> ChooseTracks(const pelldrin::TrackChoice& choice) override {
        return pelldrin::CheckedAtOpening(choice);
    }
    int notices = 0; // the run's end is one
};
