#include "qvp3_dialogs/output_page.h"

#include <QGridLayout>
#include <QLabel>
#include <QListView>
#include <QPushButton>
#include <QStandardItemModel>
#include <QVBoxLayout>

#include "qvp3_dialogs/dialog_support.h"
#include "qvp3_dialogs/jack_control.h"
#include "qvp3_dialogs/settings_dialog.h"
#include "qvp3_ui/message_box.h"
#include "qvp3_ui/string_ids.h"

namespace qvp3 {

namespace {

constexpr int kStrDisabledColumn = 60238;
constexpr int kStrEnabledColumn = 85;
constexpr int kStrServerSettings = 90;
constexpr int kOutputRole = Qt::UserRole + 1;
constexpr int kImageRole = Qt::UserRole + 2;
constexpr std::string_view kAsioPrefix = "ASIO: ";

void fill(QStandardItemModel& model, const CatalogList& list) {
    for (const CatalogListItem& entry : list.items) {
        auto* item = new QStandardItem(QString::fromStdString(entry.text));
        item->setEditable(false);
        item->setData(entry.data, kOutputRole);
        item->setData(entry.image, kImageRole);
        model.appendRow(item);
    }
}

void selectFirst(QListView& view) {
    if (view.model()->rowCount() > 0) view.setCurrentIndex(view.model()->index(0, 0));
}

// "JACK (name)" names the server "name".
std::string serverOf(const std::string& driver) {
    const auto open = driver.find('(');
    const auto close = driver.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close <= open) return "default";
    return driver.substr(open + 1, close - open - 1);
}

}  // namespace

OutputPage::OutputPage(SettingsContext& context, QWidget* parent) : QWidget(parent), context_(context) {
    buildForm();
    fill(*disabledModel_, context_.outputs.FillAudioOutList(false));
    fill(*enabledModel_, context_.outputs.FillAudioOutList(true));
    selectFirst(*disabled_);
    selectFirst(*enabled_);
    updateButtons();
}

void OutputPage::buildForm() {
    using dlg::makeControl;
    using dlg::text;
    auto* layout = new QGridLayout(this);
    disabledModel_ = new QStandardItemModel(this);
    enabledModel_ = new QStandardItemModel(this);
    disabled_ = makeControl<QListView>(this, 1043);
    enabled_ = makeControl<QListView>(this, 1046);
    disabled_->setModel(disabledModel_);
    enabled_->setModel(enabledModel_);
    for (QListView* view : {disabled_, enabled_}) {
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setMinimumSize(240, 220);
    }
    layout->addWidget(new QLabel(text(kStrDisabledColumn), this), 0, 0);
    layout->addWidget(new QLabel(text(kStrEnabledColumn), this), 0, 2);
    layout->addWidget(disabled_, 1, 0);
    layout->addWidget(enabled_, 1, 2);
    auto* moves = new QVBoxLayout;
    toEnabled_ = makeControl<QPushButton>(this, 1044, QStringLiteral(">>"));
    toDisabled_ = makeControl<QPushButton>(this, 1045, QStringLiteral("<<"));
    moves->addStretch();
    moves->addWidget(toEnabled_);
    moves->addWidget(toDisabled_);
    moves->addStretch();
    layout->addLayout(moves, 1, 1);
    server_ = makeControl<QPushButton>(this, 1047, text(kStrServerSettings));
    layout->addWidget(server_, 2, 2, Qt::AlignRight);

    connect(toEnabled_, &QPushButton::clicked, this, [this] { move(true); });
    connect(toDisabled_, &QPushButton::clicked, this, [this] { move(false); });
    connect(disabled_, &QListView::doubleClicked, this, [this] { move(true); });
    connect(enabled_, &QListView::doubleClicked, this, [this] { move(false); });
    connect(enabled_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] { updateButtons(); });
    connect(server_, &QPushButton::clicked, this, &OutputPage::onServerSettings);
}

bool OutputPage::isServer(const QModelIndex& index) const {
    return index.isValid() && index.data(kOutputRole).toInt() >= static_cast<int>(context_.outputs.audioOutCount());
}

void OutputPage::updateButtons() {
    const bool open = context_.projectOpen;
    disabled_->setEnabled(!open);
    enabled_->setEnabled(!open);
    toEnabled_->setEnabled(!open && disabledModel_->rowCount() > 0);
    toDisabled_->setEnabled(!open && enabledModel_->rowCount() > 0);
    server_->setEnabled(!open && isServer(enabled_->currentIndex()));
}

void OutputPage::move(bool toEnabled) {
    if (context_.projectOpen) return;
    QListView& source = toEnabled ? *disabled_ : *enabled_;
    QStandardItemModel& from = toEnabled ? *disabledModel_ : *enabledModel_;
    QStandardItemModel& to = toEnabled ? *enabledModel_ : *disabledModel_;
    const QModelIndex index = source.currentIndex();
    if (!index.isValid()) return;
    to.appendRow(from.takeRow(index.row()));
    selectFirst(toEnabled ? *enabled_ : *disabled_);
    changed_ = true;
    updateButtons();
}

void OutputPage::onServerSettings() {
    const QModelIndex index = enabled_->currentIndex();
    if (!isServer(index)) return;
    CSpecAsioHost& host = *context_.outputs.asioHost;
    const int driver = index.data(kOutputRole).toInt() - static_cast<int>(context_.outputs.audioOutCount());
    if (driver < 0 || driver >= host.NameCount()) return;
    std::string name = host.DisplayName(driver);
    if (name.starts_with(kAsioPrefix)) name.erase(0, kAsioPrefix.size());
    // The server must be there; one that is not is left alone, silently.
    const bool openedHere = !host.IsOpen();
    if (openedHere) {
        std::int32_t blockSize = static_cast<std::int32_t>(context_.outputs.catalog->blockSize);
        if (!host.Open(name, blockSize)) return;
    }
    if (const auto program = audFindJackControl()) {
        audStartJackControl(*program, serverOf(name));
    } else {
        qvp3ui::appInfoBox(0, dlg::textFormat(qvp3ui::kStrNotInstalled, {kJackControlProgramName}).toStdString());
    }
    // A server the program was already playing through stays open.
    if (openedHere) host.Close();
}

void OutputPage::apply() {
    if (!changed_) return;
    COutputDeviceModel& outputs = context_.outputs;
    outputs.ClearAudioOutFlags();
    for (int row = 0; row < enabledModel_->rowCount(); ++row) {
        // An index outside the model's outputs is ignored.
        outputs.SetAudioOutEnabled(enabledModel_->item(row)->data(kOutputRole).toInt(), true);
    }
    outputs.SaveOutputFlags();
    changed_ = false;
}

}  // namespace qvp3
