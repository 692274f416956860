; Tervix example application for a PIC18F452 board with the serial bootloader.
;
; The bootloader keeps 0x0000-0x01FF for itself and starts the application at 0x0200 once the
; run-mode flag (data EEPROM 0xFF) reads 0x00, so the reset and interrupt vectors of this
; program sit 0x200 higher than on a bare chip. It blinks an LED on RB0 with the pace taken
; from data EEPROM byte 0, and shows the board's greeting from the EEPROM on PORTD one
; character at a time.
;
; Re-assemble with `make -C examples` (needs gputils); blink.hex is shipped so the build does
; not need gpasm.

        list    p=18f452, r=dec
        #include <p18f452.inc>
        errorlevel -302, -1301  ; every register used lies in the access bank

        ; HS crystal, no watchdog, no low-voltage programming (the bootloader owns RB5).
        CONFIG  OSC = HS, WDT = OFF, LVP = OFF

pace    equ     0x00            ; EEPROM: delay loops per half period
text    equ     0x01            ; EEPROM: greeting, zero-terminated

        cblock  0x000
        delay_outer
        delay_inner
        delay_count
        cursor
        endc

        org     0x0200          ; reset vector as the bootloader calls it
        goto    main

        org     0x0208          ; high-priority interrupt vector
        retfie  FAST

        org     0x0218          ; low-priority interrupt vector
        retfie

main:
        clrf    LATB
        clrf    TRISB           ; PORTB drives the LED
        clrf    LATD
        clrf    TRISD           ; PORTD shows the greeting
        movlw   text
        movwf   cursor

loop:
        btg     LATB, 0         ; LED on RB0
        movf    cursor, W
        rcall   eeprom_read
        bnz     show
        movlw   text            ; end of the greeting: start it again
        movwf   cursor
        bra     wait
show:
        movwf   LATD
        incf    cursor, F
wait:
        movlw   pace
        rcall   eeprom_read
        movwf   delay_count
        rcall   delay
        bra     loop

; W = EEPROM address on entry, the byte at it on return (Z set when it is 0).
eeprom_read:
        movwf   EEADR
        bcf     EECON1, EEPGD   ; data EEPROM, not program memory
        bcf     EECON1, CFGS
        bsf     EECON1, RD
        movf    EEDATA, W
        return

; About delay_count x 65536 instruction cycles.
delay:
        clrf    delay_outer
delay_o:
        clrf    delay_inner
delay_i:
        decfsz  delay_inner, F
        bra     delay_i
        decfsz  delay_outer, F
        bra     delay_o
        decfsz  delay_count, F
        bra     delay
        return

        org     0xF00000        ; data EEPROM (0xFF is the bootloader's run-mode flag)
        de      20              ; pace
        de      "Tervix", 0

        ; ID locations: the release, 1.0.0.1
        __idlocs _IDLOC0, 1
        __idlocs _IDLOC1, 0
        __idlocs _IDLOC2, 0
        __idlocs _IDLOC3, 1

        end
