// What the tempo page and the tempo-curve page share: the entry's playing
// tempo and how it is set, the painted note, item and status line under
// their controls, and the wiring of their controls to the page's slots.
#pragma once

#include <QColor>
#include <QFont>
#include <QPoint>
#include <QRect>

#include <cstdint>

#include "qvp3_project/project.h"

class QAbstractButton;
class QAbstractSlider;
class QPainter;
class QSlider;
class QWidget;

namespace qvp3 {

// Language strings of both pages.
inline constexpr int kStrPlayTimesItem = 287;
inline constexpr int kStrProjectTooLong = 346;

// Scroll codes of a track bar, as the pages' scroll slots get them.
inline constexpr int kSbLineLeft = 0;
inline constexpr int kSbLineRight = 1;
inline constexpr int kSbPageLeft = 2;
inline constexpr int kSbPageRight = 3;
inline constexpr int kSbThumbPosition = 4;
inline constexpr int kSbThumbTrack = 5;
inline constexpr int kSbEndScroll = 8;

// The fonts of the pages' own controls and painted texts.
QFont tmpFont(int pixelSize, bool bold, bool underline = false);

// The project of the step host and its current entry (null without either).
Project* tmpProject();
ProjectEntry* tmpCurrentEntry();

// The tempo the entry's player plays at now, and setting it.
double tmpPlayerTempo(ProjectEntry& entry);
void tmpSetPlayerTempo(ProjectEntry& entry, double tempo);
// Works the player's tempo out again at a position in ticks (the transport
// does; without one the file's tempo with the entry's own setting).
double tmpWorkOutTempo(ProjectEntry& entry, std::int64_t ticks);
// The player's position in ticks (MIDI entries; scores answer 0, the engine
// knows its own position).
std::int64_t tmpPlayerTicks(ProjectEntry& entry);

// Stores a tempo in the entry, absolute (beats per minute, 10..720) or
// relative (0..2000), and plays at it from now on: the player's tempo, the
// curve's base, the engine while the entry plays, the tempo page's display;
// the project is marked changed.
void tmpSetEntryTempo(ProjectEntry& entry, int value, bool absolute);

// The playing times of all entries worked out again; on failure the page
// is marked pending and the user warned. False then.
bool tmpWorkOutPlayTimes(StepPage& page);

// An edit on a page ends so: the step is marked dirty, the commands follow.
void tmpEndEdit();

// Whether the project's playing time is longer than its disc holds.
bool tmpProjectTooLong(const Project& project);

// The note with its icon under the description and the line below it, as
// the common header measured them.
void tmpPaintNote(StepPage& page, QPainter& painter, const QRect& body);
// The clickable item that works out the playing times.
inline constexpr int kItemIconSize = 24;
int tmpItemWidth();
void tmpPaintItem(QPainter& painter, const QRect& item, bool disabled, bool hover);
// One line of text, vertically centred, cut with an ellipsis at the right.
void tmpPaintLine(QPainter& painter, const QRect& rect, int stringId, const QColor& colour, const QFont& font);

// The horizontal centre of a slider value, in the slider's coordinates, and
// the part of the slider the handle's centre can reach.
int tmpSliderValueX(const QSlider& slider, int value);
void tmpSliderSpan(const QSlider& slider, int& left, int& right);

// The pointer in the page window's coordinates.
QPoint tmpCursorPos(const StepPage& page);

// Sends a button's clicks to the page as WM_COMMAND, a slider's moves as
// WM_HSCROLL (code and new position), through the page's window.
void tmpWireButton(StepPage& page, QAbstractButton& button, int id);
void tmpWireSlider(StepPage& page, QAbstractSlider& slider);
// The modifier keys held by the input that last moved a wired slider.
Qt::KeyboardModifiers tmpSliderModifiers(const QObject& slider);

// The pages' own routines that the other page (and the transport) call.
bool stpTmpShowValues(StepPage& page, bool fromEntry);
void stpTmpShowTempo(StepPage& page);
// Index 0..4 of the tempo mark under a point of the page; -1 none.
int stpTmpHitTempoMark(StepPage& page, const QPoint& point);

bool stpTppShowValues(StepPage& page);
// Sets the curve's tempo (tempo, or the current one moved by step) within
// its minimum and maximum and shows it; the tempo it took.
int stpTppShowTempo(StepPage& page, int tempo, int step, bool moveSlider);
void stpTppEnableTempoGroup(StepPage& page, int mode);
void stpTppUpdateEnabling(StepPage& page);
// The tempo on the tempo slider under a point (screen coordinates); -1 off
// its channel, 0 without a current entry.
int stpTppTempoAtPoint(StepPage& page, const QPoint& screenPoint);
void stpTppSetChangeMarker(StepPage& page, bool marker);
void stpTppUseRecordedTempos(StepPage& page, bool force);

}  // namespace qvp3
