#include "qvp3_steps/page_look.h"

#include <QFontMetrics>
#include <QHash>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

#include "qvp3_steps/step_table.h"
#include "qvp3_ui/message_box.h"

namespace qvp3 {

namespace {

constexpr int kHeaderSize = 112;
constexpr int kLinkWidth = 92;
constexpr int kLinkHeight = 26;
constexpr int kBannerWidth = 900;
constexpr int kBannerHeight = 64;

const QColor kTileTop{0x4F, 0x7E, 0xAE};
const QColor kTileBottom{0x2C, 0x4E, 0x73};

// The step whose header image this is, -1 for none.
int stepOfImage(int id) {
    for (int step = 0; step < kStepCount; ++step) {
        if (stpStepInfo(step)->headerImage == id) return step;
    }
    return -1;
}

// A tile with the step's number: the user sees where in the sequence of
// 18 steps the page stands.
QPixmap drawHeaderImage(int step) {
    QPixmap pixmap(kHeaderSize, kHeaderSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, kHeaderSize);
    fill.setColorAt(0, kTileTop);
    fill.setColorAt(1, kTileBottom);
    QPainterPath tile;
    tile.addRoundedRect(QRectF(1, 1, kHeaderSize - 2, kHeaderSize - 2), 14, 14);
    painter.fillPath(tile, fill);
    painter.setPen(QPen(kPageLabelText, 2));
    painter.drawPath(tile);
    QFont number = stpTitleFont();
    number.setPixelSize(56);
    painter.setFont(number);
    painter.drawText(QRect(0, 0, kHeaderSize, kHeaderSize), Qt::AlignCenter, QString::number(step + 1));
    return pixmap;
}

QPixmap drawLink() {
    QPixmap pixmap(kLinkWidth, kLinkHeight);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kTileBottom);
    painter.drawRoundedRect(QRectF(0, 0, kLinkWidth, kLinkHeight - 4), 9, 9);
    painter.setPen(kPageLabelText);
    QFont font = stpDescriptionFont();
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, kLinkWidth, kLinkHeight - 4), Qt::AlignCenter, QStringLiteral("tavrena.com"));
    return pixmap;
}

QPixmap drawBanner() {
    QPixmap pixmap(kBannerWidth, kBannerHeight);
    QPainter painter(&pixmap);
    QLinearGradient fill(0, 0, kBannerWidth, 0);
    fill.setColorAt(0, kTileBottom);
    fill.setColorAt(0.7, kTileTop);
    fill.setColorAt(1, kPageBackground);
    painter.fillRect(pixmap.rect(), fill);
    return pixmap;
}

QPixmap drawImage(int id) {
    if (id == kImageLink) return drawLink();
    if (id == kImageBanner) return drawBanner();
    const int step = stepOfImage(id);
    return step < 0 ? QPixmap() : drawHeaderImage(step);
}

int noteString(int category) {
    switch (category) {
    case kStepTmp: return kStrTmpNote;
    case kStepTpp: return kStrTppNote;
    case kStepWvc: return kStrWvcNote;
    default: return 0;
    }
}

constexpr int kTextFlags = Qt::TextWordWrap;

}  // namespace

QFont stpTitleFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(20);
    font.setBold(true);
    return font;
}

QFont stpDescriptionFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(14);
    return font;
}

QFont stpNoteFont() {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setWeight(QFont::Light);
    return font;
}

QPixmap stpPageImage(int id) {
    static QHash<int, QPixmap> cache;
    auto it = cache.find(id);
    if (it == cache.end()) it = cache.insert(id, drawImage(id));
    return *it;
}

const std::string& stpShownDescription(const StepPage& page, const ProjectEntry* current) {
    const bool midi = current != nullptr && current->kind == EntryKind::Midi;
    return midi && !page.altDescription.empty() ? page.altDescription : page.description;
}

PageHeader stpMeasureHeader(const StepPage& page, const QRect& client, const ProjectEntry* current) {
    PageHeader header;
    const QPixmap image = stpPageImage(page.headerImage);
    const QPixmap link = stpPageImage(kImageLink);
    const QPixmap banner = stpPageImage(kImageBanner);
    const int headerWidth = image.width();
    header.image = QRect(10, 10, headerWidth, image.height());
    header.link = QRect(headerWidth / 2 - link.width() / 2 + 10, client.bottom() + 1 - link.height(), link.width(),
                        link.height());
    header.separatorX = headerWidth + 20;
    const int bannerHeight = banner.height() * 3 / 4;
    const int bannerWidth = std::max(0, std::min(banner.width(), client.right() - headerWidth - 50));
    header.banner = QRect(headerWidth + 20, 10, bannerWidth, bannerHeight);
    header.title = QRect(headerWidth + 30, 10, std::max(0, bannerWidth - 10), bannerHeight);

    const int left = headerWidth + 30;
    const int right = client.right() - 10;
    const int width = std::max(1, right - left);
    header.description = QString::fromStdString(stpShownDescription(page, current));
    const QFontMetrics descriptionMetrics(stpDescriptionFont());
    const QRect measured = descriptionMetrics.boundingRect(QRect(left, bannerHeight + 20, width, 100000), kTextFlags,
                                                           header.description);
    header.descriptionRect = QRect(left, bannerHeight + 20, width, header.description.isEmpty() ? 0 : measured.height());
    int contentTop = header.descriptionRect.bottom() + 1;
    if (const int note = noteString(static_cast<int>(page.category)); note != 0) {
        header.noteText = QString::fromStdString(qvp3ui::uiString(note));
        const int noteLeft = left + 32 + 10;  // beside a step icon
        const QFontMetrics noteMetrics(stpNoteFont());
        const int noteWidth = std::max(1, right - noteLeft);
        const QRect noteMeasured = noteMetrics.boundingRect(QRect(noteLeft, contentTop + 20, noteWidth, 100000),
                                                            kTextFlags | Qt::TextExpandTabs, header.noteText);
        header.note = QRect(noteLeft, contentTop + 20, noteWidth, noteMeasured.height());
        contentTop = header.note.bottom() + 1;
    }
    header.content = QRect(QPoint(left, contentTop), QPoint(right, client.bottom()));
    return header;
}

}  // namespace qvp3
