/* Example firmware for the ATmega168: blinks an LED on PB5 and echoes a heartbeat counter on
   port D. Built with avr-gcc by build-example.sh into blink.hex. */
#include <avr/io.h>
#include <avr/interrupt.h>
#include <stdint.h>

#define F_CPU_HZ 16000000UL

static volatile uint16_t ticks;

/* Timer 1 compare match A fires every 10 ms. */
ISR(TIMER1_COMPA_vect) { ticks++; }

static void timer_init(void) {
  TCCR1A = 0;
  TCCR1B = (1 << WGM12) | (1 << CS11) | (1 << CS10); /* CTC, clock / 64 */
  OCR1A = (uint16_t)(F_CPU_HZ / 64 / 100 - 1);
  TIMSK1 = (1 << OCIE1A);
}

static uint16_t now(void) {
  uint16_t t;
  cli();
  t = ticks;
  sei();
  return t;
}

int main(void) {
  uint8_t beat = 0;
  uint16_t last = 0;
  DDRB |= (1 << DDB5);
  DDRD = 0xFF;
  timer_init();
  sei();
  for (;;) {
    uint16_t t = now();
    if ((uint16_t)(t - last) >= 50) { /* 500 ms */
      last = t;
      PORTB ^= (1 << PORTB5);
      PORTD = ++beat;
    }
  }
}
