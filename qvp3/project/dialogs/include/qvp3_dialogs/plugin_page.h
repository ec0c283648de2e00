// The plug-in page of the settings dialog: which instruments of the plug-in
// catalogue are active, the plug-in folders and their scan, the sample
// player's block size and the VST volume. The page changes nothing while it
// is open: instruments that a scan finds or that the user removes, the
// folder list and every value wait for the dialog's OK (apply()).
//
// A scan runs on a thread of its own and probes every plug-in library below
// the folder in the probing helper, so a plug-in that crashes or hangs
// takes only the helper down; found libraries reach the page through its
// message target (WM_PLUGIN_SCAN_ITEM, then WM_PLUGIN_SCAN_DONE).
#pragma once

#include <QWidget>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "qvp3_audio/plugin_catalog.h"
#include "qvp3_audio/plugin_scan.h"
#include "qvp3_ui/qt_message_target.h"

class QComboBox;
class QLabel;
class QListView;
class QPushButton;
class QSlider;
class QStandardItemModel;

namespace qvp3 {

struct SettingsContext;

// The block sizes offered, in samples.
inline constexpr std::array<std::uint32_t, 9> kOfferedBlockSizes{2048, 2560, 3072, 3584, 4096, 4608, 5120, 5632, 6144};

// The volume trackbar's value (0..1000) as text: "10,00" at the top, else
// its three digits with a comma after the first ("0,75", "3,50").
QString prjVolumeText(int value);

class PlugInPage : public QWidget {
    Q_OBJECT
public:
    PlugInPage(SettingsContext& context, QWidget* parent = nullptr);
    ~PlugInPage() override;

    bool changed() const { return changed_; }
    bool scanning() const { return scanThread_.joinable(); }
    // Scanned instruments and removals into the catalogue, then the active
    // flags (when moved), block size and volume; the outputs come next.
    void applyInstruments(CPlugInCatalog& catalog);
    // The instruments' values, the sample-player number and the folder list;
    // then the plug-ins reload when instruments were moved.
    void applyValues(CPlugInCatalog& catalog);
    // Waits for a running scan to end (it is asked to stop).
    void stopScan();

    bool event(QEvent* event) override;

signals:
    void scanStateChanged(bool running);

private:
    struct PendingInstrument {
        std::filesystem::path path;
        std::string name;
    };

    void buildForm();
    QWidget* buildVstGroup();
    QWidget* buildVolume();
    void fillLists();
    void fillBlockSizes();
    void fillFolders();
    void move(bool toActive);
    void updateButtons();
    void onRemove();
    void onAddFolder();
    void onScan();
    void onScanItems();
    void onScanDone();
    void addScanned(const PlugInScanItem& item);
    bool listed(const QString& text) const;
    int selectedKind() const;
    void enableForScan(bool idle);
    void reloadPlugIns(CPlugInCatalog& catalog);

    SettingsContext& context_;
    bool changed_ = false;
    std::vector<PendingInstrument> pending_;  // found by scans, not yet in the catalogue
    std::vector<int> removed_;                // catalogue entries removed on OK
    QListView* inactive_ = nullptr;
    QListView* active_ = nullptr;
    QStandardItemModel* inactiveModel_ = nullptr;
    QStandardItemModel* activeModel_ = nullptr;
    QPushButton* toActive_ = nullptr;
    QPushButton* toInactive_ = nullptr;
    QPushButton* remove_ = nullptr;
    QPushButton* addFolder_ = nullptr;
    QPushButton* scan_ = nullptr;
    QComboBox* folders_ = nullptr;
    QLabel* status_ = nullptr;
    QComboBox* blockSize_ = nullptr;
    QSlider* volume_ = nullptr;
    QLabel* volumeText_ = nullptr;

    std::unique_ptr<qvp3ui::QtMessageTarget> target_;
    std::thread scanThread_;
    std::atomic<bool> stop_{false};
    std::mutex foundLock_;
    std::deque<PlugInScanItem> found_;
};

}  // namespace qvp3
