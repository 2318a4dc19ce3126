#!/usr/bin/env bash
# Rebuilds examples/blink.hex from blink.c with the AVR toolchain
# (Debian packages gcc-avr, avr-libc, binutils-avr).
set -euo pipefail
cd "$(dirname "$0")"
avr-gcc -mmcu=atmega168 -Os -Wall -Wextra -o blink.elf blink.c
avr-objcopy -O ihex -R .eeprom blink.elf blink.hex
rm -f blink.elf
echo "examples/blink.hex rebuilt ($(wc -c < blink.hex) bytes)"
