// heart-rig: runs the heart sensor firmware (an ATmega328P ELF) in simavr at
// 16 MHz, drives its analog input with a recorded or synthetic signal and
// passes what its UART sends to standard output or to a pseudo-terminal.
//
//   heart-rig ELF SIGNAL [--pty [--link PATH]] [--realtime] [--seconds N] [--loop]
//
// --pty sends to a fresh pseudo-terminal instead of standard output, prints
// its device path as the first line on standard output and, with --link,
// links PATH to it (removed at the end), so several rigs can run side by side.
//
// SIGNAL is a text file: the first line is the sample rate in Hz, then one line
// per sample "<millivolts at the pin> [<1 while the leads are off>]". The pin
// follows the samples linearly; "leads off" raises the firmware's LO+ and LO-
// inputs (Arduino pins 10 and 11). The run ends with the signal (or after
// --seconds; --loop repeats the signal) and reports on stderr the cycles the
// firmware spent per sample (its busy probe on pin 7) against the 2 ms budget.
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <pty.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <avr_adc.h>
#include <avr_ioport.h>
#include <avr_uart.h>
#include <sim_avr.h>
#include <sim_elf.h>

#define MCU_HZ 16000000ull

// The rig's whole state.
static struct {
  avr_t* avr;                 // the simulated microcontroller
  float* mv;                  // pin voltage per signal sample, millivolts
  unsigned char* leads_off;   // 1 where the leads are off
  size_t count;               // signal samples
  double rate;                // signal sample rate, Hz
  int loop;                   // repeat the signal
  int out_fd;                 // where UART bytes go
  int leads_were_off;         // last level driven onto LO+/LO-
  avr_cycle_count_t probe_rise; // cycle at which the busy probe went high
  avr_cycle_count_t probe_max;  // longest busy period, cycles
  unsigned long long probe_sum; // sum of busy periods
  unsigned long probe_count;    // busy periods seen
  unsigned long long uart_bytes; // bytes the firmware sent
  volatile sig_atomic_t stop;    // SIGINT/SIGTERM seen
} rig;

// Signal position at the simulated time now, wrapping when looping.
static size_t signal_index(double t, double* frac) {
  double pos = t * rig.rate;
  size_t i = (size_t)pos;
  *frac = pos - (double)i;
  if (rig.loop) return i % rig.count;
  return i < rig.count ? i : rig.count - 1;
}

// The firmware started a conversion: answer with the pin voltage now.
static void on_adc_trigger(avr_irq_t* irq, uint32_t value, void* param) {
  (void)irq; (void)value; (void)param;
  double frac;
  size_t i = signal_index((double)rig.avr->cycle / MCU_HZ, &frac);
  size_t j = i + 1 < rig.count ? i + 1 : (rig.loop ? 0 : i);
  double mv = rig.mv[i] + (rig.mv[j] - rig.mv[i]) * frac;
  if (mv < 0) mv = 0;
  if (mv > 5000) mv = 5000;
  int off = rig.leads_off[i];
  if (off != rig.leads_were_off) {
    rig.leads_were_off = off;
    avr_raise_irq(avr_io_getirq(rig.avr, AVR_IOCTL_IOPORT_GETIRQ('B'), 2), off);
    avr_raise_irq(avr_io_getirq(rig.avr, AVR_IOCTL_IOPORT_GETIRQ('B'), 3), off);
  }
  avr_raise_irq(avr_io_getirq(rig.avr, AVR_IOCTL_ADC_GETIRQ, ADC_IRQ_ADC0), (uint32_t)mv);
}

static void on_uart_byte(avr_irq_t* irq, uint32_t value, void* param) {
  (void)irq; (void)param;
  unsigned char b = (unsigned char)value;
  rig.uart_bytes++;
  // A pseudo-terminal nobody reads fills up: drop, as a cable would.
  if (write(rig.out_fd, &b, 1) < 0 && errno != EAGAIN) rig.stop = 1;
}

static void on_busy_probe(avr_irq_t* irq, uint32_t value, void* param) {
  (void)irq; (void)param;
  if (value) {
    rig.probe_rise = rig.avr->cycle;
  } else if (rig.probe_rise) {
    avr_cycle_count_t d = rig.avr->cycle - rig.probe_rise;
    if (d > rig.probe_max) rig.probe_max = d;
    rig.probe_sum += d;
    rig.probe_count++;
  }
}

// simavr would otherwise pace the firmware's sleep to the wall clock.
static void no_sleep(avr_t* avr, avr_cycle_count_t how_long) { (void)avr; (void)how_long; }

static void on_signal(int sig) { (void)sig; rig.stop = 1; }

static int load_signal(const char* path) {
  FILE* f = fopen(path, "r");
  if (!f) { perror(path); return -1; }
  if (fscanf(f, "%lf", &rig.rate) != 1 || rig.rate <= 0) { fprintf(stderr, "%s: no sample rate\n", path); fclose(f); return -1; }
  size_t cap = 1 << 16;
  rig.mv = malloc(cap * sizeof *rig.mv);
  rig.leads_off = malloc(cap);
  char line[128];
  if (!fgets(line, sizeof line, f)) line[0] = 0;  // rest of the rate line
  while (rig.mv && rig.leads_off && fgets(line, sizeof line, f)) {
    float mv;
    int off = 0;
    if (sscanf(line, "%f %d", &mv, &off) < 1) continue;
    if (rig.count == cap) {
      cap *= 2;
      rig.mv = realloc(rig.mv, cap * sizeof *rig.mv);
      rig.leads_off = realloc(rig.leads_off, cap);
      if (!rig.mv || !rig.leads_off) break;
    }
    rig.mv[rig.count] = mv;
    rig.leads_off[rig.count++] = (unsigned char)(off != 0);
  }
  fclose(f);
  if (!rig.mv || !rig.leads_off || rig.count < 2) { fprintf(stderr, "%s: no samples\n", path); return -1; }
  return 0;
}

// A pseudo-terminal in raw mode; its device path goes to `announce` and is
// linked at `path` (if given). Returns the master, or -1.
static int open_pty(const char* path, int announce, int* slave) {
  int master;
  char name[128];
  if (openpty(&master, slave, name, NULL, NULL) < 0) { perror("openpty"); return -1; }
  struct termios t;
  tcgetattr(*slave, &t);
  cfmakeraw(&t);
  tcsetattr(*slave, TCSANOW, &t);
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  if (path) {
    unlink(path);
    if (symlink(name, path) < 0) { perror(path); close(master); return -1; }
  }
  dprintf(announce, "%s\n", name);
  return master;
}

int main(int argc, char** argv) {
  const char* link_path = NULL;
  const char* files[2] = {NULL, NULL};
  double seconds = 0;
  int realtime = 0, use_pty = 0, nfiles = 0;
  for (int a = 1; a < argc; ++a) {
    if (!strcmp(argv[a], "--pty")) use_pty = 1;
    else if (!strcmp(argv[a], "--link") && a + 1 < argc) link_path = argv[++a];
    else if (!strcmp(argv[a], "--seconds") && a + 1 < argc) seconds = atof(argv[++a]);
    else if (!strcmp(argv[a], "--realtime")) realtime = 1;
    else if (!strcmp(argv[a], "--loop")) rig.loop = 1;
    else if (argv[a][0] != '-' && nfiles < 2) files[nfiles++] = argv[a];
    else { fprintf(stderr, "unknown argument: %s\n", argv[a]); return 2; }
  }
  if (nfiles != 2 || (link_path && !use_pty)) {
    fprintf(stderr, "usage: %s ELF SIGNAL [--pty [--link PATH]] [--realtime] [--seconds N] [--loop]\n", argv[0]);
    return 2;
  }
  if (load_signal(files[1]) < 0) return 1;
  if (seconds <= 0) seconds = rig.loop ? 1e9 : (double)rig.count / rig.rate;

  // simavr prints "Loaded ..." on stdout; keep stdout for the UART bytes.
  int uart_out = dup(STDOUT_FILENO);
  dup2(STDERR_FILENO, STDOUT_FILENO);
  int slave = -1;
  rig.out_fd = uart_out;
  if (use_pty) {
    if ((rig.out_fd = open_pty(link_path, uart_out, &slave)) < 0) return 1;
    close(uart_out);
  }

  elf_firmware_t fw;
  memset(&fw, 0, sizeof fw);
  if (elf_read_firmware(files[0], &fw) != 0) { fprintf(stderr, "%s: cannot read\n", files[0]); return 1; }
  rig.avr = avr_make_mcu_by_name("atmega328p");
  if (!rig.avr) return 1;
  avr_init(rig.avr);
  avr_load_firmware(rig.avr, &fw);
  rig.avr->frequency = MCU_HZ;
  rig.avr->vcc = rig.avr->avcc = rig.avr->aref = 5000;
  rig.avr->sleep = no_sleep;
  rig.avr->log = 0;

  uint32_t flags = 0;
  avr_ioctl(rig.avr, AVR_IOCTL_UART_GET_FLAGS('0'), &flags);
  flags &= ~(uint32_t)(AVR_UART_FLAG_STDIO | AVR_UART_FLAG_POLL_SLEEP);
  avr_ioctl(rig.avr, AVR_IOCTL_UART_SET_FLAGS('0'), &flags);
  avr_irq_register_notify(avr_io_getirq(rig.avr, AVR_IOCTL_UART_GETIRQ('0'), UART_IRQ_OUTPUT), on_uart_byte, NULL);
  avr_irq_register_notify(avr_io_getirq(rig.avr, AVR_IOCTL_ADC_GETIRQ, ADC_IRQ_OUT_TRIGGER), on_adc_trigger, NULL);
  avr_irq_register_notify(avr_io_getirq(rig.avr, AVR_IOCTL_IOPORT_GETIRQ('D'), 7), on_busy_probe, NULL);

  signal(SIGINT, on_signal);
  signal(SIGTERM, on_signal);
  signal(SIGPIPE, SIG_IGN);
  struct timespec start;
  clock_gettime(CLOCK_MONOTONIC, &start);
  avr_cycle_count_t end = (avr_cycle_count_t)(seconds * MCU_HZ);
  avr_cycle_count_t next_pace = 0;
  int state = cpu_Running;
  while (!rig.stop && rig.avr->cycle < end && state != cpu_Done && state != cpu_Crashed) {
    state = avr_run(rig.avr);
    if (realtime && rig.avr->cycle >= next_pace) {
      // Hold the simulated clock at the wall clock, checked every millisecond.
      next_pace = rig.avr->cycle + MCU_HZ / 1000;
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      double ahead = (double)rig.avr->cycle / MCU_HZ - ((double)(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) * 1e-9);
      if (ahead > 0.001) usleep((useconds_t)(ahead * 1e6));
    }
  }
  if (link_path) unlink(link_path);
  if (state == cpu_Crashed) { fprintf(stderr, "heart-rig: the firmware crashed\n"); return 1; }
  fprintf(stderr, "heart-rig: %.1f s simulated, %llu UART bytes; per sample: %lu samples, cycles max %llu mean %.0f of %llu\n",
          (double)rig.avr->cycle / MCU_HZ, rig.uart_bytes, rig.probe_count, (unsigned long long)rig.probe_max,
          rig.probe_count ? (double)rig.probe_sum / rig.probe_count : 0.0, MCU_HZ / 500);
  (void)slave;
  return 0;
}
