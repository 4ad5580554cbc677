#pragma once

#include "tools/transmitter/six_bit.hpp"

#include <vector>

namespace keelwave::transmitter {

/// Half a turn, radians.
constexpr double pi = 3.14159265358979323846;

/// Bandwidth-time product of the AIS transmit filter.
constexpr double aisBandwidthTime = 0.4;

/// The GMSK frequency pulse: one NRZ bit (a rectangle one bit long) through a Gaussian low-pass,
/// kept as its running integral Q(u), u in bits from the start of the bit. Q is 0 before the
/// pulse and 1 after it, so the phase swept between any two instants is a difference of two
/// table look-ups, exact whatever the sampling rate or clock error.
struct GmskPulse {
    double firstBit = 0.0;      ///< u of the first table entry (Q is 0 below it)
    double stepsPerBit = 0.0;   ///< table resolution
    std::vector<double> table;  ///< Q at u = firstBit + i / stepsPerBit
};

/// Tabulates the pulse for bandwidth-time product `bandwidthTime`; the Gaussian's tails are
/// kept out to 6 standard deviations on both sides of the bit.
GmskPulse makeGmskPulse(double bandwidthTime = aisBandwidthTime, int stepsPerBit = 512);

/// Q(u): the share of one bit's frequency deviation integrated up to `u` bits after its start.
double pulseIntegral(const GmskPulse& pulse, double u);

/// How many bits a pulse reaches beyond its own bit, on either side.
double pulseReachBits(const GmskPulse& pulse);

/// Sum over bits k of a_k * (Q(uTo - k) - Q(uFrom - k)), with a_k = +1 for level 1 and -1 for
/// level 0 (no pulse outside the burst): the phase swept from uFrom to uTo, in units of the
/// phase one full-deviation bit sweeps. Times and k are in bits from the first bit's start.
double phaseAdvance(const GmskPulse& pulse, const Bits& levels, double uFrom, double uTo);

}  // namespace keelwave::transmitter
