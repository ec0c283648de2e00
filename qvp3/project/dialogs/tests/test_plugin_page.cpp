// The plug-in page: its volume and block-size controls, and scans of a
// folder of our test plug-ins through the probing helper, a crashing one
// among them.
#include <QComboBox>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>

#include "qvp3_dialogs/plugin_page.h"
#include "settings_fixture.h"

namespace qvp3 {
namespace {

namespace fs = std::filesystem;

TEST(PlugInVolume, TextShowsTwoDecimalsWithAComma) {
    struct Case {
        int value;
        const char* text;
    };
    for (const Case c : {Case{1000, "10,00"}, Case{0, "0,00"}, Case{75, "0,75"}, Case{350, "3,50"}, Case{999, "9,99"}}) {
        EXPECT_EQ(prjVolumeText(c.value), c.text) << c.value;
    }
}

class PlugInPageTest : public testing::SettingsTest {
protected:
    platform::testing::TempFolder plugins;
    void SetUp() override {
        SettingsTest::SetUp();
        for (const char* name : {"synth", "gain", "crashes"}) {
            fs::copy_file(fs::path(QVP3_TEST_PLUGIN_DIR) / (std::string(name) + ".so"),
                          plugins.path() / (std::string(name) + ".so"));
        }
    }
    static QStringList rows(QWidget& page, int id) {
        QStringList texts;
        auto* model = control<QListView>(page, id)->model();
        for (int row = 0; row < model->rowCount(); ++row) texts << model->index(row, 0).data().toString();
        return texts;
    }
    // Starts a scan of the plug-in folder and lets it run to its end.
    void scan(SettingsDialog& dialog) {
        auto* folders = control<QComboBox>(dialog, 1032);
        folders->setEditText(QString::fromStdString(plugins.path().string()));
        click(dialog, 1034);
        EXPECT_TRUE(dialog.plugInPage()->scanning());
        EXPECT_EQ(control<QPushButton>(dialog, 1034)->text(), "S303");
        for (const int id : {1, 2, 1033, 1026, 1029}) EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
        for (int waited = 0; dialog.plugInPage()->scanning() && waited < 60000; waited += 20) {
            qvp3ui::testing::processEventsFor(20);
        }
        ASSERT_FALSE(dialog.plugInPage()->scanning()) << "the scan ended";
        EXPECT_EQ(control<QPushButton>(dialog, 1034)->text(), "S88");
        EXPECT_EQ(control<QLabel>(dialog, 1035)->text(), "S93");
        EXPECT_TRUE(control(dialog, 1)->isEnabled());
    }
};

TEST_F(PlugInPageTest, AScanAddsTheInstrumentOnceMarksTheCrashingOneAndStoresOnlyOnOk) {
    const auto valuesBefore = testing::programValues(store);
    {
        SettingsDialog dialog(context());
        dialog.tabs()->setCurrentIndex(1);
        scan(dialog);
        const QStringList found = rows(dialog, 1026);
        ASSERT_EQ(found.size(), 1) << "the effect and the crashing plug-in are no instruments: " << found.join(", ").toStdString();
        EXPECT_TRUE(found[0].startsWith("[VST]qvp3 tests: ")) << found[0].toStdString();
        scan(dialog);
        EXPECT_EQ(rows(dialog, 1026).size(), 1) << "a second scan adds no duplicate";
        CPlugInProbeCache cache(store);
        ASSERT_TRUE(cache.Lookup(plugins.path() / "crashes.so").has_value());
        EXPECT_EQ(cache.Lookup(plugins.path() / "crashes.so")->status, PlugInProbeStatus::Crashed);
        click(dialog, 2);
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    EXPECT_TRUE(catalog().instruments.empty()) << "Cancel adds nothing";
    EXPECT_EQ(testing::programValues(store), valuesBefore) << "nor stores the folder";

    SettingsDialog dialog(context());
    dialog.tabs()->setCurrentIndex(1);
    scan(dialog);
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), 1);
    ASSERT_EQ(catalog().instruments.size(), 1u);
    const PlugInEntry& entry = catalog().instruments[0];
    EXPECT_EQ(entry.path, plugins.path() / "synth.so");
    EXPECT_EQ(entry.enabled, 0u) << "found instruments start inactive";
    const auto values = testing::programValues(store);
    EXPECT_EQ(values.at(entry.name), "0|" + entry.path.string());
    EXPECT_EQ(values.at("SamplePlayerVSTFolder"), plugins.path().string());
}

TEST_F(PlugInPageTest, AnEmptyOrMissingFolderIsNotScanned) {
    SettingsDialog dialog(context());
    auto* folders = control<QComboBox>(dialog, 1032);
    for (const std::string& folder : {std::string(), (plugins.path() / "nowhere").string()}) {
        folders->setEditText(QString::fromStdString(folder));
        click(dialog, 1034);
        EXPECT_FALSE(dialog.plugInPage()->scanning()) << folder;
    }
    EXPECT_EQ(boxIds(), (std::vector<int>{302, 302}));
    EXPECT_EQ(folders->count(), 0) << "a missing folder is not listed";
}

TEST_F(PlugInPageTest, ADialogGoingAwayDuringAScanWaitsForItsThread) {
    fs::copy_file(fs::path(QVP3_TEST_PLUGIN_DIR) / "hangs.so", plugins.path() / "hangs.so");
    SettingsContext c = context();
    c.probeTimeout = std::chrono::milliseconds(1500);
    const auto started = std::chrono::steady_clock::now();
    {
        SettingsDialog dialog(c);
        control<QComboBox>(dialog, 1032)->setEditText(QString::fromStdString(plugins.path().string()));
        click(dialog, 1034);
        ASSERT_TRUE(dialog.plugInPage()->scanning());
        qvp3ui::testing::processEventsFor(100);
        click(dialog, 2);
        EXPECT_TRUE(dialog.plugInPage()->scanning()) << "Cancel is refused while the scan runs";
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_TRUE(catalog().instruments.empty());
}

TEST_F(PlugInPageTest, RemovingWaitsForOkAndTheSampleLibraryStays) {
    ASSERT_EQ(catalog().AddInstrument(plugins.path() / "synth.so", false, "[VST]qvp3 tests: qvp3 synth"), 0u);
    ASSERT_EQ(catalog().AddInstrument(plugins.path() / "x.so", false, kSampleLibraryName), 0u);
    ASSERT_EQ(catalog().AddInstrument(plugins.path() / "y.so", false, "[VST]Maker: Old"), 0u);
    SettingsDialog dialog(context());
    auto* inactive = control<QListView>(dialog, 1026);
    const auto choose = [&](int row) { inactive->setCurrentIndex(inactive->model()->index(row, 0)); };
    choose(1);
    click(dialog, 1036);
    EXPECT_EQ(boxIds(), (std::vector<int>{0, 94})) << "asked, then refused: the sample library is the program's";
    EXPECT_EQ(boxes[0].checkKey, "{08C2DAF1-ADA5-4677-9612-3B21DFFF5537}");
    choose(2);
    click(dialog, 1036);
    EXPECT_EQ(rows(dialog, 1026).size(), 2);
    EXPECT_EQ(catalog().instruments.size(), 3u) << "nothing removed before OK";
    click(dialog, 1);
    ASSERT_EQ(dialog.result(), 1);
    ASSERT_EQ(catalog().instruments.size(), 2u);
    EXPECT_EQ(catalog().instruments[1].name, kSampleLibraryName);
    EXPECT_EQ(testing::programValues(store).count("[VST]Maker: Old"), 0u);
}

TEST_F(PlugInPageTest, BlockSizeVolumeAndAnOpenProject) {
    catalog().blockSize = 3000;  // stored by hand: not one of the offered sizes
    catalog().vstVolume = 3.5f;
    {
        SettingsDialog dialog(context());
        EXPECT_EQ(control<QComboBox>(dialog, 1039)->count(), 9);
        EXPECT_EQ(control<QComboBox>(dialog, 1039)->currentIndex(), -1);
        EXPECT_EQ(control<QSlider>(dialog, 1041)->value(), 350);
        EXPECT_EQ(control<QLabel>(dialog, 1042)->text(), "3,50");
        control<QSlider>(dialog, 1041)->setValue(1000);
        EXPECT_EQ(control<QLabel>(dialog, 1042)->text(), "10,00");
        click(dialog, 1);
    }
    EXPECT_EQ(catalog().blockSize, 3072u) << "the nearest offered size";
    EXPECT_FLOAT_EQ(catalog().vstVolume, 10.0f);
    projectOpen = true;
    ASSERT_EQ(catalog().AddInstrument(plugins.path() / "synth.so", false, "[VST]qvp3 tests: qvp3 synth"), 0u);
    SettingsDialog dialog(context());
    for (const int id : {1026, 1029, 1027, 1028, 1034, 1036}) EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
    for (const int id : {1043, 1046, 1044, 1045, 1047}) EXPECT_FALSE(control(dialog, id)->isEnabled()) << id;
}

}  // namespace
}  // namespace qvp3
