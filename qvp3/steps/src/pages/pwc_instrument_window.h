// The sample player's instrument window on the sound configuration page: the
// instrument's settings as one slider each, a VST instrument's parameters or
// the control inputs of an instrument of the second standard, in the area
// the page keeps for it.
#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

#include "qvp3_audio/sample_player.h"

class QScrollArea;

namespace qvp3::pwc {

class PwcInstrumentWindow : public CSamplePlayerWindow {
public:
    // area: where the window goes; edited: after each change of a setting.
    PwcInstrumentWindow(QWidget& area, std::function<void()> edited);
    ~PwcInstrumentWindow() override;

    bool OpenEditor(CVSTHost& host, int slot) override;
    bool OpenPages(CDxLv2Filter& instrument) override;
    void Close() override;

    // The settings' sliders while the window is open; null otherwise.
    QWidget* body() const;

private:
    QWidget* newBody();

    QPointer<QWidget> area_;
    QPointer<QScrollArea> scroll_;
    std::function<void()> edited_;
};

}  // namespace qvp3::pwc
