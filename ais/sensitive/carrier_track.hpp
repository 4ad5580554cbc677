#pragma once

#include <cstdint>

// What the reading believes of a burst's carrier and modulation, symbol by symbol: a Kalman
// filter over four numbers that a real transmitter does not hold at their nominal values.
//
//   phase      psi_k, radians: the phase of pseudo-symbol b_k, carrier included
//   turn       omega, radians per symbol: the carrier's frequency left after the preamble's
//              estimate (2 pi f / 9600)
//   turnRate   alpha, radians per symbol per symbol: how fast that frequency moves (a crystal
//              warming up during the burst: 300 Hz over 250 symbols is 8e-4)
//   index      h: the modulation index (2 x peak deviation / 9600 bit/s), 0.5 nominal
//
// From one symbol to the next, psi_(k+1) = psi_k + omega + pi h s a_(k+1) with a = +-1 the level
// decided (s = -1 for a transmitter whose levels are the other way round), omega grows by alpha,
// and alpha and h stay. The level makes the index observable: over a run of equal levels a
// wrong h turns the phase by pi (h_true - h) per symbol, which a frequency error would turn on
// the symbols of either level alike; the training (++--) and the data's runs separate the two
// within a few dozen symbols. The measurement is the phase error of each symbol's matched-
// filter output against the output the decided levels make. A phase-locked loop of fixed gains
// would follow the index's error only as a frequency that jumps with every level, and a drift
// only with a lag of alpha / (its natural frequency)^2: 0.8 radians for 300 Hz per burst at the
// old loop's gains. The filter's gains instead follow what it has learnt: wide at the start of
// the burst, narrowing as the symbols accumulate.

namespace keelwave::ais {

/// The filter's state and its covariance, in the order phase, turn, turnRate, index.
struct CarrierTrack {
    double state[4];
    double covariance[4][4];
};

/// How sure the filter is of each number at the start, as standard deviations.
struct CarrierSpread {
    double phase;     ///< radians
    double turn;      ///< radians per symbol
    double turnRate;  ///< radians per symbol per symbol
    double index;
};

/// Starts the filter at `phase` (of pseudo-symbol 0), `turn` and `index`, with no drift.
void startCarrierTrack(CarrierTrack& track, double phase, double turn, double index,
                       const CarrierSpread& spread);

/// How far the carrier wanders unforeseen from one symbol to the next, standard deviations:
/// oscillator phase noise and the model's own errors move the phase, an oscillator that does
/// not drift evenly the frequency.
struct CarrierWalk {
    double phase;  ///< radians
    double turn;   ///< radians per symbol
};

/// Moves the filter on by one symbol of signed level `level` (s a, +-1).
void advanceCarrier(CarrierTrack& track, int32_t level, const CarrierWalk& walk);

/// Corrects the filter by a measured phase error (radians, measured minus predicted) of
/// variance `errorVariance` (radians squared).
void correctCarrier(CarrierTrack& track, double phaseError, double errorVariance);

}  // namespace keelwave::ais
