#pragma once

#include <Eigen/Dense>

#include <complex>

namespace kalder
{

/** Complex STFT frames of one channel: one row per bin (nFreqs = N / 2 + 1), one
    column per frame, column-major. Each value is 8 bytes, real part first. An empty
    (0 x 0) matrix means that nothing is available. */
using CspecMatrix = Eigen::Matrix<std::complex<float>, Eigen::Dynamic, Eigen::Dynamic>;

/** Real per-bin values with the same indexing as CspecMatrix: masks (gain, 1 = keep),
    selections (weight, 0 = not selected) and magnitudes. */
using MaskMatrix = Eigen::Matrix<float, Eigen::Dynamic, Eigen::Dynamic>;

/** A column of complex values, as produced by the forward transform of one frame. */
using ComplexVector = Eigen::Matrix<std::complex<float>, Eigen::Dynamic, 1>;

} // namespace kalder
