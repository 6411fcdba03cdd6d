#!/usr/bin/env bash
# Builds the sketch for an ATmega328P at 16 MHz with Debian's gcc-avr, avr-libc
# and arduino-core-avr, without the Arduino IDE:
#   build-firmware.sh OUT_DIR [ecg|ppg|overrun] [--check-size]
# leaves OUT_DIR/VintraHeart-<mode>.elf and .hex and prints flash and RAM use;
# --check-size fails when either takes more than three quarters of the chip
# (RAM: the stack needs the rest). "overrun" is the ECG build at 9600 baud, a
# line too slow for 500 lines a second, to show lines are then dropped whole.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
out="$(realpath -m "$1")"
mode="${2:-ecg}"
baud=115200
case "$mode" in
  ecg) sensor=SENSOR_ECG ;;
  ppg) sensor=SENSOR_PPG ;;
  overrun) sensor=SENSOR_ECG; baud=9600 ;;
  *) echo "mode: ecg, ppg or overrun" >&2; exit 2 ;;
esac
core=/usr/share/arduino/hardware/arduino/avr
obj="$out/obj-$mode"
mkdir -p "$obj"

# gcc-avr 5.4 lacks DECIMAL_DIG, which Debian 12's WString.cpp uses.
flags=(-mmcu=atmega328p -DF_CPU=16000000L -DARDUINO=10807 -DARDUINO_AVR_UNO -DARDUINO_ARCH_AVR
       -DDECIMAL_DIG=__DECIMAL_DIG__ -DHEART_SENSOR="$sensor" -DSERIAL_BAUD="$baud"
       -Os -ffunction-sections -fdata-sections -flto -fno-fat-lto-objects
       -I"$core/cores/arduino" -I"$core/variants/standard" -I"$here/VintraHeart")
cflags=(-std=gnu11 "${flags[@]}")
cxxflags=(-std=gnu++11 -fno-exceptions -fno-threadsafe-statics -fpermissive "${flags[@]}")

# The core as Arduino ships it: its warnings are not ours to fix.
objs=()
for src in "$core"/cores/arduino/*.c "$core"/cores/arduino/*.S; do
  o="$obj/$(basename "$src").o"
  avr-gcc "${cflags[@]}" -w -x "$( [[ $src == *.S ]] && echo assembler-with-cpp || echo c)" -c "$src" -o "$o"
  objs+=("$o")
done
for src in "$core"/cores/arduino/*.cpp; do
  o="$obj/$(basename "$src").o"
  avr-g++ "${cxxflags[@]}" -w -c "$src" -o "$o"
  objs+=("$o")
done
# The sketch as the IDE compiles it: Arduino.h in front of the .ino.
{ echo '#include <Arduino.h>'; echo "#line 1 \"$here/VintraHeart/VintraHeart.ino\""; cat "$here/VintraHeart/VintraHeart.ino"; } > "$obj/VintraHeart.ino.cpp"
avr-g++ "${cxxflags[@]}" -Wall -Wextra -c "$obj/VintraHeart.ino.cpp" -o "$obj/sketch.o"
avr-g++ "${cxxflags[@]}" -Wall -Wextra -c "$here/VintraHeart/heart_detector.cpp" -o "$obj/heart_detector.o"

elf="$out/VintraHeart-$mode.elf"
avr-gcc -mmcu=atmega328p -Os -flto -fuse-linker-plugin -Wl,--gc-sections -o "$elf" \
  "$obj/sketch.o" "$obj/heart_detector.o" "${objs[@]}" -lm
avr-objcopy -O ihex -R .eeprom "$elf" "$out/VintraHeart-$mode.hex"
# Flash: text + initialised data; RAM: data + bss (the stack takes the rest).
avr-size -A "$elf" | awk -v m="$mode" -v check="${3:-}" '
  $1==".text"{t=$2} $1==".data"{d=$2} $1==".bss"{b=$2}
  END{printf "%s: flash %d of 32256 bytes, static RAM %d of 2048 bytes\n", m, t+d, d+b
      if (check == "--check-size" && (t+d > 32256*3/4 || d+b > 2048*3/4)) { print "too large"; exit 1 }}'
