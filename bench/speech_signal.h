#pragma once
// A synthetic voiced signal standing in for speech: a glottal pulse train with
// a wandering pitch, shaped by three moving formants, in syllables of about a
// quarter second with short pauses and a little breath noise. 8000 Hz, 16-bit
// mono, the program's Speech PCM.
#include <cstdint>
#include <string>
#include <vector>

std::vector<int16_t> SpeechLikeSignal(int Seconds);
// Writes Samples as a 16-bit mono 8000 Hz WAV file; false on failure.
bool WriteWav(const std::string& Path, const std::vector<int16_t>& Samples);
