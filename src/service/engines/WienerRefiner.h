#pragma once

#include "SegmentSpectra.h"

namespace kalder::service
{

/**
    Multichannel Wiener refinement of initial masks (Duong, Vincent and Gribonval
    2010; as used after kernel additive modelling by Liutkus et al. 2014 and in
    Nugraha, Liutkus and Vincent 2016).

    Each source j is modelled by a power spectral density v_j(f, t) and a spatial
    covariance R_j(f) (2 x 2 for stereo). Both are estimated from the masked mixture
    (v_j: the channel mean of |m_j X|^2; R_j: the sum over the segment of s_j s_j^H
    divided by the sum of v_j), and the sources are re-estimated with the
    multichannel Wiener filter
        s_j = v_j R_j (sum_k v_k R_k)^-1 x.
    The filters of all sources add up to the identity, so the estimates still add up
    to the mixture. This is one EM step; the PSDs and covariances come straight from
    the masks and the mixture's second-order statistics, so the masked estimates are
    never stored.

    Inputs that are not stereo are filtered channel by channel with scalar Wiener
    gains m_j^2 / sum_k m_k^2 (the PSDs' ratio, as the channel's power cancels).

    Threading: pure function, any thread.
*/
struct WienerRefiner
{
    /** masks[j] is source j's initial mask, shared by all channels (nFreqs x all
        columns of the segment). Fills stems[j][c] with the core frames. */
    static void refine (const SegmentSpectra& segment, const std::vector<MaskMatrix>& masks, StemSpectra& stems);
};

} // namespace kalder::service
