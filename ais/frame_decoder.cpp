#include "ais/frame_decoder.hpp"

#include <cstring>

namespace keelwave::ais {

// An AIS burst, as decoded bits (1 = no level change since the previous bit, 0 = a change):
//
//   ...010101010101 01111110 d0 d1 d2 ... dN-1 f0 ... f15 01111110
//   \__ training __/\ start /\____ data ____/\__ FCS __/\ end  /
//                     flag                               flag
//
// Data and FCS go out as whole bytes, least significant bit first, with a 0 inserted after
// every five consecutive 1s so that six 1s in a row only ever appear inside a flag. The FCS
// and the rules a frame must meet to be printed are checkFrame's (ais/frame_check.hpp),
// shared with the sensitive chain.
//
// rawBits keeps the destuffed data, the 16 FCS bits and the end flag's leading 0 and five 1s;
// the end flag's sixth 1 switches to StateEndFlag without being stored.

namespace {

constexpr uint32_t trainingAlternations = 15;  // Alternating bits that make a training run.
constexpr uint32_t startFlagFifthOne = 5;      // flagCount before the flag's fifth 1.
constexpr uint32_t startFlagSixthOne = 6;      // flagCount before the flag's sixth 1.
constexpr uint32_t onesBeforeStuffing = 4;     // onesRun at five 1s in a row.
// Stored bits at which a frame is given up as too long: no frame ends past the longest one.
constexpr int32_t tooLongBitCount = frameBitCapacity - 1;
constexpr int32_t frameOverheadBits = frameCheckBits + endFlagStoredBits;

void stepTraining(FrameDecoder* decoder, uint8_t bit) {
    if (bit == decoder->prevBit) {
        decoder->alternations = 0;
        return;
    }
    decoder->alternations += 1;
    if (bit == 0 && decoder->alternations >= trainingAlternations) {
        decoder->state = StateStartFlag;
        decoder->alternations = 0;
    }
}

// flagCount counts start-flag bits: its leading 0 as one, each following 1 as one more.
void stepStartFlag(FrameDecoder* decoder, uint8_t bit) {
    if (decoder->flagCount == 0) {
        if (bit != decoder->prevBit) {
            return;  // Still alternating: the training goes on.
        }
        // Two equal bits end the training. Two 0s: the flag's leading 0 followed a training 0.
        // Two 1s: the flag's leading 0 and first 1 passed as training; this is its second 1.
        decoder->flagCount = bit == 0 ? 1 : 3;
        return;
    }
    if (bit == 0) {
        resetFrame(decoder);
    } else if (decoder->flagCount == startFlagFifthOne) {
        decoder->state = StateFlagTail;
        decoder->flagCount = startFlagSixthOne;
        decoder->alternations = 0;
    } else {
        decoder->flagCount += 1;
    }
}

void stepFlagTail(FrameDecoder* decoder, uint8_t bit) {
    if (decoder->flagCount <= startFlagSixthOne) {
        if (bit == 1) {
            decoder->flagCount += 1;
            return;
        }
    } else if (bit == 0) {
        decoder->state = StateData;
        decoder->flagEndSample = decoder->bitSample;
        std::memset(decoder->rawBits, 0, frameBitCapacity);
        decoder->bitCount = 0;
        decoder->onesRun = 0;
        return;
    }
    // A broken flag: start over. flagCount goes back to 0 with the rest, as after every other
    // reset; a leftover count would make the next burst's training, once it reaches
    // StateStartFlag, end at its next 0 as if that were a broken flag, and lose that burst.
    resetFrame(decoder);
}

void stepData(FrameDecoder* decoder, uint8_t bit) {
    if (decoder->stuffPending != 0) {
        // After five 1s: a 0 is stuffing and is dropped; a 1 is the end flag's sixth 1.
        if (bit == 1) {
            decoder->state = StateEndFlag;
        }
        decoder->stuffPending = 0;
        return;
    }
    if (bit == 1 && decoder->prevBit == 1) {
        decoder->onesRun += 1;
        if (decoder->onesRun == onesBeforeStuffing) {
            decoder->stuffPending = 1;
            decoder->onesRun = 0;
        }
    } else {
        decoder->onesRun = 0;
    }
    decoder->rawBits[decoder->bitCount] = bit;
    decoder->bitCount += 1;
    if (decoder->bitCount >= tooLongBitCount) {
        resetFrame(decoder);
    }
}

void stepEndFlag(FrameDecoder* decoder, uint8_t bit) {
    const int32_t dataBits = decoder->bitCount - frameOverheadBits;
    // Frames carry whole bytes. A length that is not one means bits were added or lost; added
    // after an intact FCS (a bit clock slipping at the end of a burst), the whole bytes and the
    // 16 bits after them would still pass the check, and the message would come out with the
    // extra bits appended.
    if (dataBits <= 0 || dataBits % 8 != 0 || bit == 1) {
        resetFrame(decoder);  // Too short, not whole bytes, or a seventh 1.
        return;
    }
    const int32_t frameBits = dataBits + frameCheckBits;
    bool fcsFailed = false;
    const int32_t messageBits = checkFrame(decoder->rawBits, frameBits, decoder->frameBytes,
                                           decoder->payloadBits, &fcsFailed);
    decoder->failedChecks += fcsFailed ? 1 : 0;
    if (messageBits > 0 && decoder->frameCallback != nullptr) {
        decoder->frameCallback(decoder->frameContext, decoder->payloadBits, messageBits);
    }
    resetFrame(decoder);
}

}  // namespace

void decodeBit(FrameDecoder* decoder, uint8_t bit) {
    switch (decoder->state) {
        case StateTraining:
            stepTraining(decoder, bit);
            break;
        case StateStartFlag:
            stepStartFlag(decoder, bit);
            break;
        case StateFlagTail:
            stepFlagTail(decoder, bit);
            break;
        case StateData:
            stepData(decoder, bit);
            break;
        case StateEndFlag:
            stepEndFlag(decoder, bit);
            break;
    }
    decoder->prevBit = bit;
}

void resetFrame(FrameDecoder* decoder) {
    decoder->state = StateTraining;
    decoder->flagCount = 0;
    decoder->onesRun = 0;
    decoder->alternations = 0;
    decoder->stuffPending = 0;
    decoder->bitCount = 0;
}

}  // namespace keelwave::ais
