#pragma once

namespace keelwave::ais {

/// Half a turn, radians.
constexpr double pi = 3.14159265358979323846;

/// One complex baseband sample. The chain's own type rather than std::complex, whose product
/// checks for infinities and NaNs on every call unless the whole build relaxes its rules.
struct Iq {
    float re = 0.0f;
    float im = 0.0f;
};

inline Iq operator+(Iq a, Iq b) {
    return {a.re + b.re, a.im + b.im};
}

inline Iq operator-(Iq a, Iq b) {
    return {a.re - b.re, a.im - b.im};
}

inline Iq operator*(Iq a, Iq b) {
    return {a.re * b.re - a.im * b.im, a.re * b.im + a.im * b.re};
}

inline Iq operator*(Iq a, float scale) {
    return {a.re * scale, a.im * scale};
}

inline Iq conj(Iq a) {
    return {a.re, -a.im};
}

/// a times the conjugate of b: the phase of a measured from that of b.
inline Iq timesConj(Iq a, Iq b) {
    return {a.re * b.re + a.im * b.im, a.im * b.re - a.re * b.im};
}

/// Squared magnitude (power).
inline float norm(Iq a) {
    return a.re * a.re + a.im * a.im;
}

/// e^(-j x) for the small turns of one symbol (|x| below 1), by its Taylor series to x^5.
inline Iq turnBack(float x) {
    const float x2 = x * x;
    const float cosine = 1.0f - x2 * (0.5f - x2 * (1.0f / 24.0f));
    const float sine = x * (1.0f - x2 * (1.0f / 6.0f - x2 * (1.0f / 120.0f)));
    return {cosine, -sine};
}

}  // namespace keelwave::ais
