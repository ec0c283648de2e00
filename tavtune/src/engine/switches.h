// The engine's play switches: how dynamics marks become levels ("ctDynamic":
// one key per mark, fff to ppp, its velocity), how articulations change
// notes ("ctArtic": one key per articulation, "length,velocity" - the percent
// added to a note's sounding length and the velocity change), and trills
// ("ctTrills": "Speed", notes per quarter). They outlive a score and apply to
// every score opened; engine options 0x40, 8 and 0x20 switch dynamics,
// articulation and trills on for playing and rendering.
#pragma once

#include "engine/engine.h"

namespace tavtune {

bool isSwitchKind(int kind);
SwitchLines defaultSwitches(int kind);
// Takes the known keys with valid values of lines read from an INI section
// into the engine's switches of kind (a key compares without case); every
// other key keeps its value, so the engine always holds the whole set. The
// number of values taken.
int takeSwitches(Engine& engine, int kind, const SwitchLines& lines);
// The switches into the model's tables; lines that name no switch or hold no
// number are passed over.
void applySwitches(Engine& engine, scoreconv::PlayScore& model);
// The engine's options into the model's play conditions.
void applySwitchOptions(const Engine& engine, scoreconv::PlayScore& model);

}  // namespace tavtune
