#include "qvp3_shell/profile_bar_qt.h"

#include <QComboBox>
#include <QSignalBlocker>

namespace qvp3 {

QtProfileList::QtProfileList(QComboBox* combo) : combo_(combo) {}

int QtProfileList::count() const { return combo_ ? combo_->count() : 0; }

void QtProfileList::addItem(std::string text, std::filesystem::path profilePath) {
    if (combo_) combo_->addItem(QString::fromStdString(text), QString::fromStdString(profilePath.string()));
}

std::filesystem::path QtProfileList::itemPath(int index) const {
    if (!combo_ || index < 0 || index >= combo_->count()) return {};
    return combo_->itemData(index).toString().toStdString();
}

void QtProfileList::clear() {
    if (!combo_) return;
    const QSignalBlocker quiet(combo_);
    combo_->clear();
    combo_->setEditText(QString());
}

void QtProfileList::setEditText(std::string_view text) {
    if (combo_) combo_->setEditText(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void QtProfileList::select(int index) {
    if (!combo_) return;
    const QSignalBlocker quiet(combo_);
    combo_->setCurrentIndex(index);
}

}  // namespace qvp3
