#include "qvp3_dialogs/plugin_page.h"

#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QSlider>
#include <QStandardItemModel>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "platform/text.h"
#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_dialogs/settings_dialog.h"
#include "qvp3_project/neighbours.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace fs = std::filesystem;

namespace {

constexpr int kStrInactiveColumn = 60234;
constexpr int kStrActiveColumn = 60235;
constexpr int kStrVstGroup = 86;
constexpr int kStrStartFolder = 87;
constexpr int kStrRemove = 89;
constexpr int kStrScan = 88;
constexpr int kStrStopScan = 303;
constexpr int kStrScanLabel = 91;
constexpr int kStrScanIdle = 93;
constexpr int kStrBlockSize = 84;
constexpr int kStrVolume = 83;
constexpr int kStrAddFolderTitle = 92;
constexpr int kStrNoFolderChosen = 61;
constexpr int kStrNoScanFolder = 302;
constexpr int kStrCannotAdd = 242;
constexpr int kStrCannotRemove = 94;
constexpr int kStrRemoveQuestion = 60236;
constexpr const char* kRemoveQuestionKey = "{08C2DAF1-ADA5-4677-9612-3B21DFFF5537}";
constexpr int kImageScanned = 9;
constexpr int kVolumeTop = 1000;
constexpr int kEntryRole = Qt::UserRole + 1;    // catalogue index; -1 for a scanned one
constexpr int kPendingRole = Qt::UserRole + 3;  // index into the scanned ones; -1 for a catalogue entry
constexpr int kKindRole = Qt::UserRole + 4;
constexpr int kImageRole = Qt::UserRole + 2;

QStandardItem* rowItem(const QString& text, int image, int entry, int pending, int kind) {
    auto* item = new QStandardItem(text);
    item->setEditable(false);
    item->setData(image, kImageRole);
    item->setData(entry, kEntryRole);
    item->setData(pending, kPendingRole);
    item->setData(kind, kKindRole);
    return item;
}

// One list of the page: a view over its model with a one-column caption.
QListView* listView(QWidget* parent, int id, QStandardItemModel*& model) {
    auto* view = dlg::makeControl<QListView>(parent, id);
    model = new QStandardItemModel(parent);
    view->setModel(model);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setMinimumSize(230, 150);
    return view;
}

void selectFirst(QListView& view) {
    if (view.model()->rowCount() > 0) view.setCurrentIndex(view.model()->index(0, 0));
}

bool isSampleLibrary(const std::string& name) {
    return platform::equalsNoCase(name, kSampleLibraryShortName) || platform::equalsNoCase(name, kSampleLibraryName);
}

}  // namespace

QString prjVolumeText(int value) {
    if (value >= kVolumeTop) return QStringLiteral("10,00");
    const QString digits = QStringLiteral("%1").arg(std::max(value, 0), 3, 10, QLatin1Char('0'));
    return digits.left(1) + QLatin1Char(',') + digits.mid(1);
}

PlugInPage::PlugInPage(SettingsContext& context, QWidget* parent)
    : QWidget(parent), context_(context),
      target_(std::make_unique<qvp3ui::QtMessageTarget>(this, [this](platform::MessageId msg, platform::WParam, platform::LParam) {
          if (msg == platform::WM_PLUGIN_SCAN_ITEM) onScanItems();
          if (msg == platform::WM_PLUGIN_SCAN_DONE) onScanDone();
          return platform::LResult{0};
      })) {
    buildForm();
    fillLists();
    fillBlockSizes();
    fillFolders();
    const int value = static_cast<int>(std::lround(context_.outputs.catalog->vstVolume * 100.0f));
    volume_->setValue(std::clamp(value, 0, kVolumeTop));
    volumeText_->setText(prjVolumeText(volume_->value()));
    updateButtons();
}

PlugInPage::~PlugInPage() {
    target_->close();
    stopScan();
}

void PlugInPage::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    auto* layout = new QGridLayout(this);
    inactive_ = listView(this, 1026, inactiveModel_);
    active_ = listView(this, 1029, activeModel_);
    inactiveModel_->setHorizontalHeaderLabels({text(kStrInactiveColumn)});
    activeModel_->setHorizontalHeaderLabels({text(kStrActiveColumn)});
    auto* inactiveBox = new QVBoxLayout;
    inactiveBox->addWidget(new QLabel(text(kStrInactiveColumn), this));
    inactiveBox->addWidget(inactive_);
    auto* activeBox = new QVBoxLayout;
    activeBox->addWidget(new QLabel(text(kStrActiveColumn), this));
    activeBox->addWidget(active_);
    auto* moves = new QVBoxLayout;
    toActive_ = makeControl<QPushButton>(this, 1027, QStringLiteral(">>"));
    toInactive_ = makeControl<QPushButton>(this, 1028, QStringLiteral("<<"));
    moves->addStretch();
    moves->addWidget(toActive_);
    moves->addWidget(toInactive_);
    moves->addStretch();
    layout->addLayout(inactiveBox, 0, 0);
    layout->addLayout(moves, 0, 1);
    layout->addLayout(activeBox, 0, 2);

    layout->addWidget(buildVstGroup(), 1, 0, 1, 3);

    layout->addWidget(buildVolume(), 0, 3, 2, 1);

    connect(toActive_, &QPushButton::clicked, this, [this] { move(true); });
    connect(toInactive_, &QPushButton::clicked, this, [this] { move(false); });
    connect(inactive_, &QListView::doubleClicked, this, [this] { move(true); });
    connect(active_, &QListView::doubleClicked, this, [this] { move(false); });
    connect(inactive_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { updateButtons(); });
    connect(remove_, &QPushButton::clicked, this, &PlugInPage::onRemove);
    connect(addFolder_, &QPushButton::clicked, this, &PlugInPage::onAddFolder);
    connect(scan_, &QPushButton::clicked, this, &PlugInPage::onScan);
    connect(volume_, &QSlider::valueChanged, this, [this](int value) { volumeText_->setText(prjVolumeText(value)); });
}

QWidget* PlugInPage::buildVstGroup() {
    using dlg::makeControl;
    using dlg::text;
    auto* vst = makeControl<QGroupBox>(this, 1030, text(kStrVstGroup));
    auto* vstLayout = new QGridLayout(vst);
    vstLayout->addWidget(makeControl<QLabel>(vst, 1031, text(kStrStartFolder)), 0, 0);
    folders_ = makeControl<QComboBox>(vst, 1032);
    folders_->setEditable(true);
    folders_->setMinimumWidth(260);
    vstLayout->addWidget(folders_, 0, 1);
    addFolder_ = makeControl<QPushButton>(vst, 1033, QStringLiteral("..."));
    vstLayout->addWidget(addFolder_, 0, 2);
    remove_ = makeControl<QPushButton>(vst, 1036, text(kStrRemove));
    scan_ = makeControl<QPushButton>(vst, 1034, text(kStrScan));
    vstLayout->addWidget(remove_, 1, 0);
    vstLayout->addWidget(scan_, 1, 2);
    vstLayout->addWidget(makeControl<QLabel>(vst, 1037, text(kStrScanLabel)), 2, 0);
    status_ = makeControl<QLabel>(vst, 1035, text(kStrScanIdle));
    dlg::setTextColour(*status_, 0, 0, 0, true);
    status_->setMinimumWidth(260);
    vstLayout->addWidget(status_, 2, 1, 1, 2);
    vstLayout->addWidget(makeControl<QLabel>(vst, 1038, text(kStrBlockSize)), 3, 0);
    blockSize_ = makeControl<QComboBox>(vst, 1039);
    vstLayout->addWidget(blockSize_, 3, 1);
    return vst;
}

QWidget* PlugInPage::buildVolume() {
    using dlg::makeControl;
    using dlg::text;
    auto* volume = makeControl<QGroupBox>(this, 1040, text(kStrVolume));
    auto* volumeLayout = new QVBoxLayout(volume);
    volume_ = makeControl<QSlider>(volume, 1041, Qt::Vertical);
    volume_->setRange(0, kVolumeTop);
    volume_->setTickInterval(100);
    volume_->setTickPosition(QSlider::TicksBothSides);
    volumeText_ = makeControl<QLabel>(volume, 1042);
    volumeLayout->addWidget(volume_, 1, Qt::AlignHCenter);
    volumeLayout->addWidget(volumeText_, 0, Qt::AlignHCenter);
    return volume;
}

void PlugInPage::fillLists() {
    const CPlugInCatalog& catalog = *context_.outputs.catalog;
    for (const bool enabledOnes : {false, true}) {
        QStandardItemModel& model = enabledOnes ? *activeModel_ : *inactiveModel_;
        for (const CatalogListItem& item : catalog.FillInstrumentList(enabledOnes).items) {
            const int kind = catalog.instruments[static_cast<std::size_t>(item.data)].kind;
            model.appendRow(rowItem(QString::fromStdString(item.text), item.image, item.data, -1, kind));
        }
    }
    selectFirst(*inactive_);
    selectFirst(*active_);
}

void PlugInPage::fillBlockSizes() {
    const std::uint32_t current = context_.outputs.catalog->blockSize;
    for (const std::uint32_t size : kOfferedBlockSizes) blockSize_->addItem(QString::number(size), size);
    blockSize_->setCurrentIndex(blockSize_->findData(current));
}

void PlugInPage::fillFolders() {
    const QString stored = QString::fromStdString(context_.outputs.catalog->ReadVstFolder());
    for (const QString& folder : stored.split(QLatin1Char('|'), Qt::SkipEmptyParts)) {
        std::error_code ec;
        if (fs::is_directory(folder.toStdString(), ec)) folders_->addItem(folder);
    }
    if (folders_->count() > 0) folders_->setCurrentIndex(0);
}

int PlugInPage::selectedKind() const {
    const QModelIndex index = inactive_->currentIndex();
    return index.isValid() ? index.data(kKindRole).toInt() : 0;
}

void PlugInPage::updateButtons() {
    const bool idle = !scanning() && !context_.projectOpen;
    toActive_->setEnabled(idle && inactiveModel_->rowCount() > 0);
    toInactive_->setEnabled(idle && activeModel_->rowCount() > 0);
    remove_->setEnabled(idle && selectedKind() == kPlugInKindVst);
    scan_->setEnabled(!context_.projectOpen);
    inactive_->setEnabled(idle);
    active_->setEnabled(idle);
    addFolder_->setEnabled(!scanning());
}

void PlugInPage::move(bool toActive) {
    if (scanning() || context_.projectOpen) return;
    QListView& source = toActive ? *inactive_ : *active_;
    QStandardItemModel& from = toActive ? *inactiveModel_ : *activeModel_;
    QStandardItemModel& to = toActive ? *activeModel_ : *inactiveModel_;
    QModelIndex index = source.currentIndex();
    if (!index.isValid()) {
        const QModelIndexList selected = source.selectionModel()->selectedIndexes();
        if (selected.isEmpty()) return;
        index = selected.first();
    }
    to.appendRow(from.takeRow(index.row()));
    selectFirst(toActive ? *active_ : *inactive_);
    changed_ = true;
    updateButtons();
}

bool PlugInPage::listed(const QString& text) const {
    for (const QStandardItemModel* model : {inactiveModel_, activeModel_}) {
        if (!model->findItems(text, Qt::MatchExactly).isEmpty()) return true;
    }
    return false;
}

void PlugInPage::onRemove() {
    const QModelIndex index = inactive_->currentIndex();
    if (!index.isValid() || index.data(kKindRole).toInt() != kPlugInKindVst) return;
    const std::string question = qvp3ui::uiString(kStrRemoveQuestion);
    if (qvp3ui::appMessageBoxCheck(question, kMbYesNo, kIdYes, kRemoveQuestionKey) != kIdYes) return;
    const std::string name = index.data().toString().toStdString();
    if (index.data(kKindRole).toInt() == kPlugInKindDirectX || isSampleLibrary(name)) {
        qvp3ui::appInfoBox(kStrCannotRemove);
        return;
    }
    const int entry = index.data(kEntryRole).toInt();
    if (entry >= 0) {
        removed_.push_back(entry);
    } else {
        pending_[static_cast<std::size_t>(index.data(kPendingRole).toInt())].path.clear();  // never added
    }
    inactiveModel_->removeRow(index.row());
    selectFirst(*inactive_);
    updateButtons();
}

void PlugInPage::onAddFolder() {
    const auto chosen = dlg::browseForFolder(this, dlg::text(kStrAddFolderTitle), folders_->currentText().toStdString());
    if (!chosen) return;
    if (chosen->empty()) {
        qvp3ui::appWarningBox(kStrNoFolderChosen);
        return;
    }
    folders_->addItem(QString::fromStdString(chosen->string()));
    folders_->setCurrentIndex(folders_->count() - 1);
}

void PlugInPage::enableForScan(bool idle) {
    scan_->setText(dlg::text(idle ? kStrScan : kStrStopScan));
    if (idle) status_->setText(dlg::text(kStrScanIdle));
    folders_->setEnabled(idle);
    updateButtons();
    emit scanStateChanged(!idle);
}

void PlugInPage::onScan() {
    if (scanning()) {
        stop_ = true;
        return;
    }
    const QString folder = folders_->currentText().trimmed();
    std::error_code ec;
    // A folder that is not there is refused like an empty one, and not listed.
    if (folder.isEmpty() || !fs::is_directory(folder.toStdString(), ec)) {
        qvp3ui::appWarningBox(kStrNoScanFolder);
        folders_->setFocus();
        return;
    }
    if (folders_->findText(folder) < 0) folders_->insertItem(0, folder);
    folders_->setCurrentIndex(folders_->findText(folder));
    stop_ = false;
    platform::MessageTarget* target = target_.get();
    // The thread takes copies of what it needs besides the page's own queue.
    scanThread_ = std::thread([this, target, path = fs::path(folder.toStdString()), &store = context_.store,
                               helper = context_.probeHelper, timeout = context_.probeTimeout] {
        CPlugInProbeCache cache(store);
        audScanPlugInFolder(path, cache, stop_, [&](const PlugInScanItem& item) {
            {
                std::lock_guard lock(foundLock_);
                found_.push_back(item);
            }
            target->post(platform::WM_PLUGIN_SCAN_ITEM, static_cast<platform::WParam>(item.number), 0);
        }, kPlugInExtension, helper, timeout);
        target->post(platform::WM_PLUGIN_SCAN_DONE, 0, 0);
    });
    enableForScan(false);
}

void PlugInPage::onScanItems() {
    std::deque<PlugInScanItem> items;
    {
        std::lock_guard lock(foundLock_);
        items.swap(found_);
    }
    for (const PlugInScanItem& item : items) {
        status_->setText(QString::fromStdString(item.path.string()));
        addScanned(item);
    }
}

void PlugInPage::addScanned(const PlugInScanItem& item) {
    // Not loadable, or no instrument: skipped silently.
    if (!item.probe.ok() || !item.probe.identity.isSynth()) return;
    const std::string name = CPlugInCatalog::ScannedInstrumentName(item.probe.identity);
    if (listed(QString::fromStdString(name))) return;
    try {
        pending_.push_back({item.path, name});
    } catch (const std::bad_alloc&) {
        qvp3ui::appWarningBox(kStrCannotAdd);
        return;
    }
    inactiveModel_->appendRow(rowItem(QString::fromStdString(name), kImageScanned, -1,
                                      static_cast<int>(pending_.size()) - 1, kPlugInKindVst));
}

void PlugInPage::onScanDone() {
    if (scanThread_.joinable()) scanThread_.join();
    onScanItems();
    enableForScan(true);
    selectFirst(*inactive_);
    updateButtons();
}

void PlugInPage::stopScan() {
    stop_ = true;
    if (scanThread_.joinable()) scanThread_.join();
}

bool PlugInPage::event(QEvent* event) {
    if (target_ && target_->dispatch(event)) return true;
    return QWidget::event(event);
}

void PlugInPage::applyInstruments(CPlugInCatalog& catalog) {
    // Entries removed on the page go first; the others close up behind them.
    std::sort(removed_.begin(), removed_.end());
    for (auto it = removed_.rbegin(); it != removed_.rend(); ++it) catalog.RemoveInstrument(static_cast<std::size_t>(*it));
    std::vector<int> addedAt(pending_.size(), -1);
    for (std::size_t i = 0; i < pending_.size(); ++i) {
        if (pending_[i].path.empty()) continue;
        if (catalog.AddInstrument(pending_[i].path, false, pending_[i].name) != 0) {
            qvp3ui::appWarningBox(kStrCannotAdd);
            continue;
        }
        addedAt[i] = static_cast<int>(catalog.instruments.size()) - 1;
    }
    const auto finalIndex = [&](const QStandardItem& item) {
        const int entry = item.data(kEntryRole).toInt();
        if (entry < 0) return addedAt[static_cast<std::size_t>(item.data(kPendingRole).toInt())];
        return entry - static_cast<int>(std::lower_bound(removed_.begin(), removed_.end(), entry) - removed_.begin());
    };
    if (changed_) {
        for (PlugInEntry& entry : catalog.instruments) entry.enabled = 0;
        for (int row = 0; row < activeModel_->rowCount(); ++row) {
            const int index = finalIndex(*activeModel_->item(row));
            if (index >= 0 && static_cast<std::size_t>(index) < catalog.instruments.size()) {
                catalog.instruments[static_cast<std::size_t>(index)].enabled = 1;
            }
        }
    }
    removed_.clear();
    pending_.clear();
    // No size chosen (a stored one that is not offered): the nearest offered one.
    std::uint32_t size = blockSize_->currentData().toUInt();
    if (blockSize_->currentIndex() < 0) {
        size = *std::min_element(kOfferedBlockSizes.begin(), kOfferedBlockSizes.end(), [&](auto a, auto b) {
            return std::abs(static_cast<long>(a) - static_cast<long>(catalog.blockSize)) <
                   std::abs(static_cast<long>(b) - static_cast<long>(catalog.blockSize));
        });
    }
    catalog.blockSize = size;
    catalog.blockMs = static_cast<float>(size) * 1000.0f / 44100.0f;
    catalog.SaveSampleBlockSize();
    catalog.vstVolume = static_cast<float>(volume_->value()) / 100.0f;
    catalog.SaveVstVolume();
}

void PlugInPage::applyValues(CPlugInCatalog& catalog) {
    catalog.DeleteVstValues();
    for (std::size_t i = 0; i < catalog.instruments.size(); ++i) {
        const PlugInEntry& entry = catalog.instruments[i];
        catalog.WriteInstrumentValue(i, entry.enabled != 0, entry.kind == kPlugInKindVst ? entry.path.string() : std::string());
    }
    catalog.SaveSamplePlayerNumber();
    QStringList folders;
    for (int i = 0; i < folders_->count(); ++i) folders << folders_->itemText(i);
    if (!folders.isEmpty()) catalog.SaveVstFolder(folders.join(QLatin1Char('|')).toStdString());
    if (changed_) reloadPlugIns(catalog);
}

void PlugInPage::reloadPlugIns(CPlugInCatalog& catalog) {
    if (catalog.vstHost->playing()) {
        catalog.vstHost->StopOutput();
        catalog.vstHost->StopPlayback();
    }
    if (context_.releaseSampler) context_.releaseSampler();
    catalog.UnloadPlugIns();
    catalog.LoadAllPlugIns();
    catalog.CreateEffects();
    if (context_.plugInsReloaded) context_.plugInsReloaded();
    changed_ = false;
}

}  // namespace qvp3
