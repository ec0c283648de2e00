#include "pwc_instrument_window.h"

#include <QFormLayout>
#include <QScrollArea>
#include <QSlider>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <memory>

#include "qvp3_audio/lv2_instrument.h"
#include "qvp3_audio/vst_host.h"

namespace qvp3::pwc {

namespace {

constexpr int kSteps = 1000;

QSlider* newSlider(QWidget& body, int index, float fraction) {
    auto* slider = new QSlider(Qt::Horizontal, &body);
    slider->setRange(0, kSteps);
    slider->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0f, 1.0f) * kSteps)));
    slider->setObjectName(QStringLiteral("setting%1").arg(index));
    return slider;
}

}  // namespace

PwcInstrumentWindow::PwcInstrumentWindow(QWidget& area, std::function<void()> edited)
    : area_(&area), edited_(std::move(edited)) {}

PwcInstrumentWindow::~PwcInstrumentWindow() { Close(); }

QWidget* PwcInstrumentWindow::newBody() {
    Close();
    if (!area_) return nullptr;
    if (area_->layout() == nullptr) {
        auto* layout = new QVBoxLayout(area_);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    scroll_ = new QScrollArea(area_);
    scroll_->setObjectName(QStringLiteral("SamplePlayerWindow"));
    scroll_->setWidgetResizable(true);
    area_->layout()->addWidget(scroll_);
    auto* body = new QWidget;
    new QFormLayout(body);
    scroll_->setWidget(body);
    return body;
}

bool PwcInstrumentWindow::OpenEditor(CVSTHost& host, int slot) {
    CEffect* effect = host.GetEffect(slot);
    if (effect == nullptr) return false;
    QWidget* body = newBody();
    if (body == nullptr) return false;
    auto* form = static_cast<QFormLayout*>(body->layout());
    for (int i = 0; i < effect->NumParams(); ++i) {
        QSlider* slider = newSlider(*body, i, effect->GetParameter(i));
        // The host may replace the plug-in: the slot is asked anew at each move.
        QObject::connect(slider, &QSlider::valueChanged, slider, [this, &host, slot, i](int value) {
            if (CEffect* now = host.GetEffect(slot)) now->SetParameter(i, static_cast<float>(value) / kSteps);
            if (edited_) edited_();
        });
        form->addRow(QString::fromStdString(effect->EffGetParamName(i)), slider);
    }
    return true;
}

bool PwcInstrumentWindow::OpenPages(CDxLv2Filter& instrument) {
    QWidget* body = newBody();
    if (body == nullptr) return false;
    auto* form = static_cast<QFormLayout*>(body->layout());
    const std::vector<Lv2ControlInput> controls = instrument.ControlInputs();
    // The instrument outlives the window: the player closes it before it lets the instrument go.
    CDxLv2Filter* target = &instrument;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        const Lv2ControlInput c = controls[i];
        const float value = instrument.Control(c.symbol).value_or(c.minimum);
        QSlider* slider = newSlider(*body, static_cast<int>(i), (value - c.minimum) / (c.maximum - c.minimum));
        QObject::connect(slider, &QSlider::valueChanged, slider, [this, target, c](int step) {
            target->SetControl(c.symbol, c.minimum + (c.maximum - c.minimum) * static_cast<float>(step) / kSteps);
            if (edited_) edited_();
        });
        form->addRow(QString::fromStdString(c.name), slider);
    }
    return true;
}

void PwcInstrumentWindow::Close() {
    if (scroll_) delete scroll_.data();
    scroll_ = nullptr;
}

QWidget* PwcInstrumentWindow::body() const { return scroll_ ? scroll_->widget() : nullptr; }

}  // namespace qvp3::pwc
