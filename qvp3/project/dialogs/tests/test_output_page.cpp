// The audio-output page: PCM devices and JACK servers moved between the
// lists, stored only on OK, and the JACK server's settings opened in its
// control program (a stand-in of ours on the PATH) while a dummy server runs.
#include <QListView>
#include <QTabWidget>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

#include "dummy_jack_server.h"
#include "qvp3_dialogs/output_page.h"
#include "qvp3_dialogs/jack_control.h"
#include "settings_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

// Sets an environment variable for a test's lifetime.
class EnvGuard {
public:
    EnvGuard(const char* name, const std::string& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~EnvGuard() {
        if (old_) ::setenv(name_, old_->c_str(), 1);
        else ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

class OutputPageTest : public testing::SettingsTest {
protected:
    static QStringList rows(QWidget& root, int id) {
        QStringList texts;
        auto* model = control<QListView>(root, id)->model();
        for (int row = 0; row < model->rowCount(); ++row) texts << model->index(row, 0).data().toString();
        return texts;
    }
    static void choose(QWidget& root, int id, const QString& text) {
        auto* view = control<QListView>(root, id);
        const auto found = view->model()->match(view->model()->index(0, 0), Qt::DisplayRole, text, 1, Qt::MatchExactly);
        ASSERT_FALSE(found.isEmpty()) << text.toStdString();
        view->setCurrentIndex(found.first());
    }
};

TEST_F(OutputPageTest, EveryOutputOffLeavesTheServerButtonOffAndIsStoredOnOk) {
    SettingsDialog dialog(context());
    dialog.tabs()->setCurrentIndex(2);
    EXPECT_EQ(rows(dialog, 1046), QStringList{"hw:CARD=One"}) << "the system's default device is never listed";
    EXPECT_EQ(rows(dialog, 1043), QStringList{"hw:CARD=Two"});
    EXPECT_FALSE(control(dialog, 1047)->isEnabled()) << "a PCM device has no server settings";
    click(dialog, 1045);
    EXPECT_TRUE(rows(dialog, 1046).isEmpty());
    EXPECT_FALSE(control(dialog, 1045)->isEnabled());
    EXPECT_FALSE(control(dialog, 1047)->isEnabled());
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), 1);
    EXPECT_FALSE(outputs->IsAudioOutEnabled(1));
    EXPECT_FALSE(outputs->IsAudioOutEnabled(2));
    const auto values = testing::programValues(store);
    EXPECT_EQ(values.at("hw:CARD=One"), "0");
    EXPECT_EQ(values.at("hw:CARD=Two"), "0");
}

TEST_F(OutputPageTest, TheDummyServerIsListedAndItsSettingsOpenInTheControlProgram) {
    qvp3::testing::DummyJackServer server("dlg-out");  // short: longer driver names are cut
    if (const std::string why = server.start(); !why.empty()) GTEST_SKIP() << "no dummy JACK server: " << why;
    EnvGuard named("JACK_DEFAULT_SERVER", server.name());
    makeOutputs(std::make_unique<CSpecAsioHost>());
    platform::testing::TempFolder bin;
    const fs::path marker = bin.path() / "opened";
    const fs::path program = bin.path() / kJackControlProgramName;
    std::ofstream(program) << "#!/bin/sh\necho \"$JACK_DEFAULT_SERVER\" > '" << marker.string() << "'\n";
    fs::permissions(program, fs::perms::owner_all);
    EnvGuard path("PATH", bin.path().string() + ":/usr/bin:/bin");

    SettingsDialog dialog(context());
    dialog.tabs()->setCurrentIndex(2);
    const QString dummy = QString::fromStdString("ASIO: JACK (" + server.name() + ")");
    ASSERT_TRUE(rows(dialog, 1046).contains(dummy)) << rows(dialog, 1046).join(", ").toStdString();
    choose(dialog, 1046, "hw:CARD=One");
    EXPECT_FALSE(control(dialog, 1047)->isEnabled());
    choose(dialog, 1046, dummy);
    EXPECT_TRUE(control(dialog, 1047)->isEnabled());
    click(dialog, 1047);
    for (int waited = 0; !fs::exists(marker) && waited < 5000; waited += 20) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string opened;
    std::getline(std::ifstream(marker), opened);
    EXPECT_EQ(opened, server.name()) << "the control program was started for the dummy server";
    EXPECT_FALSE(outputs->asioHost->IsOpen()) << "the server was let go again";
    EXPECT_TRUE(boxes.empty());

    // Without a control program the page says so.
    fs::remove(program);
    click(dialog, 1047);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "S61001");
    click(dialog, 2);
}

}  // namespace
}  // namespace qvp3
