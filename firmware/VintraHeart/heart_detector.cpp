// Beat detection for the heart sensor firmware (see heart_detector.h).
#include "heart_detector.h"

#include <string.h>

// Timing, in samples at 500 Hz.
#define SETTLE 150          // filters filling after a reset: no peaks looked at
#define LEARN 1000          // the first 2 s set the starting thresholds
#define CONFIRM 50          // PPG: an upstroke not exceeded for 100 ms is complete
#define QRS_WINDOW 100      // ECG: a QRS is judged 200 ms after its energy rose
#define REFRACTORY 100      // 200 ms: no second QRS (the heart cannot beat again that soon)
#define T_WAVE_WINDOW 180   // 360 ms: a slow peak this soon after a QRS is taken for its T wave
#define DECAY_EVERY 500     // without beats the levels are halved once a second
#define PPG_REFRACTORY 125  // 250 ms: above the 200 bpm a pulse sensor is expected to show
#define GAP_RESET 1500      // 3 s without a beat: the old intervals no longer describe the heart

// Smallest QRS level (integrated squared slope) taken for a heart beat: about a
// tenth of a millivolt at the front-end's gain. Below it, flat lines and ADC noise.
#define ECG_MIN_LEVEL 40
// Smallest pulse upstroke (16 x codes per 20 ms), about 4 codes.
#define PPG_MIN_SLOPE 64

void ecg_reset(struct EcgDetector* d) {
  memset(d, 0, sizeof *d);
  d->spk = ECG_MIN_LEVEL;
}

// Largest rise of the band-passed signal over the derivative's span, and the
// index of the largest excursion, within the integration window ending at i.
static void ecg_scan_window(const struct EcgDetector* d, uint32_t i, uint32_t* r_at, uint16_t* slope) {
  int16_t best = -1;
  uint16_t steepest = 0;
  uint32_t best_at = i;
  for (uint8_t k = 0; k < ECG_MWI_LEN; ++k) {
    uint32_t j = i - k;
    int16_t v = d->bp_ring[j & (ECG_HP_HISTORY - 1)];
    int16_t a = v < 0 ? (int16_t)-v : v;
    if (a > best) {
      best = a;
      best_at = j;
    }
    int16_t dv = (int16_t)(v - d->bp_ring[(j - 5) & (ECG_HP_HISTORY - 1)]);
    uint16_t s = (uint16_t)(dv < 0 ? -dv : dv);
    if (s > steepest) steepest = s;
  }
  *r_at = best_at;
  *slope = steepest;
}

// A confirmed QRS: adapt the levels and the interval average.
static void ecg_accept(struct EcgDetector* d, uint32_t peak, uint32_t at, uint16_t slope, uint8_t search_back) {
  uint32_t capped = peak > 2 * d->spk ? 2 * d->spk : peak;  // one artefact must not blind the detector
  if (search_back)
    d->spk = d->spk - d->spk / 4 + capped / 4;
  else
    d->spk = d->spk - d->spk / 8 + capped / 8;
  if (d->have_qrs) {
    uint32_t rr = at - d->last_qrs_at;
    if (d->rr_avg == 0) {
      d->rr_avg = (uint16_t)(rr > 1500 ? 1500 : rr);
    } else {
      uint32_t lo = d->rr_avg / 2, hi = 2u * d->rr_avg;
      if (rr < lo) rr = lo;
      if (rr > hi) rr = hi;
      d->rr_avg = (uint16_t)(d->rr_avg - d->rr_avg / 4 + rr / 4);
    }
  }
  d->have_qrs = 1;
  d->last_qrs_at = at;
  d->last_slope = slope;
  d->decay_at = at;
  d->miss_peak = 0;
}

static uint32_t ecg_threshold(const struct EcgDetector* d) {
  uint32_t t = d->npk + (d->spk > d->npk ? (d->spk - d->npk) / 6 : 0);
  return t < ECG_MIN_LEVEL ? ECG_MIN_LEVEL : t;
}

// Decides whether the completed candidate peak is a QRS (returns 1) or noise.
static uint8_t ecg_classify(struct EcgDetector* d) {
  uint32_t peak = d->cand_peak, at = d->cand_at;
  uint32_t since = d->have_qrs ? at - d->last_qrs_at : 0xFFFFFFFFu;
  if (since <= REFRACTORY) return 0;  // still the same beat
  uint8_t t_wave = d->have_qrs && since < T_WAVE_WINDOW && d->cand_slope < d->last_slope / 2;
  if (peak >= ecg_threshold(d) && !t_wave) {
    ecg_accept(d, peak, at, d->cand_slope, 0);
    return 1;
  }
  uint32_t capped = peak > d->spk ? d->spk : peak;
  d->npk = d->npk - d->npk / 8 + capped / 8;
  if (!t_wave && peak > d->miss_peak) {
    d->miss_peak = peak;
    d->miss_at = at;
    d->miss_r = d->cand_r;
    d->miss_slope = d->cand_slope;
  }
  return 0;
}

uint8_t ecg_step(struct EcgDetector* d, int16_t code, uint32_t* beat_at) {
  uint32_t i = d->n++;
  // Low-pass: two 20 ms boxcars (a triangle), which also null 50 Hz mains.
  uint8_t p = d->lp_pos;
  d->lp1_sum = (int16_t)(d->lp1_sum + code - d->lp1_ring[p]);
  d->lp1_ring[p] = code;
  d->lp2_sum += d->lp1_sum - d->lp2_ring[p];
  d->lp2_ring[p] = d->lp1_sum;
  d->lp_pos = (uint8_t)(p + 1 == ECG_LP_TAPS ? 0 : p + 1);
  int16_t lp = (int16_t)(d->lp2_sum >> 4);
  // High-pass: subtract the 128 ms mean centred on the value taken.
  uint8_t h = (uint8_t)(i & (ECG_HP_LEN - 1));
  d->hp_sum += lp - d->hp_ring[h];
  d->hp_ring[h] = lp;
  int16_t bp = (int16_t)(d->hp_ring[(i - ECG_HP_LEN / 2) & (ECG_HP_LEN - 1)] - (int16_t)(d->hp_sum >> 6));
  d->bp_ring[i & (ECG_HP_HISTORY - 1)] = bp;
  // Derivative over 10 ms, squared (clamped so the window sum cannot overflow).
  int32_t dv = (int32_t)bp - d->bp_ring[(i - 5) & (ECG_HP_HISTORY - 1)];
  if (dv > 4000) dv = 4000;
  if (dv < -4000) dv = -4000;
  uint16_t sq = (uint16_t)((uint32_t)(dv * dv) >> 8);
  uint8_t m = d->mwi_pos;
  d->mwi += sq;
  d->mwi -= d->sq_ring[m];
  d->sq_ring[m] = sq;
  d->mwi_pos = (uint8_t)(m + 1 == ECG_MWI_LEN ? 0 : m + 1);

  uint32_t mwi = d->mwi, prev = d->prev_mwi;
  d->prev_mwi = mwi;
  if (i < SETTLE) return 0;
  if (i < LEARN) {
    if (mwi > d->learn_max) d->learn_max = mwi;
    if (i == LEARN - 1) {
      d->spk = d->learn_max / 3 > ECG_MIN_LEVEL ? d->learn_max / 3 : ECG_MIN_LEVEL;
      d->npk = d->learn_max / 16;
      d->decay_at = i;
    }
    return 0;
  }

  // A candidate starts where the integrated signal rises through half the
  // threshold and is judged a fixed time later, on the largest value it
  // reached: wide ventricular beats and narrow ones are reported equally late.
  uint8_t found = 0;
  if (d->cand_peak == 0) {
    if (mwi > prev && mwi >= ecg_threshold(d) / 2 && (!d->have_qrs || i - d->last_qrs_at > REFRACTORY)) {
      d->cand_start = i;
      d->cand_peak = mwi;
      d->cand_at = i;
      ecg_scan_window(d, i, &d->cand_r, &d->cand_slope);
    }
  } else {
    if (mwi > d->cand_peak) {
      d->cand_peak = mwi;
      d->cand_at = i;
      ecg_scan_window(d, i, &d->cand_r, &d->cand_slope);
    }
    if (i - d->cand_start >= QRS_WINDOW) {
      found = ecg_classify(d);
      d->cand_peak = 0;
      if (found) *beat_at = d->cand_r;
    }
  }
  if (found || !d->have_qrs) {
    if (!d->have_qrs && i - d->decay_at >= 2 * DECAY_EVERY) {
      d->spk = d->spk / 2 > ECG_MIN_LEVEL ? d->spk / 2 : ECG_MIN_LEVEL;
      d->npk /= 2;
      d->decay_at = i;
    }
    return found;
  }

  // Search back: a beat overdue by two thirds of an interval was probably a
  // smaller peak already passed over; take the largest one if it is plausible.
  uint32_t since = i - d->last_qrs_at;
  uint32_t overdue = d->rr_avg ? (uint32_t)d->rr_avg * 5 / 3 : 2 * DECAY_EVERY;
  if (since > overdue && d->miss_peak >= ecg_threshold(d) / 2) {
    uint32_t r = d->miss_r;
    ecg_accept(d, d->miss_peak, d->miss_at, d->miss_slope, 1);
    *beat_at = r;
    return 1;
  }
  // Long without any beat: the levels came from something larger (an
  // artefact, a stronger signal before); lower them until beats show again.
  if (since > overdue && i - d->decay_at >= DECAY_EVERY) {
    d->spk = d->spk / 2 > ECG_MIN_LEVEL ? d->spk / 2 : ECG_MIN_LEVEL;
    d->npk /= 2;
    d->decay_at = i;
  }
  return 0;
}

void ppg_reset(struct PpgDetector* d) { memset(d, 0, sizeof *d); }

uint8_t ppg_step(struct PpgDetector* d, int16_t code, uint32_t* beat_at) {
  uint32_t i = d->n++;
  uint8_t p = d->lp_pos;
  d->lp_sum = (int16_t)(d->lp_sum + code - d->lp_ring[p]);
  d->lp_ring[p] = code;
  d->lp_pos = (uint8_t)((p + 1) & (PPG_LP_LEN - 1));
  uint8_t s = d->slope_pos;
  int16_t slope = (int16_t)(d->lp_sum - d->slope_ring[s]);
  d->slope_ring[s] = d->lp_sum;
  d->slope_pos = (uint8_t)(s + 1 == PPG_SLOPE_SPAN ? 0 : s + 1);
  if (i < SETTLE) return 0;

  if (d->cand_peak != 0) {
    if (slope > d->cand_peak) {
      d->cand_peak = slope;
      d->cand_at = i;
      return 0;
    }
    // The upstroke is over once its slope halved (or after 100 ms at most).
    if (slope > d->cand_peak / 2 && i - d->cand_at < CONFIRM) return 0;
    int16_t peak = d->cand_peak;
    d->cand_peak = 0;
    if (!d->have_beat) {
      d->level = peak;
    } else {
      int16_t capped = peak > 2 * d->level ? (int16_t)(2 * d->level) : peak;
      d->level = (int16_t)(d->level - d->level / 4 + capped / 4);
    }
    d->have_beat = 1;
    d->last_beat_at = d->cand_at;
    d->decay_at = i;
    // Offset of the slope's centre, so the index falls on the upstroke itself.
    *beat_at = d->cand_at - (PPG_SLOPE_SPAN + PPG_LP_LEN) / 2;
    return 1;
  }
  int16_t threshold = d->level / 2 > PPG_MIN_SLOPE ? (int16_t)(d->level / 2) : (int16_t)PPG_MIN_SLOPE;
  if (slope > threshold && (!d->have_beat || i - d->last_beat_at > PPG_REFRACTORY)) {
    d->cand_peak = slope;
    d->cand_at = i;
    return 0;
  }
  // Without pulses the level sinks, so a weaker pulse (sensor moved) is found again.
  if (d->have_beat && i - d->last_beat_at > 3 * DECAY_EVERY / 2 && i - d->decay_at >= DECAY_EVERY) {
    d->level = (int16_t)(d->level / 2);
    d->decay_at = i;
  }
  return 0;
}

void rate_reset(struct RateTracker* r) { memset(r, 0, sizeof *r); }

uint8_t rate_add_beat(struct RateTracker* r, uint32_t beat_at) {
  if (!r->have_last) {
    r->have_last = 1;
    r->last_beat = beat_at;
    return 0;
  }
  uint32_t iv = beat_at - r->last_beat;
  r->last_beat = beat_at;
  if (iv > GAP_RESET || iv == 0) {
    r->count = 0;
    return 0;
  }
  if (r->count == RATE_INTERVALS) {
    memmove(r->intervals, r->intervals + 1, sizeof r->intervals[0] * (RATE_INTERVALS - 1));
    r->count--;
  }
  r->intervals[r->count++] = (uint16_t)iv;
  // One interval alone could be a missed or an extra beat; three give a median.
  if (r->count < 3) return 0;
  uint16_t sorted[RATE_INTERVALS];
  uint8_t c = r->count;
  for (uint8_t a = 0; a < c; ++a) {
    uint16_t v = r->intervals[a];
    uint8_t b = a;
    for (; b > 0 && sorted[b - 1] > v; --b) sorted[b] = sorted[b - 1];
    sorted[b] = v;
  }
  uint32_t med = sorted[c / 2];
  uint32_t bpm = (60u * HEART_SAMPLE_HZ + med / 2) / med;
  return (uint8_t)(bpm > 254 ? 254 : bpm);
}

void heart_init(struct HeartMonitor* m, uint8_t ppg) {
  memset(m, 0, sizeof *m);
  m->ppg = ppg;
  ecg_reset(&m->ecg);
  ppg_reset(&m->ppg_det);
  rate_reset(&m->rate);
}

uint8_t heart_step(struct HeartMonitor* m, int16_t code, uint8_t leads_off) {
  m->n++;
  if (leads_off) {
    m->leads_were_off = 1;
    return 0;
  }
  if (m->leads_were_off) {
    // Whatever the detector learnt before no longer fits the electrodes now.
    m->leads_were_off = 0;
    ecg_reset(&m->ecg);
    ppg_reset(&m->ppg_det);
    rate_reset(&m->rate);
  }
  uint32_t at = 0;
  uint32_t seen;
  uint8_t beat;
  if (m->ppg) {
    beat = ppg_step(&m->ppg_det, code, &at);
    seen = m->ppg_det.n;
  } else {
    beat = ecg_step(&m->ecg, code, &at);
    seen = m->ecg.n;
  }
  if (!beat) return 0;
  return rate_add_beat(&m->rate, m->n - (seen - at));
}

uint16_t heart_scale_sample(uint16_t code) {
  if (code > 1023) code = 1023;
  return (uint16_t)(((uint32_t)code * 1000u + 511u) / 1023u);
}
