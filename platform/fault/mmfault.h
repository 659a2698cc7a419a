#pragma once
// Failure injection for the audio services, so tests can make any call fail
// with a chosen code. Every waveIn*, waveOut* and acmStream* function asks
// Check with its own name before doing anything.
#include <cstdint>
#include <string>

namespace mmfault {

// The next call of Function (e.g. "waveOutWrite") after Skip successful ones
// returns Code instead of running, Times times in a row (-1: until Clear).
void Fail(const std::string& Function, uint32_t Code, int Skip = 0, int Times = 1);
// Forgets every armed failure.
void Clear();
// Called by the services: the code to fail with, or 0 to go on. Thread-safe.
uint32_t Check(const char* Function);

} // namespace mmfault
