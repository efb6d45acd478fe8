#pragma once

#include <QString>

#include <chrono>

class AudioFileDecoder;
class PoolThreadLease;

// A background analysis (waveform peaks, loudness) runs on a thread of the
// global pool; every further thread it uses is a pool thread held in a
// PoolThreadLease, so that the pool's limit bounds all analysis work.

// Opens decoder on path for an analysis. Codecs that decode frames in
// parallel (FLAC) get up to four threads, never more than half the cores,
// and only as many as lease can hold of the pool; the ones the codec does
// not use go straight back. False with the decoder's error when it cannot
// open the file.
bool openForAnalysis(AudioFileDecoder& decoder, const QString& path, PoolThreadLease& lease);

// Wall time after which an analysis gives up: it guards against a decode that
// never ends. Real files of a day's length take far less.
inline constexpr std::chrono::milliseconds kAnalysisTimeLimit = std::chrono::minutes(30);
