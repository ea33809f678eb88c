// The plots are drawn from measurements; these check a few measured points against what
// the classes are known to do.
#include "measure.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using measure::Table;

const std::vector<double> &row_at(const Table &t, double x) {
    for (const auto &r : t.rows)
        if (r[0] == x) return r;
    ADD_FAILURE() << t.name << " has no row at " << x;
    static const std::vector<double> none(8, NAN);
    return none;
}

TEST(Plots, CombBanksEchoFirstAtTheirShortestDelay) {
    Table t = measure::comb_impulse();
    // Damped bank: one sample after its shortest line, 0.015 times the default 0.37.
    const float damped = 0.015f * 0.37f;
    for (int i = 0; i < 1140; i++) ASSERT_EQ(t.rows[i][1], 0.0) << "velmarR~ sample " << i;
    EXPECT_EQ(row_at(t, 1140)[1], damped);
    for (int i = 0; i < 1117; i++) ASSERT_EQ(t.rows[i][2], 0.0) << "velmarL~ sample " << i;
    EXPECT_EQ(row_at(t, 1117)[2], damped);
    // Plain bank: exactly at each line's length, 0.015 times the impulse.
    for (int i = 0; i < 1139; i++) ASSERT_EQ(t.rows[i][3], 0.0) << "plenthR~ sample " << i;
    for (double at : {1139, 1211, 1300, 1379, 1445, 1514, 1580, 1640})
        EXPECT_EQ(row_at(t, at)[3], 0.015f) << "plenthR~ echo at " << at;
    EXPECT_EQ(row_at(t, 1116)[4], 0.015f);
}

TEST(Plots, DarkerToneLosesTheHighEnd) {
    Table t = measure::comb_magnitude();
    // Around 100 Hz the three tones are alike; near 10 kHz tone 0 is far below tone 1.
    double low = 0, high = 0;
    for (const auto &r : t.rows) {
        if (r[0] > 90 && r[0] < 110) low = r[3] - r[1];
        if (r[0] > 9000 && r[0] < 11000) high = r[3] - r[1];
    }
    EXPECT_LT(low, 6.0);
    EXPECT_GT(high, 10.0);
}

TEST(Plots, DiffuserPassesTheImpulseThenEchoes) {
    Table t = measure::diffuser_impulse();
    EXPECT_EQ(row_at(t, 0)[1], 1.0);
    for (double at : {248, 364, 464, 579}) EXPECT_EQ(row_at(t, at)[1], -1.0) << at;
    EXPECT_EQ(row_at(t, 496)[1], -0.5);
    for (double at : {225, 341, 441, 556}) EXPECT_EQ(row_at(t, at)[2], -1.0) << at;
    // A stage (1.5 z^-L - 1) / (1 - 0.5 z^-L) is no true allpass: its gain runs from 1
    // where z^-L is 1 (0 Hz among others) up to 5/3 where it is -1, so four stages stay
    // within 0 dB and 4 x 20 log10(5/3).
    Table m = measure::diffuser_magnitude();
    EXPECT_NEAR(m.rows.front()[1], 0.0, 1e-3);
    double lo = 1e9, hi = -1e9;
    for (const auto &r : m.rows) lo = std::min(lo, r[1]), hi = std::max(hi, r[1]);
    EXPECT_GT(lo, -0.01);
    EXPECT_LT(hi, 4 * 20 * std::log10(5.0 / 3.0) + 0.01);
    EXPECT_GT(hi, 2 * 20 * std::log10(5.0 / 3.0));
}

TEST(Plots, NinetyDegreesAcrossTheBandAndExactlyAtAQuarterOfTheRate) {
    Table t = measure::quadrature();
    const auto &quarter = row_at(t, measure::kRate / 4);
    EXPECT_NEAR(quarter[1], 90.0, 0.01);
    EXPECT_NEAR(quarter[2], 0.70710677 * 0.99830717, 2e-4);
    EXPECT_NEAR(quarter[3], 0.70710677 * 0.99830717, 2e-4);
    // A phase error e lets re^2 + im^2 of a unit sine swing by sin(e); with e up to 0.73
    // degrees and the fast square root up to 0.18 percent low, the follower stays within:
    const double e = 0.73 * M_PI / 180;
    const double lowest = 0.70710677 * std::sqrt(1 - std::sin(e)) * (1 - 0.0018);
    const double highest = 0.70710677 * std::sqrt(1 + std::sin(e));
    int in_band = 0;
    for (const auto &r : t.rows) {
        double f = r[0] / measure::kRate;
        if (f >= 0.0005 && f <= 0.4995) {
            in_band++;
            EXPECT_NEAR(r[1], 90.0, 0.75) << r[0] << " Hz";
        }
        if (f >= 0.01 && f <= 0.3) {
            EXPECT_GE(r[2], lowest) << r[0] << " Hz";
            EXPECT_LE(r[3], highest) << r[0] << " Hz";
        }
    }
    EXPECT_GT(in_band, 100);
}

TEST(Plots, DuckerGainIsTheReciprocalOfTheScaledLevel) {
    Table t = measure::duck_level();
    // Depth 1: ducking starts above 1/20 (-26 dB); at -6 dB (0.501) the gain is 1/10.02.
    EXPECT_NEAR(row_at(t, -40)[3], 0.0, 1e-3);
    EXPECT_NEAR(row_at(t, -6)[3], -20 * std::log10(20 * std::pow(10, -6 / 20.0)), 0.01);
    // Halving the depth halves the scaled level: 6 dB less ducking.
    EXPECT_NEAR(row_at(t, 0)[2] - row_at(t, 0)[3], 20 * std::log10(2.0), 0.01);
    Table time = measure::duck_time();
    // During the burst of 0.5 at depth 1 the gain heads for 0.1, faster at response 0.
    const auto &late = row_at(time, 25600 / measure::kRate); // 0.58 s, 0.28 s into the burst
    EXPECT_LT(late[2], 0.11);
    EXPECT_GT(late[4], late[3]);
    EXPECT_GT(late[3], late[2]);
}

TEST(Plots, BitFlipCodesAtTheStatedInputs) {
    Table t = measure::snarvel_transfer();
    EXPECT_EQ(row_at(t, 0.0)[1], 0.0);
    EXPECT_EQ(row_at(t, 1.0)[1], -22.0);
    EXPECT_EQ(row_at(t, -1.0)[1], -43.0);
    EXPECT_EQ(row_at(t, 0.5)[1], 21.0);
    EXPECT_EQ(row_at(t, -0.5)[1], -86.0);
    EXPECT_EQ(row_at(t, 3.5)[1], -107.0);
    EXPECT_EQ(row_at(t, -3.5)[1], 43.0);
    Table g = measure::snarvel_gate();
    const auto &silence = row_at(g, 0.0);
    EXPECT_EQ(silence[1], 0.0);
    EXPECT_EQ(silence[2], 0.0);
    EXPECT_EQ(silence[3], 1.0); // noisegate 1 puts silence on code 129
}

TEST(Plots, LowpassUnitGainBelowTheCornerAndSteepAbove) {
    Table t = measure::damp_magnitude();
    const auto &first = t.rows.front();
    for (int k = 1; k <= 5; k++) EXPECT_NEAR(first[k], 0.0, 0.05) << "column " << k;
    for (const auto &r : t.rows)
        if (r[0] > 1990 && r[0] < 2010) {
            EXPECT_LT(r[1], -35.0) << "tone 0 (200 Hz) at 2 kHz";
        }
}

} // namespace
