// The sound configuration page's sound tree: the sounds of the file's
// converted MIDI file, and for each the sample library's instrument and
// articulation that plays it; and what the tab area paints behind them.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPainter>
#include <QStyle>
#include <QTreeWidget>

#include <algorithm>
#include <filesystem>

#include "page_preview_link.h"
#include "pwc_controls.h"
#include "pwc_page.h"
#include "qvp3_audio/audio_services.h"
#include "qvp3_pipeline/entry_model.h"
#include "qvp3_pipeline/midi_tracks.h"
#include "qvp3_pipeline/note_tracker.h"
#include "qvp3_steps/page_look.h"
#include "qvp3_steps/page_routines.h"
#include "qvp3_ui/controls.h"
#include "qvp3_ui/language.h"
#include "qvp3_ui/ui_utils.h"

namespace qvp3::pwc {

namespace {

constexpr int kSoundKeyProgram = 32000;
constexpr int kSoundKeyPercussion = 32133;
constexpr std::size_t kMaxSoundKeys = 256;
constexpr int kImageRoot = 9;
constexpr int kImageMelodic = 9;
constexpr int kImageMelodicOther = 13;
constexpr int kImageDrumTrack = 11;
constexpr int kImagePercussion = 15;
constexpr int kImageBanner = 7;

QIcon noteIcon() { return QApplication::style()->standardIcon(QStyle::SP_MessageBoxInformation); }

bool isPercussionKind(int kind) { return kind == 1 || kind == 3; }

// The tracks of the sounds: the file's converted MIDI file as the render host
// will read it, or what the host holds when there is no such file yet.
std::vector<VstTrack> soundTracks(const ProjectEntry& entry, const PwcAudio& a) {
    std::vector<VstTrack> tracks;
    std::error_code ec;
    if (!entry.convertedMidiPath.empty() && std::filesystem::is_regular_file(entry.convertedMidiPath, ec)) {
        CNoteTracker tracker;
        MidiPlayerFile file;
        if (midiLoadPlayerFile(entry.convertedMidiPath, midiUnmarkedTracks(), tracker, file) == 0) {
            for (const MidiPlayerTrack& t : file.tracks) {
                VstTrack track;
                track.kind = t.kind;
                track.program = t.program;
                track.percussion = t.percussion == 0xFF ? 0 : t.percussion;
                tracks.push_back(track);
            }
            return tracks;
        }
    }
    return a.catalog != nullptr ? a.catalog->vstHost->trackInfo : tracks;
}

QTreeWidgetItem* addSound(QTreeWidgetItem& root, const QString& text, int image, int sound, bool percussion) {
    auto* item = new QTreeWidgetItem(&root, {text});
    item->setIcon(0, pwcImage(image));
    item->setData(0, kSoundRole, sound);
    item->setData(0, kPercussionRole, percussion);
    return item;
}

const CQvoInstrumentTable* libraryTable() {
    const PwcAudio a = pwcAudio();
    return a.catalog != nullptr ? &a.catalog->vstHost->instrumentTable : nullptr;
}

// "%s, %s": the instrument's name and the program's; string 110 for an
// instrument the table does not hold.
QString assignmentText(const CQvoInstrumentTable& table, int instrument, int program) {
    const QvoInstrument* inst = table.GetInstrument(instrument);
    if (inst == nullptr) return stpText(kStrUnknownInstrument);
    const std::size_t p = program >= 0 && static_cast<std::size_t>(program) < inst->programs.size()
                              ? static_cast<std::size_t>(program)
                              : 0;
    const QString programName = inst->programs.empty() ? QString() : QString::fromStdString(inst->programs[p].name);
    return QStringLiteral("%1, %2").arg(QString::fromStdString(inst->name), programName);
}

void fillLibraryBox(QComboBox& box, const std::vector<QvoListItem>& items, int selected) {
    const QSignalBlocker block(&box);
    box.clear();
    for (const QvoListItem& item : items) {
        qvp3ui::scComboExInsertItem(box, box.count(), QString::fromStdString(item.text), pwcImage(kImageMelodicOther),
                                    item.index);
    }
    box.setCurrentIndex(qvp3ui::audFindComboItemData(box, selected));
}

// The sound's assignment; without one, the instrument the table proposes.
QvoMapEntry shownAssignment(const ProjectEntry& entry, const CQvoInstrumentTable& table, int sound) {
    QvoMapEntry assignment = audQvoAssignment(entry, sound);
    if (assignment.instrument < 0) {
        assignment.instrument = static_cast<std::int16_t>(table.MapProgram(sound));
        assignment.program = 0;
    }
    return assignment;
}

bool fixedPrograms(const ProjectEntry& entry) { return entry.kind == EntryKind::TvrXml && entry.ConvertForQvo != 0; }

// The library plays the file's sounds as the entry assigns them.
void applyAssignments(const ProjectEntry& entry) {
    const PwcAudio a = pwcAudio();
    if (a.catalog != nullptr) a.catalog->vstHost->instrumentTable.SetProgramMap(audQvoProgramMap(entry));
}

}  // namespace

void stpPwcFillTrackTree(StepPage& page) {
    auto* data = stpData<PwcData>(page);
    auto* tree = stpControl<QTreeWidget>(page, kSoundTree);
    const ProjectEntry* entry = pwcEntry();
    if (data == nullptr || tree == nullptr || entry == nullptr || entry->MWConversionMethod != 1) return;
    const bool guarded = data->displayGuard;
    data->displayGuard = true;
    tree->clear();
    auto* root = new QTreeWidgetItem(tree, {stpText(kStrTreeRoot)});
    root->setIcon(0, pwcImage(kImageRoot));
    data->soundKeys.clear();
    QTreeWidgetItem* first = nullptr;
    const std::vector<VstTrack> tracks = soundTracks(*entry, pwcAudio());
    // Track 0 is the conductor's: it plays nothing.
    for (std::size_t t = 1; t < tracks.size(); ++t) {
        const VstTrack& track = tracks[t];
        QTreeWidgetItem* item = nullptr;
        if (track.kind == 1) {
            item = addSound(*root, QString::fromStdString(cnvPercussionKeyName(track.percussion)), kImageDrumTrack,
                            kQvoPercussionBase, true);
        } else {
            const bool percussion = isPercussionKind(track.kind);
            const int key = percussion ? kSoundKeyPercussion + track.percussion : kSoundKeyProgram + track.program;
            if (std::find(data->soundKeys.begin(), data->soundKeys.end(), key) != data->soundKeys.end() ||
                data->soundKeys.size() >= kMaxSoundKeys) {
                continue;
            }
            data->soundKeys.push_back(key);
            if (percussion) {
                item = addSound(*root, QString::fromStdString(cnvPercussionKeyName(track.percussion)), kImagePercussion,
                                kQvoPercussionBase + track.percussion, true);
            } else {
                item = addSound(*root, stpText(kSoundKeyProgram + track.program),
                                track.kind == 2 ? kImageMelodicOther : kImageMelodic, track.program, false);
            }
        }
        if (first == nullptr) first = item;
    }
    root->setExpanded(true);
    data->displayGuard = guarded;
    tree->setCurrentItem(first != nullptr ? first : root);
}

StepPage::Result pwcOnTreeSelection(StepPage& page, ProjectEntry& entry) {
    auto* data = stpData<PwcData>(page);
    auto* tree = stpControl<QTreeWidget>(page, kSoundTree);
    auto* instruments = stpControl<QComboBox>(page, kLibInstrumentBox);
    auto* programs = stpControl<QComboBox>(page, kLibProgramBox);
    auto* value = stpControl<QLabel>(page, kValue);
    const CQvoInstrumentTable* table = libraryTable();
    if (data == nullptr || tree == nullptr || !instruments || !programs || !value || table == nullptr) return 0;
    QTreeWidgetItem* item = tree->currentItem();
    if (item == nullptr || item->parent() == nullptr) {
        instruments->setEnabled(false);
        programs->setEnabled(false);
        return 0;
    }
    instruments->setEnabled(true);
    programs->setEnabled(!fixedPrograms(entry));
    const int sound = item->data(0, kSoundRole).toInt();
    const bool percussion = item->data(0, kPercussionRole).toBool();
    const QvoMapEntry shown = shownAssignment(entry, *table, sound);
    if (data->libraryPercussion != (percussion ? 1 : 0)) {
        fillLibraryBox(*instruments, percussion ? table->FillInstrumentList() : table->FillAllInstrumentsList(), -1);
        data->libraryPercussion = percussion ? 1 : 0;
    }
    if (fixedPrograms(entry)) {
        const QSignalBlocker block(programs);
        programs->setCurrentIndex(-1);
    } else {
        fillLibraryBox(*programs, table->FillProgramList(shown.instrument), shown.program);
    }
    value->setText(assignmentText(*table, shown.instrument, shown.program));
    const QSignalBlocker block(instruments);
    instruments->setCurrentIndex(qvp3ui::audFindComboItemData(*instruments, shown.instrument));
    return 0;
}

void pwcOnLibraryChoice(StepPage& page, ProjectEntry& entry, int controlId) {
    auto* data = stpData<PwcData>(page);
    auto* tree = stpControl<QTreeWidget>(page, kSoundTree);
    auto* box = stpControl<QComboBox>(page, controlId);
    const PwcAudio a = pwcAudio();
    QTreeWidgetItem* item = tree != nullptr ? tree->currentItem() : nullptr;
    if (data == nullptr || box == nullptr || a.catalog == nullptr || item == nullptr || item->parent() == nullptr ||
        box->currentIndex() < 0) {
        return;
    }
    const CQvoInstrumentTable& table = a.catalog->vstHost->instrumentTable;
    const int sound = item->data(0, kSoundRole).toInt();
    const int chosen = box->itemData(box->currentIndex()).toInt();
    QvoMapEntry assignment = shownAssignment(entry, table, sound);
    StepPageHost* host = stpPageHost();
    const bool loadNow = host != nullptr && host->loadSampleLibraryInstruments();
    if (controlId == kLibInstrumentBox) {
        if (loadNow) a.catalog->audReleaseTrackInstrument(assignment.instrument);
        assignment = {static_cast<std::int16_t>(chosen), 0};
        audSetQvoAssignment(entry, sound, assignment);
        applyAssignments(entry);
        if (auto* programs = stpControl<QComboBox>(page, kLibProgramBox)) {
            fillLibraryBox(*programs, table.FillProgramList(chosen), 0);
        }
        if (loadNow) {
            WaitWindowProgress wait;
            a.catalog->audReloadTrackInstruments(entry.samplerIndex, chosen, host->project().shell(), &wait);
        } else {
            a.catalog->vstHost->instrumentsReady = false;
        }
    } else {
        assignment.program = static_cast<std::int16_t>(chosen);
        audSetQvoAssignment(entry, sound, assignment);
        applyAssignments(entry);
        a.catalog->audAssignTrackInstruments(assignment.instrument);
    }
    data->reopenSetup = true;
    const QString text = assignmentText(table, assignment.instrument, assignment.program);
    item->setText(0, text);
    if (auto* value = stpControl<QLabel>(page, kValue)) value->setText(text);
    stpPageEdited();
}

void stpPaintSampleLibBanner(StepPage& page, QPainter& painter) {
    auto* data = stpData<PwcData>(page);
    if (!isPwcPage(page) || data == nullptr) return;
    const auto visible = [&page](int id) {
        QWidget* w = stpControl<QWidget>(page, id);
        return w != nullptr && w->isVisible();
    };
    const bool instrumentShown = visible(kInstrumentBox);
    if (instrumentShown) pwcInstrumentIcon().paint(&painter, data->iconRect);
    const QWidget* playerArea = pwcPlayerWindowArea(page);
    if (playerArea != nullptr && playerArea->isVisible()) return;
    const ProjectEntry* entry = pwcEntry();
    if (entry != nullptr && entry->MWConversionMethod == 1 && pwcIsSampleLibrary(*entry) && visible(kSoundTree)) {
        const QRect& banner = data->bannerRect;
        pwcImage(kImageBanner).paint(&painter, QRect(banner.left(), banner.top() + 4, 32, 32));
        painter.setPen(kPageNoteText);
        painter.setFont(stpNoteFont());
        const QRect nameRect = banner.adjusted(40, 0, 0, 0);
        painter.drawText(nameRect, Qt::AlignLeft | Qt::AlignVCenter,
                         painter.fontMetrics().elidedText(QStringLiteral("Tavrena Vienna Orchestra"), Qt::ElideRight,
                                                          nameRect.width()));
        for (std::size_t i = 0; i < data->noteRects.size(); ++i) {
            const QRect& note = data->noteRects[i];
            noteIcon().paint(&painter, QRect(note.left() - 30, note.top(), 24, 24));
            painter.setPen(i == 0 ? kPageNoteText : QColor(0x00, 0x66, 0x00));
            painter.drawText(note, Qt::TextWordWrap, stpText(i == 0 ? kStrLibraryNote : kStrLibraryNote2));
        }
        return;
    }
    if (!instrumentShown) return;
    const QRect& hint = data->hintRect;
    noteIcon().paint(&painter, QRect(hint.center().x() - 16, hint.top(), 32, 32));
    painter.setPen(kPageValueText);
    painter.setFont(stpNoteFont());
    painter.drawText(hint.adjusted(0, 40, 0, 0), Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, stpText(kStrHint));
}

}  // namespace qvp3::pwc
