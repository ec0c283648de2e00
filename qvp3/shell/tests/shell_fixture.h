// A program folder with the language tables, an application record and its
// main window, for the shell's tests; message boxes and file choosers are
// answered by the test and logged.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <vector>

#include "qvp3_shell/app_state.h"
#include "qvp3_shell/choosers.h"
#include "qvp3_shell/main_window.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

class ShellFixture : public ::testing::Test {
protected:
    // language: the table to load; -1 the "S<N>" test table.
    void SetUp() override { makeApp(6); }
    void TearDown() override;
    void makeApp(int language);
    MainWindow& window() { return *window_; }
    AppState& app() { return *g_appState; }

    // Every box shown, and the answer the next question gets.
    std::vector<qvp3ui::BoxRequest> boxes;
    int nextAnswer = kIdYes;
    // The files the next chooser gives.
    std::vector<std::filesystem::path> chooserAnswer;
    std::vector<FileDialogRequest> choosers;

    std::filesystem::path home;  // a fresh folder of this test
    std::unique_ptr<MainWindow> window_;
};

}  // namespace qvp3
