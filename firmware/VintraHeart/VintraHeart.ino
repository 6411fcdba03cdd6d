// Vintra heart sensor: turns an Arduino Uno or Nano (ATmega328P, 16 MHz) with an
// analog heart sensor into a device Vintra reads. Samples the sensor at 500 Hz
// and sends, at 115200 baud 8N1, one line "S<n>" per sample (0..1000) and one
// line "B<n>" with the beat rate on every detected beat. Lines end in CR LF.

// ---- Settings --------------------------------------------------------------
#define SENSOR_ECG 0  // ECG front-end (AD8232 class) with leads-off outputs
#define SENSOR_PPG 1  // optical pulse sensor (PPG), analog output
#ifndef HEART_SENSOR
#define HEART_SENSOR SENSOR_ECG  // the sensor attached
#endif
#ifndef SERIAL_BAUD
#define SERIAL_BAUD 115200  // what Vintra expects by default
#endif
const uint8_t SIGNAL_PIN = A0;           // the sensor's analog output
const uint8_t LEADS_OFF_PLUS_PIN = 10;   // AD8232 LO+ (ECG only)
const uint8_t LEADS_OFF_MINUS_PIN = 11;  // AD8232 LO- (ECG only)
const uint8_t BEAT_LED_PIN = LED_BUILTIN; // lights for 50 ms on each beat
// ----------------------------------------------------------------------------

#include <avr/sleep.h>
#include "heart_detector.h"

// PD7 (Arduino pin 7) is high while a sample is being handled: a probe for a
// logic analyser or the simulator to measure the time one sample costs.
#define BUSY_PROBE_ON() (PORTD |= _BV(PD7))
#define BUSY_PROBE_OFF() (PORTD &= (uint8_t)~_BV(PD7))

#define SAMPLE_QUEUE 16  // samples taken but not yet handled (power of two)
#define LEADS_OFF_FLAG 0x8000u

// State shared between the sampling interrupt and the main loop.
struct SamplerState {
  volatile uint16_t queue[SAMPLE_QUEUE]; // ADC codes, LEADS_OFF_FLAG set while the leads are off
  volatile uint8_t head;                 // next slot the interrupt fills
  volatile uint8_t tail;                 // next slot the loop takes
  volatile uint8_t* lo_plus_in;          // input register of LO+
  volatile uint8_t* lo_minus_in;         // input register of LO-
  uint8_t lo_plus_mask;                  // LO+ bit in it
  uint8_t lo_minus_mask;                 // LO- bit in it
};

// State of the main loop.
struct SensorState {
  HeartMonitor heart;       // beat detection and rate
  uint16_t led_off_in;      // samples until the beat LED goes out
  uint16_t lines_dropped;   // lines not sent because the output buffer was full
};

static SamplerState sampler;
static SensorState sensor;

// 500 Hz: takes the conversion started 2 ms ago and starts the next one, so the
// sample instants are exact whatever the main loop is doing.
ISR(TIMER1_COMPA_vect) {
  uint16_t code = ADC;
  ADCSRA |= _BV(ADSC);
  if (HEART_SENSOR == SENSOR_ECG &&
      ((*sampler.lo_plus_in & sampler.lo_plus_mask) || (*sampler.lo_minus_in & sampler.lo_minus_mask)))
    code |= LEADS_OFF_FLAG;
  uint8_t next = (uint8_t)((sampler.head + 1) & (SAMPLE_QUEUE - 1));
  if (next != sampler.tail) {  // the loop is 30 ms behind: never seen, but never overwrite
    sampler.queue[sampler.head] = code;
    sampler.head = next;
  }
}

// Sends one whole line, or nothing when the output buffer cannot take all of
// it: a dropped line is better than a torn one the receiver misreads.
static void send_line(char kind, uint16_t value) {
  char line[8];
  uint8_t len = 0;
  char digits[5];
  uint8_t nd = 0;
  do {
    digits[nd++] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  line[len++] = kind;
  while (nd != 0) line[len++] = digits[--nd];
  line[len++] = '\r';
  line[len++] = '\n';
  if (Serial.availableForWrite() < len) {
    sensor.lines_dropped++;
    return;
  }
  Serial.write((const uint8_t*)line, len);
}

static void start_sampling() {
  analogRead(SIGNAL_PIN);  // selects the channel and AVcc as reference
  ADCSRA |= _BV(ADSC);
  noInterrupts();
  TCCR1A = 0;
  TCCR1B = _BV(WGM12) | _BV(CS11) | _BV(CS10);  // CTC, clock / 64
  OCR1A = F_CPU / 64 / HEART_SAMPLE_HZ - 1;
  TCNT1 = 0;
  TIMSK1 = _BV(OCIE1A);
  interrupts();
}

void setup() {
  Serial.begin(SERIAL_BAUD);
  pinMode(LEADS_OFF_PLUS_PIN, INPUT);
  pinMode(LEADS_OFF_MINUS_PIN, INPUT);
  pinMode(BEAT_LED_PIN, OUTPUT);
  pinMode(7, OUTPUT);
  sampler.lo_plus_in = portInputRegister(digitalPinToPort(LEADS_OFF_PLUS_PIN));
  sampler.lo_minus_in = portInputRegister(digitalPinToPort(LEADS_OFF_MINUS_PIN));
  sampler.lo_plus_mask = digitalPinToBitMask(LEADS_OFF_PLUS_PIN);
  sampler.lo_minus_mask = digitalPinToBitMask(LEADS_OFF_MINUS_PIN);
  heart_init(&sensor.heart, HEART_SENSOR == SENSOR_PPG);
  start_sampling();
}

void loop() {
  noInterrupts();
  if (sampler.tail == sampler.head) {
    // Nothing to do until the next interrupt; sleeping keeps the board cool
    // and lets a simulator skip the idle time.
    set_sleep_mode(SLEEP_MODE_IDLE);
    sleep_enable();
    interrupts();
    sleep_cpu();
    sleep_disable();
    return;
  }
  uint16_t code = sampler.queue[sampler.tail];
  sampler.tail = (uint8_t)((sampler.tail + 1) & (SAMPLE_QUEUE - 1));
  interrupts();

  BUSY_PROBE_ON();
  uint8_t leads_off = (code & LEADS_OFF_FLAG) != 0;
  code &= 0x3FF;
  send_line('S', heart_scale_sample(code));
  uint8_t bpm = heart_step(&sensor.heart, (int16_t)code, leads_off);
  if (bpm != 0) {
    send_line('B', bpm);
    digitalWrite(BEAT_LED_PIN, HIGH);
    sensor.led_off_in = HEART_SAMPLE_HZ / 20;
  } else if (sensor.led_off_in != 0 && --sensor.led_off_in == 0) {
    digitalWrite(BEAT_LED_PIN, LOW);
  }
  BUSY_PROBE_OFF();
}
