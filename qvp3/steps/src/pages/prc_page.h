// What the percussion page's handlers share with its tests.
#pragma once

#include <QObject>

#include <memory>

#include "platform/midi_out.h"
#include "qvp3_project/neighbours.h"

namespace qvp3 {

// A list's current row changed; the value is the row.
inline constexpr int kPrcItemChanged = -101;
inline constexpr int kStrCannotPlay = 278;

// The 128 keys, "<key>: <percussion name>" for 35 to 81, else "<key>: <key>"; key 0 chosen.
void stpPrcFillKeyCombo(StepPage& page);
// The current entry's percussion staves, the first one chosen; false when there are none.
bool stpPrcFillList(StepPage& page);
// The instruments of the stave list's row, the first one chosen.
void stpPrcFillInstruments(StepPage& page, int row);
// The key combo shows the chosen instrument's key.
void stpPrcShowKey(StepPage& page);
// Plays the one chosen instrument's key on the drum channel of the page's
// output; false when it cannot (no entry or stave, an entry playing, not
// exactly one instrument chosen, no output).
bool stpPrcPlayKey(StepPage& page);
void stpPrcLayout(StepPage& page);

// The page's MIDI output, a child of its window: open while the page is
// shown (and nothing played when it was shown), or opened for a preview.
class PrcOutput : public QObject {
public:
    explicit PrcOutput(QObject* parent);
    ~PrcOutput() override;
    // The open device, opened through the page host when needed; null when none opens.
    platform::MidiOutDevice* open();
    // Silences and closes the device.
    void close();
    platform::MidiOutDevice* device() const { return device_.get(); }
    static PrcOutput* of(StepPage& page);

private:
    std::unique_ptr<platform::MidiOutDevice> device_;
};

}  // namespace qvp3
