#pragma once

#include <atomic>
#include <cstdint>

namespace keelwave::ais {

/// One block of the tuner's stream as a chain reads it.
struct SampleBlock {
    /// `count` floats, I and Q alternating, I first, each an unsigned tuner byte less 128:
    /// 288000 pairs per second centred on 162000000 Hz (base/tuner_stream.hpp).
    const float* samples = nullptr;
    uint32_t count = 0;
    int64_t firstPair = 0;  ///< the stream position of its first pair, dropped blocks counted
    /// Blocks of the stream were lost just before this one: nothing before this block belongs
    /// with anything in it.
    bool afterGap = false;
};

/// One AIS channel's decoding chain: raw tuner blocks in, one message record per decoded
/// message out through the sink it was built with. The channel threads drive every chain
/// alike; a chain keeps its whole state from one block to the next, so the blocks of one
/// stream decode as one continuous signal, except across a gap: a frame never spans one.
class DecodingChain {
public:
    virtual ~DecodingChain() = default;

    /// Decodes a block; an odd last float is ignored. Runs on the channel's thread; allocates
    /// nothing.
    virtual void processBlock(const SampleBlock& block) = 0;

    /// The input has ended for good (a recording): decodes whatever the chain still holds back.
    virtual void finish() = 0;

    /// Frames the chain read to their end that failed their FCS, up to its last block. Any
    /// thread.
    uint64_t failedFrames() const { return failed.load(std::memory_order_relaxed); }

protected:
    /// On the chain's thread: the chain's count of failed frames so far.
    void countFailedFrames(uint64_t total) { failed.store(total, std::memory_order_relaxed); }

private:
    std::atomic<uint64_t> failed{0};
};

}  // namespace keelwave::ais
