#include "ais/sensitive/sensitive_chain.hpp"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <initializer_list>

namespace keelwave::ais {

namespace {

/// Zero samples in front of the first: the matched filter looks back over them.
constexpr int32_t basebandGuard = 2 * matchedFilterLead;
/// Preamble match below which a candidate is taken for noise and dropped. Bursts at 2 dB
/// signal to noise match at 0.7 to 0.95, noise that got through the detector at 0.05 to
/// 0.6, above 0.5 some 36 times a minute (both channels).
constexpr float syncMatchFloor = 0.5f;
/// Preamble match from which a failed frame is worth turning symbols over: below all but a
/// few noise candidates an hour, above every burst at 2 dB that the turning over saved.
constexpr float flipMatchFloor = 0.65f;
/// Detector match from which a candidate that no coherent reading decoded is aligned on its
/// turns: the Long Beach bursts read that way match at 0.59 and more, the noise that passes the
/// detector mostly at 0.3 to 0.45.
constexpr float turnsCandidateFloor = 0.5f;
/// Match of the turns' own alignment from which a burst is read by turns (and turned over).
constexpr float turnsMatchFloor = 0.5f;
/// Distance of the preamble's index from 1/2 within which a burst is read the nominal way
/// first: twice the index estimate's spread near the noise.
constexpr float nominalReach = 0.04f;
/// Symbols at least this sure (|Re(v_k)| / A) are never turned over: a wrong decision that
/// sure is rare below the noise level where such a frame still has a chance.
constexpr float flipReliabilityLimit = 0.7f;
/// Power of a complex tuner sample at full scale: 128 steps on I and Q.
constexpr double fullScalePower = 128.0 * 128.0;
/// Level reported for a channel that gave no power at all.
constexpr float silentLevelDb = -150.0f;
/// Gain reported with every level: the chain scales nothing, so it is always unity.
constexpr float unityGain = 1.0f;
/// Symbols decided before the frame is read on: a few bytes, so a burst costs little
/// more than its own length.
constexpr int32_t trackingRun = 24;
/// Delay of the channel filter, tuner pairs: its 42 taps are symmetric about 20.5 pairs before
/// an output's last input, which is the sixth pair of the output's own six.
constexpr double filterDelayPairs = (channelFilterTaps - 1) / 2.0 - (channelDecimation - 1);
/// Training symbols before the start flag over which a burst's level is taken with it: those a
/// transmitter's ramp never takes.
constexpr int32_t levelTrainingSymbols = 12;
constexpr double fullTurnRadians = 6.283185307179586;
constexpr double symbolsPerSecond = 9600.0;

}  // namespace

SensitiveChain::SensitiveChain(char channelLetter, double channelOffsetHz, bool verboseReports,
                               MessageSink sink, LevelCallback levelReport,
                               void* levelReportContext)
    : channel(channelLetter),
      offsetHz(channelOffsetHz),
      verbose(verboseReports),
      levelCallback(levelReport),
      levelContext(levelReportContext),
      encoder(channelLetter, ChainKind::sensitive, sink) {
    initGmskReference(reference);
    startStream();
    search.checks = 0;
}

void SensitiveChain::startStream() {
    initChannelFilter(filter, offsetHz);
    initBurstDetector(detector, reference);
    std::memset(basebandRe, 0, sizeof basebandRe);
    std::memset(basebandIm, 0, sizeof basebandIm);
    basebandStart = -basebandGuard;
    basebandFill = basebandGuard;
    decodedUntil = basebandStart;
    pendingFirst = 0;
    pendingCount = 0;
    originPending = true;
}

void SensitiveChain::processBlock(const SampleBlock& block) {
    if (block.afterGap) {
        decodeReady(true);
        startStream();
    }
    if (originPending) {
        streamOrigin = block.firstPair;
        originPending = false;
    }
    const float* samples = block.samples;
    const uint32_t pairs = block.count / 2;
    for (uint32_t done = 0; done < pairs; done += filterChunkPairs) {
        const auto chunk = static_cast<int32_t>(std::min<uint32_t>(filterChunkPairs, pairs - done));
        filterChunk(samples + 2 * static_cast<size_t>(done), chunk);
        detect();
        decodeReady(false);
    }
    countFailedFrames(static_cast<uint64_t>(tally.failedFrames));
    reportLevel();
}

void SensitiveChain::finish() {
    decodeReady(true);
    countFailedFrames(static_cast<uint64_t>(tally.failedFrames));
}

void SensitiveChain::filterChunk(const float* samples, int32_t pairs) {
    makeRoom();
    float* re = basebandRe + basebandFill;
    float* im = basebandIm + basebandFill;
    float power = 0.0f;
    const int32_t written = filterChannel(filter, samples, pairs, re, im, power);
    powerSum += power;
    powerCount += written;
    basebandFill += written;
}

void SensitiveChain::makeRoom() {
    if (basebandFill + filterChunkOutputs + filterTile <= basebandCapacity) {
        return;
    }
    int64_t keepFrom = detector.nextSample - matchedFilterLead;
    if (pendingCount > 0) {
        keepFrom = std::min(keepFrom, pending[pendingFirst].instant - candidateLead);
    }
    const auto drop = static_cast<int32_t>(std::max<int64_t>(0, keepFrom - basebandStart));
    basebandFill -= drop;
    std::memmove(basebandRe, basebandRe + drop, sizeof(float) * basebandFill);
    std::memmove(basebandIm, basebandIm + drop, sizeof(float) * basebandFill);
    basebandStart += drop;
}

void SensitiveChain::detect() {
    const int64_t end = basebandStart + basebandFill - matchedFilterLag;
    BurstCandidate found[detectorBatch / candidateWindow + 1];
    while (detector.nextSample < end) {
        const int64_t batchEnd = std::min<int64_t>(end, detector.nextSample + detectorBatch);
        const int32_t count = detectBursts(detector, reference, basebandRe, basebandIm,
                                           basebandStart, batchEnd, found);
        for (int32_t i = 0; i < count && pendingCount < pendingCapacity; ++i) {
            pending[(pendingFirst + pendingCount) % pendingCapacity] = found[i];
            ++pendingCount;
        }
    }
}

void SensitiveChain::decodeReady(bool ending) {
    const int64_t available = basebandStart + basebandFill;
    while (pendingCount > 0) {
        const BurstCandidate& candidate = pending[pendingFirst];
        if (!ending && candidate.instant + candidateLag > available) {
            return;
        }
        const BurstCandidate taken = candidate;
        pendingFirst = (pendingFirst + 1) % pendingCapacity;
        --pendingCount;
        decodeCandidate(taken);
    }
}

void SensitiveChain::decodeCandidate(const BurstCandidate& candidate) {
    if (candidate.instant < decodedUntil) {
        return;  // Inside a burst already printed, or too soon after it.
    }
    ++tally.candidates;
    const int64_t checked = search.checks;
    if (!readCandidate(candidate) && search.checks > checked) {
        ++tally.failedFrames;
    }
}

bool SensitiveChain::readCandidate(const BurstCandidate& candidate) {
    // Coherently, first where the detector saw the preamble and then the other training phase
    // a symbol away: a training of the other phase matches as this one does a symbol on (the
    // alternation shifted by a bit), so near the noise the detector may take one for the other.
    const struct {
        int32_t shift;  // symbols
        int32_t training;
    } alignments[] = {{0, candidate.training},
                      {candidate.training == 0 ? -1 : 1, trainingPhases - 1 - candidate.training}};
    startBurstWindow(window, candidate.instant, candidate.turnPerSymbol);
    fill(candidateLead + turnsSearch + 2 + matchedFilterLag);
    for (const auto& alignment : alignments) {
        BurstCandidate aligned = candidate;
        const int32_t offset = alignment.shift * samplesPerSymbol;
        aligned.instant += offset;
        aligned.training = alignment.training;
        const BurstTiming timing = synchroniseBurst(reference, window.re + candidateLead + offset,
                                                    window.im + candidateLead + offset, aligned);
        if (timing.match >= syncMatchFloor) {
            ++tally.synchronised;
            // A transmitter that sends near the nominal index is read the cheap way first. Symbols
            // are turned over only once both readings have failed as they are: every frame
            // checked is a chance for a false message, and a drifting burst, which the nominal
            // reading fails and the other reads, would otherwise pay for a search each time.
            const bool nominal = std::fabs(timing.index - nominalIndex) <= nominalReach;
            for (const bool turnOver : {false, true}) {
                if ((nominal && readBurst(candidate, timing, SymbolReading::nominal, turnOver)) ||
                    readBurst(candidate, timing, SymbolReading::byIndex, turnOver)) {
                    return true;
                }
            }
        }
    }
    // Failing that, level by level from the turns, aligned anew on them; only for a preamble
    // the detector found clearly, as the signals that need it are strong.
    if (candidate.match < turnsCandidateFloor) {
        return false;
    }
    const BurstTiming timing =
        alignTurns(reference, window.re + candidateLead, window.im + candidateLead, candidate);
    return timing.match >= turnsMatchFloor &&
           readBurst(candidate, timing, SymbolReading::byTurns, true);
}

bool SensitiveChain::readBurst(const BurstCandidate& candidate, const BurstTiming& timing,
                               SymbolReading way, bool turnOver) {
    // Symbols are decided a run at a time, and read, until the frame ends.
    const float* re = window.re + candidateLead;
    const float* im = window.im + candidateLead;
    const auto shift = static_cast<int32_t>(timing.sample - candidate.instant);
    startTracking(tracker, timing, way);
    symbols.count = 0;
    symbols.byLevels = false;
    startFrame(search);
    const auto decideUntil = [&](int32_t end) {
        fill(candidateLead + shift +
             (end - 1 + readingLookahead - lastKnownSymbol) * samplesPerSymbol + matchedFilterLag +
             2);
        trackSymbols(tracker, reference, re + shift, im + shift, end, symbols);
    };
    FrameReading reading = FrameReading::needsSymbols;
    while (reading == FrameReading::needsSymbols && symbols.count < burstSymbolCapacity) {
        decideUntil(std::min(burstSymbolCapacity, symbols.count + trackingRun));
        reading = readFrame(search, symbols);
    }
    const bool turnedOver = reading != FrameReading::passed;
    const bool byTurns = way == SymbolReading::byTurns;
    if (turnOver && turnedOver && timing.match >= (byTurns ? turnsMatchFloor : flipMatchFloor)) {
        startFlips(search, symbols, flipReliabilityLimit);
        reading = searchFlips(search, symbols);
        while (reading == FrameReading::needsSymbols) {
            decideUntil(std::min(burstSymbolCapacity, symbols.count + trackingRun));
            reading = searchFlips(search, symbols);
        }
    }
    if (reading != FrameReading::passed) {
        return false;
    }
    ++tally.printed;
    tally.turnedOver += turnedOver ? 1 : 0;
    encoder.emit(search.payloadBits, search.messageBits,
                 measure(candidate, timing, search.endSymbol));
    // The next burst's preamble cannot end before this one's end flag plus a preamble.
    decodedUntil =
        timing.sample + (search.endSymbol + preambleSymbols - lastKnownSymbol) * samplesPerSymbol;
    return true;
}

Reception SensitiveChain::measure(const BurstCandidate& candidate, const BurstTiming& timing,
                                  int32_t endSymbol) const {
    Reception reception;
    // Where the start flag's first bit begins, in channel samples, from the instant of the last
    // preamble symbol the synchronisation placed: a symbol's instant is the end of its bit.
    const double flagStart = static_cast<double>(timing.sample) +
                             static_cast<double>(timing.step) / timingSteps -
                             (lastKnownSymbol + 1 - trainingSymbols) * samplesPerSymbol;
    reception.streamPair = std::llround(static_cast<double>(streamOrigin) +
                                        flagStart * channelDecimation - filterDelayPairs);
    // The mean power over the burst, from half the training on, its samples as the window
    // holds them.
    const auto first = static_cast<int32_t>(flagStart - static_cast<double>(window.first)) -
                       levelTrainingSymbols * samplesPerSymbol;
    const auto last =
        std::min(window.filled - 1, static_cast<int32_t>(timing.sample - window.first) +
                                        (endSymbol - lastKnownSymbol) * samplesPerSymbol);
    double power = 0.0;
    for (int32_t i = std::max(first, 0); i <= last; ++i) {
        power += static_cast<double>(window.re[i]) * window.re[i] +
                 static_cast<double>(window.im[i]) * window.im[i];
    }
    const int32_t samples = last - std::max(first, 0) + 1;
    reception.levelDb =
        samples > 0 && power > 0.0
            ? static_cast<float>(10.0 * std::log10(power / samples / fullScalePower))
            : silentLevelDb;
    // The detector's estimate, turned back in the window, and what the preamble left of it.
    const double turnPerSymbol =
        static_cast<double>(candidate.turnPerSymbol) + timing.turnPerSymbol;
    reception.offsetHz = static_cast<float>(turnPerSymbol / fullTurnRadians * symbolsPerSecond);
    return reception;
}

void SensitiveChain::fill(int32_t end) {
    fillBurstWindow(window, end, basebandRe, basebandIm, basebandStart, basebandFill);
}

void SensitiveChain::reportLevel() {
    const time_t now = std::time(nullptr);
    if (now - lastReportTime <= 0) {
        return;
    }
    lastReportTime = now;
    const double meanPower = powerCount > 0 ? powerSum / static_cast<double>(powerCount) : 0.0;
    powerSum = 0.0;
    powerCount = 0;
    if (!verbose || levelCallback == nullptr) {
        return;
    }
    const float level = meanPower > 0.0
                            ? static_cast<float>(10.0 * std::log10(meanPower / fullScalePower))
                            : silentLevelDb;
    levelCallback(levelContext, channel, level, unityGain);
}

}  // namespace keelwave::ais
