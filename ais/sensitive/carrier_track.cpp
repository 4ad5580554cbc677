#include "ais/sensitive/carrier_track.hpp"

#include "ais/sensitive/iq.hpp"

namespace keelwave::ais {

namespace {

constexpr int32_t phaseState = 0;
constexpr int32_t turnState = 1;
constexpr int32_t rateState = 2;
constexpr int32_t indexState = 3;
constexpr int32_t states = 4;

}  // namespace

void startCarrierTrack(CarrierTrack& track, double phase, double turn, double index,
                       const CarrierSpread& spread) {
    track.state[phaseState] = phase;
    track.state[turnState] = turn;
    track.state[rateState] = 0.0;
    track.state[indexState] = index;
    for (auto& row : track.covariance) {
        for (double& entry : row) {
            entry = 0.0;
        }
    }
    track.covariance[phaseState][phaseState] = spread.phase * spread.phase;
    track.covariance[turnState][turnState] = spread.turn * spread.turn;
    track.covariance[rateState][rateState] = spread.turnRate * spread.turnRate;
    track.covariance[indexState][indexState] = spread.index * spread.index;
}

void advanceCarrier(CarrierTrack& track, int32_t level, const CarrierWalk& walk) {
    // x <- F x, P <- F P F' + Q, with F the identity but for the phase's row
    // (1, 1, 0, pi s a) and the turn's (0, 1, 1, 0).
    const double slope = pi * level;  // d psi / d h
    double* x = track.state;
    x[phaseState] += x[turnState] + slope * x[indexState];
    x[turnState] += x[rateState];
    double(&p)[states][states] = track.covariance;
    // Rows first (F P), then columns ((F P) F').
    for (int32_t c = 0; c < states; ++c) {
        p[phaseState][c] += p[turnState][c] + slope * p[indexState][c];
        p[turnState][c] += p[rateState][c];
    }
    for (int32_t r = 0; r < states; ++r) {
        p[r][phaseState] += p[r][turnState] + slope * p[r][indexState];
        p[r][turnState] += p[r][rateState];
    }
    p[phaseState][phaseState] += walk.phase * walk.phase;
    p[turnState][turnState] += walk.turn * walk.turn;
}

void correctCarrier(CarrierTrack& track, double phaseError, double errorVariance) {
    // The measurement sees the phase alone: H = (1, 0, 0, 0).
    double(&p)[states][states] = track.covariance;
    const double innovation = p[phaseState][phaseState] + errorVariance;
    double gain[states];
    for (int32_t r = 0; r < states; ++r) {
        gain[r] = p[r][phaseState] / innovation;
        track.state[r] += gain[r] * phaseError;
    }
    double phaseRow[states];
    for (int32_t c = 0; c < states; ++c) {
        phaseRow[c] = p[phaseState][c];
    }
    for (int32_t r = 0; r < states; ++r) {
        for (int32_t c = 0; c < states; ++c) {
            p[r][c] -= gain[r] * phaseRow[c];
        }
    }
}

}  // namespace keelwave::ais
