#include "ais/sensitive/carrier_track.hpp"

#include "ais/sensitive/iq.hpp"

namespace keelwave::ais {

namespace {

constexpr int32_t phaseAt = 0;
constexpr int32_t turnAt = 1;
constexpr int32_t rateAt = 2;
constexpr int32_t indexAt = 3;
constexpr int32_t states = 4;

}  // namespace

void startCarrierTrack(CarrierTrack& track, double phase, double turn, double index,
                       const CarrierSpread& spread) {
    track.state[phaseAt] = phase;
    track.state[turnAt] = turn;
    track.state[rateAt] = 0.0;
    track.state[indexAt] = index;
    for (auto& row : track.covariance) {
        for (double& entry : row) {
            entry = 0.0;
        }
    }
    track.covariance[phaseAt][phaseAt] = spread.phase * spread.phase;
    track.covariance[turnAt][turnAt] = spread.turn * spread.turn;
    track.covariance[rateAt][rateAt] = spread.turnRate * spread.turnRate;
    track.covariance[indexAt][indexAt] = spread.index * spread.index;
}

void advanceCarrier(CarrierTrack& track, int32_t level, const CarrierWalk& walk) {
    // x <- F x, P <- F P F' + Q, with F the identity but for the phase's row
    // (1, 1, 0, pi s a) and the turn's (0, 1, 1, 0).
    const double slope = pi * level;  // d psi / d h
    double* x = track.state;
    x[phaseAt] += x[turnAt] + slope * x[indexAt];
    x[turnAt] += x[rateAt];
    double(&p)[states][states] = track.covariance;
    // Rows first (F P), then columns ((F P) F').
    for (int32_t c = 0; c < states; ++c) {
        p[phaseAt][c] += p[turnAt][c] + slope * p[indexAt][c];
        p[turnAt][c] += p[rateAt][c];
    }
    for (int32_t r = 0; r < states; ++r) {
        p[r][phaseAt] += p[r][turnAt] + slope * p[r][indexAt];
        p[r][turnAt] += p[r][rateAt];
    }
    p[phaseAt][phaseAt] += walk.phase * walk.phase;
    p[turnAt][turnAt] += walk.turn * walk.turn;
}

void correctCarrier(CarrierTrack& track, double phaseError, double errorVariance) {
    // The measurement sees the phase alone: H = (1, 0, 0, 0).
    double(&p)[states][states] = track.covariance;
    const double innovation = p[phaseAt][phaseAt] + errorVariance;
    double gain[states];
    for (int32_t r = 0; r < states; ++r) {
        gain[r] = p[r][phaseAt] / innovation;
        track.state[r] += gain[r] * phaseError;
    }
    double phaseRow[states];
    for (int32_t c = 0; c < states; ++c) {
        phaseRow[c] = p[phaseAt][c];
    }
    for (int32_t r = 0; r < states; ++r) {
        for (int32_t c = 0; c < states; ++c) {
            p[r][c] -= gain[r] * phaseRow[c];
        }
    }
}

}  // namespace keelwave::ais
