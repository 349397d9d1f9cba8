#pragma once
// The effect groups that make up the catalogue, each adding its effects in menu order.

#include <vector>

#include "effects/effect.h"

namespace sonavel {

// Amplify, normalise, the envelope and the fades, cross fade, stereo pan, DC offset, reverse.
void AddGainEffects(std::vector<EffectDefinition>& effects);
// The dynamic range compressor and automatic gain control.
void AddDynamicsEffects(std::vector<EffectDefinition>& effects);
// Sample rate and channel conversion, and the speed and pitch changes.
void AddRateEffects(std::vector<EffectDefinition>& effects);
// Echo, reverb, chorus, flanger and phaser.
void AddDelayEffects(std::vector<EffectDefinition>& effects);
// The drawn-curve equaliser.
void AddEqualizerEffects(std::vector<EffectDefinition>& effects);
// Distortion, the AM radio effect and the high-pass filter.
void AddClipEffects(std::vector<EffectDefinition>& effects);
// The multi-band noise gate.
void AddNoiseGateEffects(std::vector<EffectDefinition>& effects);
// Auto spectral subtraction, taking a noise sample and subtracting it.
void AddSpectralEffects(std::vector<EffectDefinition>& effects);
// Vocal reduction.
void AddVocalEffects(std::vector<EffectDefinition>& effects);
// Automatic trimming.
void AddSilenceEffects(std::vector<EffectDefinition>& effects);
// Manual click repair and automatic click detection.
void AddClickEffects(std::vector<EffectDefinition>& effects);

}  // namespace sonavel
