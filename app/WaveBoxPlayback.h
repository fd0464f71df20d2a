#pragma once
// The priming playback before every run: the silent "null.wav" played on the
// adapter's audio output through a CWaveBox, its completion notice going to
// `notify` (the run control, which wakes Start).

#include <string>

class CWaveBox;
class WaveBoxNotify;

// Plays the file on the output device whose name contains deviceName. The
// caller owns the returned box; null when the box cannot be made or no
// device matches (only trace lines then).
CWaveBox* PlayWaveWithWaveBox(const std::string& deviceName, const std::string& fileName, WaveBoxNotify* notify);

// Closes the box's playback and deletes it; the holder becomes null. Nothing
// happens for a null holder.
void StopPlayWaveWithWaveBox(CWaveBox*& box);
