// The firmware's beat detection and rate, run natively on made-up signals.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "heart_detector.h"

namespace {

// The rate sent after each beat of a sequence of beat intervals (in samples).
std::vector<int> RatesFor(const std::vector<uint32_t>& intervals) {
  RateTracker r;
  rate_reset(&r);
  std::vector<int> out;
  uint32_t at = 1000;
  out.push_back(rate_add_beat(&r, at));
  for (uint32_t iv : intervals) out.push_back(rate_add_beat(&r, at += iv));
  return out;
}

TEST(HeartRate, MedianOfIntervals) {
  struct Case {
    const char* what;
    std::vector<uint32_t> intervals;
    std::vector<int> rates;
  } cases[] = {
      {"steady 60 bpm: a rate once three intervals are in", {500, 500, 500, 500}, {0, 0, 0, 60, 60}},
      {"one missed beat changes nothing", {400, 400, 400, 400, 800, 400, 400}, {0, 0, 0, 75, 75, 75, 75, 75}},
      {"one extra beat changes nothing", {400, 400, 400, 400, 200, 200, 400}, {0, 0, 0, 75, 75, 75, 75, 75}},
      {"a step settles on the third new interval", {500, 500, 500, 500, 500, 250, 250, 250}, {0, 0, 0, 60, 60, 60, 60, 60, 120}},
      {"3 s without a beat: the old intervals are forgotten", {400, 400, 400, 1600, 300, 300, 300}, {0, 0, 0, 75, 0, 0, 0, 100}},
      {"rounded to the nearest bpm", {333, 333, 333}, {0, 0, 0, 90}},
  };
  for (const Case& c : cases) EXPECT_EQ(RatesFor(c.intervals), c.rates) << c.what;
}

TEST(HeartRate, SampleScaling) {
  const uint16_t in[] = {0, 1, 511, 512, 1022, 1023, 2000};
  const uint16_t want[] = {0, 1, 500, 500, 999, 1000, 1000};
  for (size_t i = 0; i < sizeof in / sizeof in[0]; ++i) EXPECT_EQ(heart_scale_sample(in[i]), want[i]) << in[i];
}

// ADC codes of a signal at 500 Hz: ECG-like (a sharp R wave, a slow T wave) or
// PPG-like (a smooth pulse), at a fixed rate; a few codes of noise.
struct Signal {
  bool ppg;
  double bpm;
  double amplitude;  // codes
  double off_from, off_to;  // leads off (seconds)
};

int CodeAt(const Signal& s, double t, unsigned* noise) {
  double rr = 60.0 / s.bpm, phase = std::fmod(t, rr), v;
  if (s.ppg) {
    v = std::exp(-0.5 * std::pow((phase - 0.1) / 0.06, 2));
  } else {
    v = std::exp(-0.5 * std::pow((phase - 0.1) / 0.01, 2)) + 0.25 * std::exp(-0.5 * std::pow((phase - 0.35) / 0.04, 2));
  }
  *noise = *noise * 1103515245u + 12345u;
  return 512 + (int)std::lround(s.amplitude * v) + (int)((*noise >> 16) % 5) - 2;
}

// The B lines (time in seconds, rate) the firmware would send over `seconds`.
std::vector<std::pair<double, int>> BeatsSent(const Signal& s, double seconds) {
  HeartMonitor m;
  heart_init(&m, s.ppg);
  unsigned noise = 1;
  std::vector<std::pair<double, int>> beats;
  for (int k = 0; k < seconds * HEART_SAMPLE_HZ; ++k) {
    double t = (double)k / HEART_SAMPLE_HZ;
    bool off = t >= s.off_from && t < s.off_to;
    int bpm = heart_step(&m, (int16_t)(off ? 1023 : CodeAt(s, t, &noise)), off);
    if (bpm) beats.emplace_back(t, bpm);
  }
  return beats;
}

TEST(HeartDetector, FindsEveryBeatAtTheTrueRate) {
  const Signal signals[] = {{false, 40, 150, 0, 0}, {false, 75, 150, 0, 0}, {false, 200, 150, 0, 0},
                            {false, 90, 30, 0, 0},  {true, 45, 100, 0, 0},   {true, 120, 100, 0, 0},
                            {true, 190, 100, 0, 0}};
  for (const Signal& s : signals) {
    auto beats = BeatsSent(s, 30);
    // After learning (at most 2 s) and three intervals, every beat is sent.
    size_t late = 0;
    for (auto& b : beats) late += b.first >= 8;
    EXPECT_NEAR((double)late, (30 - 8) * s.bpm / 60, 1) << (s.ppg ? "ppg " : "ecg ") << s.bpm;
    for (auto& b : beats) EXPECT_NEAR(b.second, s.bpm, 1) << (s.ppg ? "ppg " : "ecg ") << s.bpm << " at " << b.first;
  }
}

TEST(HeartDetector, NoRateWithoutAHeart) {
  // Leads off for 8..14 s: nothing then, and afterwards only a rate from fresh beats.
  auto beats = BeatsSent({false, 75, 150, 8, 14}, 30);
  for (auto& b : beats) {
    EXPECT_FALSE(b.first >= 8 && b.first < 14 + 2 + 3 * 0.8) << "B at " << b.first;
    EXPECT_EQ(b.second, 75);
  }
  EXPECT_GT(beats.size(), 15u);
  // Flat line with ADC noise (sensor unplugged): never a beat, in either mode.
  const Signal flat_ecg = {false, 60, 0, 0, 0}, flat_ppg = {true, 60, 0, 0, 0};
  EXPECT_TRUE(BeatsSent(flat_ecg, 30).empty());
  EXPECT_TRUE(BeatsSent(flat_ppg, 30).empty());
}

}  // namespace
