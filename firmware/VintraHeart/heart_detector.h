// Beat detection for the heart sensor firmware: a QRS detector for ECG
// front-ends, a pulse-peak detector for optical (PPG) sensors, and the rate
// sent to Vintra. Plain integer code with no I/O, so the same source runs on
// the ATmega328P and in the host tests. Every function is fed one sample of a
// fixed 500 Hz stream.
#ifndef VINTRA_HEART_DETECTOR_H
#define VINTRA_HEART_DETECTOR_H

#include <stdint.h>

#define HEART_SAMPLE_HZ 500

// Ring lengths (powers of two where the index is masked).
#define ECG_LP_TAPS 10     // each of the two low-pass boxcars: 20 ms, a null at 50 Hz
#define ECG_HP_LEN 64      // baseline boxcar of the high-pass: 128 ms
#define ECG_HP_HISTORY 128 // band-passed history searched for the R peak
#define ECG_MWI_LEN 75     // moving-window integration: 150 ms, about one QRS
#define PPG_LP_LEN 16      // PPG smoothing boxcar: 32 ms
#define PPG_SLOPE_SPAN 10  // PPG upstroke measured over 20 ms
#define RATE_INTERVALS 5   // the rate is the median of this many beat intervals

// QRS detector state (band-pass, derivative, squaring, moving-window
// integration, then adaptive thresholds on the integrated signal).
struct EcgDetector {
  uint32_t n;                              // samples seen since the last reset
  uint8_t lp_pos;                          // next slot of the low-pass rings
  uint8_t mwi_pos;                         // next slot of the integration ring
  int16_t lp1_ring[ECG_LP_TAPS];           // raw codes in the first low-pass boxcar
  int16_t lp1_sum;                         // their sum
  int16_t lp2_ring[ECG_LP_TAPS];           // first boxcar sums in the second boxcar
  int32_t lp2_sum;                         // their sum
  int16_t hp_ring[ECG_HP_LEN];             // low-passed values for the baseline mean
  int32_t hp_sum;                          // their sum
  int16_t bp_ring[ECG_HP_HISTORY];         // band-passed signal, newest at (n - 1)
  uint16_t sq_ring[ECG_MWI_LEN];           // squared slope in the integration window
  uint32_t mwi;                            // integration window sum
  uint32_t prev_mwi;                       // the sum one sample earlier (a new peak starts on a rise)
  uint32_t learn_max;                      // largest integrated value while learning
  uint32_t spk;                            // running QRS peak level (SPKI)
  uint32_t npk;                            // running noise peak level (NPKI)
  uint32_t cand_peak;                      // rising integrated peak under watch, 0 if none
  uint32_t cand_start;                     // sample index where the candidate began
  uint32_t cand_at;                        // sample index of its peak
  uint32_t cand_r;                         // its R-peak index in the band-passed signal
  uint16_t cand_slope;                     // steepest slope inside its window
  uint32_t miss_peak;                      // largest rejected peak since the last QRS (search-back)
  uint32_t miss_at;                        // its sample index
  uint32_t miss_r;                         // its R-peak index
  uint16_t miss_slope;                     // its steepest slope
  uint32_t last_qrs_at;                    // integrated-peak index of the last QRS
  uint16_t last_slope;                     // steepest slope of the last QRS (T-wave test)
  uint16_t rr_avg;                         // average of recent QRS intervals, in samples
  uint32_t decay_at;                       // when the QRS level was last lowered for lack of beats
  uint8_t have_qrs;                        // a QRS was found since the reset
};

// Pulse detector state: smoothed signal, its upstroke slope, and an adaptive
// threshold on the slope's peaks.
struct PpgDetector {
  uint32_t n;                       // samples seen since the last reset
  uint8_t lp_pos;                   // next slot of lp_ring
  uint8_t slope_pos;                // next slot of slope_ring
  int16_t lp_ring[PPG_LP_LEN];      // raw codes in the smoothing boxcar
  int16_t lp_sum;                   // their sum
  int16_t slope_ring[PPG_SLOPE_SPAN]; // smoothed values for the slope
  int16_t level;                    // running level of upstroke peaks
  uint32_t decay_at;                // when the level was last lowered for lack of pulses
  int16_t cand_peak;                // steepest slope of the upstroke in progress, 0 if none
  uint32_t cand_at;                 // its sample index
  uint32_t last_beat_at;            // index of the last accepted upstroke
  uint8_t have_beat;                // an upstroke was accepted since the reset
};

// Beat intervals behind the rate.
struct RateTracker {
  uint16_t intervals[RATE_INTERVALS]; // recent intervals in samples, oldest first
  uint8_t count;                      // how many are valid
  uint32_t last_beat;                 // sample index of the previous beat
  uint8_t have_last;                  // last_beat is valid
};

// Everything the firmware keeps about the heart.
struct HeartMonitor {
  uint8_t ppg;             // 1: optical pulse sensor, 0: ECG front-end
  uint32_t n;              // samples seen
  uint8_t leads_were_off;  // the previous sample had the leads off
  struct EcgDetector ecg;  // used when !ppg
  struct PpgDetector ppg_det; // used when ppg
  struct RateTracker rate; // beat intervals
};

// Starts a detector afresh (also after the leads were off).
void ecg_reset(struct EcgDetector* d);
// Feeds one ADC code (0..1023); returns 1 and the R-peak's sample index when a
// QRS is confirmed. The index counts samples since the reset, in the filtered
// signal (a fixed delay behind the input, which beat intervals do not see).
uint8_t ecg_step(struct EcgDetector* d, int16_t code, uint32_t* beat_at);

void ppg_reset(struct PpgDetector* d);
// Feeds one ADC code; returns 1 and the upstroke's sample index on a pulse.
uint8_t ppg_step(struct PpgDetector* d, int16_t code, uint32_t* beat_at);

void rate_reset(struct RateTracker* r);
// Records a beat; returns the rate in beats per minute to send, or 0 while
// there are too few intervals to trust one.
uint8_t rate_add_beat(struct RateTracker* r, uint32_t beat_at);

void heart_init(struct HeartMonitor* m, uint8_t ppg);
// One 500 Hz sample: the ADC code and whether the leads are off. Returns the
// rate to send now, or 0 for no B line.
uint8_t heart_step(struct HeartMonitor* m, int16_t code, uint8_t leads_off);

// Maps an ADC code (0..1023) onto the 0..1000 of an S line.
uint16_t heart_scale_sample(uint16_t code);

#endif
