// The transport's wind buttons: holding one winds back (F5) or forward (F7)
// as holding its key does; the main window hears key down and key up.
#pragma once

#include <QPushButton>

namespace qvp3 {

class SeekButton : public QPushButton {
public:
    SeekButton(int key, QWidget* parent);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int key_;
};

}  // namespace qvp3
