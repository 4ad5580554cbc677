#pragma once

#include "ais/decoder_callbacks.hpp"
#include "ais/decoding_chain.hpp"
#include "ais/sensitive/burst_detector.hpp"
#include "ais/sensitive/burst_sync.hpp"
#include "ais/sensitive/burst_window.hpp"
#include "ais/sensitive/channel_filter.hpp"
#include "ais/sensitive/frame_search.hpp"
#include "ais/sensitive/gmsk_reference.hpp"
#include "ais/sensitive/symbol_tracker.hpp"
#include "ais/sentence_encoder.hpp"

#include <cstdint>
#include <ctime>

// The sensitive decoding chain of one AIS channel: a coherent receiver that works burst by
// burst.
//
//   tuner I/Q --> channel filter --> detector --> (wait for the burst) --> frequency turned back
//   288000/s      48000/s, 5/symbol  candidates                            --> timing, phase,
//   index --> symbols read --> frame read --> turned-over symbols --> sentences, once per burst
//
// Every channel sample goes through the filter and the detector; everything after them runs
// only for a candidate, once the samples of the longest burst it could start have arrived.
// A candidate is synchronised where the detector put it, then with the other phase of the
// training a symbol away. Each synchronised burst is read coherently: the nominal way first
// when its preamble says it was sent within 0.04 of the index 1/2 (most transmitters, and the
// cheapest and surest reading for them), then the way that follows the index, the frequency
// and its drift (for the others, and for a crystal drifting during the burst). Failing all,
// a candidate the detector found clearly is read level by level from the turns of its
// samples, aligned anew on them (for signals that are not the GMSK sent: discriminator audio
// put back on a carrier). The first reading whose frame passes is printed, and no other of
// that candidate is tried.
//
// Candidates are taken in order; one that lies inside a burst already printed is dropped, so
// a burst found twice is printed once. Each sample is kept until the last candidate that may
// need it is done, so bursts across block boundaries decode as any other. At a gap in the
// stream the candidates found so far are read with what came before it, and the chain starts
// afresh.

namespace keelwave::ais {

/// Channel samples kept: every candidate's span, one chunk of new samples and room to spare.
constexpr int32_t basebandCapacity = 8192;
/// Candidates waiting for their samples: at most one per candidateWindow samples of the span.
constexpr int32_t pendingCapacity = 128;

static_assert(basebandCapacity >= candidateSpan + filterChunkOutputs + filterTile + detectorBatch,
              "the baseband holds a whole candidate besides new samples");
static_assert(pendingCapacity * candidateWindow >= candidateLag + filterChunkOutputs,
              "no candidate is dropped while it waits");

/// What a chain has done so far, for measurements.
struct ChainCounts {
    int64_t candidates = 0;     ///< detector candidates
    int64_t synchronised = 0;   ///< candidates whose preamble matched well enough to decode
    int64_t printed = 0;        ///< bursts printed
    int64_t turnedOver = 0;     ///< of those, printed with symbols turned over
    int64_t framesChecked = 0;  ///< frames of whole bytes checked: each a 2^-16 chance for noise
    int64_t failedFrames = 0;   ///< candidates read to a checked frame that none of whose passed
};

/// The sensitive chain of one channel.
class SensitiveChain final : public DecodingChain {
public:
    /// `channel` is the letter ('A' or 'B') in the sentences and the level reports,
    /// `channelOffsetHz` the channel's distance from the tuner's centre (-25000 for A,
    /// +25000 for B). With `verbose`, `levelCallback` gets the channel's power once a second.
    SensitiveChain(char channel, double channelOffsetHz, bool verbose, MessageSink sink,
                   LevelCallback levelCallback, void* levelContext);
    SensitiveChain(const SensitiveChain&) = delete;
    SensitiveChain& operator=(const SensitiveChain&) = delete;

    void processBlock(const SampleBlock& block) override;
    void finish() override;

    /// What the chain has done since it was built.
    ChainCounts counts() const {
        ChainCounts result = tally;
        result.framesChecked = search.checks;
        return result;
    }

private:
    /// Starts the stream afresh: a new filter and detector, no channel samples held.
    void startStream();
    void filterChunk(const float* samples, int32_t pairs);
    void detect();
    void decodeReady(bool ending);
    void decodeCandidate(const BurstCandidate& candidate);
    /// Reads the candidate every way there is until one passes; true if one did.
    bool readCandidate(const BurstCandidate& candidate);
    /// Where the burst read at `timing` lies in the stream, its level and carrier offset; its
    /// frame ends at symbol `endSymbol`.
    Reception measure(const BurstCandidate& candidate, const BurstTiming& timing,
                      int32_t endSymbol) const;
    /// Reads the burst at `timing` from the samples copied for `candidate` the given way, and
    /// when its frame fails and `turnOver`, with its least sure symbols turned over.
    bool readBurst(const BurstCandidate& candidate, const BurstTiming& timing, SymbolReading way,
                   bool turnOver);
    /// Copies the candidate's window up to entry `end`.
    void fill(int32_t end);
    void makeRoom();
    void reportLevel();

    const char channel;
    const double offsetHz;
    const bool verbose;
    const LevelCallback levelCallback;
    void* const levelContext;
    SentenceEncoder encoder;

    GmskReference reference;
    ChannelFilter filter;
    BurstDetector detector;

    /// Channel samples basebandStart .. basebandStart + basebandFill - 1.
    float basebandRe[basebandCapacity];
    float basebandIm[basebandCapacity];
    int64_t basebandStart;
    int32_t basebandFill;
    int64_t streamOrigin = 0;   ///< tuner pair of channel sample 0's first input
    bool originPending = true;  ///< the next block sets streamOrigin

    BurstCandidate pending[pendingCapacity];  ///< ring, oldest at pendingFirst
    int32_t pendingFirst = 0;
    int32_t pendingCount = 0;
    int64_t decodedUntil;  ///< channel sample where the last burst printed ended

    BurstWindow window;  ///< the candidate being decoded
    SymbolTracker tracker;
    SoftSymbols symbols;
    FrameSearch search;

    ChainCounts tally;

    double powerSum = 0.0;  ///< of the channel samples since the last level report
    int64_t powerCount = 0;
    time_t lastReportTime = 0;  ///< wall-clock seconds of the last report
};

}  // namespace keelwave::ais
