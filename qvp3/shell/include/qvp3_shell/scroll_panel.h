// A panel that shows a larger window in part and scrolls it with its two
// bars: the pages' scroll container (the engine's dynamics dialog) and the
// sound page's effect panel (a plug-in's editor). The content keeps its own
// size; the panel moves it to minus the scroll positions. A bar is shown only
// while the content is larger than the panel in its direction.
#pragma once

#include <QAbstractScrollArea>
#include <QPointer>

namespace qvp3 {

class ScrollPanel : public QAbstractScrollArea {
    Q_OBJECT
public:
    explicit ScrollPanel(QWidget* parent = nullptr);

    // The window shown inside; the panel takes it as its child.
    void setContent(QWidget* content);
    QWidget* content() const { return content_; }
    // Ranges and pages from the content's size and the panel's; called by
    // the panel itself when either changes size.
    void updateScrollBars();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void placeContent();

    QPointer<QWidget> content_;
};

}  // namespace qvp3
