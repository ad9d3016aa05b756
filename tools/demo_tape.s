; Demo tape program at 0x1000, marked to run after loading: draws on the
; hires screen, plays a short tune on the sound chip, waits for a key and
; returns to the monitor.
        .setcpu "6502"
        .include "kestrel.inc"

HIRES  = $A000
ROW25  = $BB80 + 25*40          ; text row under the picture; cell 0 holds the mode
px     = $F0
py     = $F1
pp     = $F2                    ; 2
x0     = $F4
x1     = $F5
y0     = $F6
y1     = $F7
t8     = $F8                    ; 2
note   = $FA

        .segment "CODE"
        .org $1000
start:  jsr HGR
        ldx #0
@t:     lda title,x
        beq @bands
        sta ROW25+1,x
        inx
        bne @t
@bands: lda #0                  ; an ink per band of 25 lines
        sta py
@b:     jsr rowaddr
        lda py
        ldx #0
@div:   cmp #25
        bcc @ink
        sbc #25
        inx
        bne @div
@ink:   lda inks,x
        ldy #0
        sta (pp),y
        inc py
        lda py
        cmp #200
        bne @b
        ; frame
        lda #12
        sta x0
        lda #239
        sta x1
        lda #0
        sta y0
        jsr hline
        lda #199
        sta y0
        jsr hline
        lda #0
        sta y0
        lda #199
        sta y1
        lda #12
        sta x0
        jsr vline
        lda #239
        sta x0
        jsr vline
        ; boxes round the middle
        ldx #3
@box:   stx note
        lda #125
        sec
        sbc radius,x
        sta x0
        lda #125
        clc
        adc radius,x
        sta x1
        lda #100
        sec
        sbc radius,x
        sta y0
        lda #100
        clc
        adc radius,x
        sta y1
        jsr box
        ldx note
        dex
        bpl @box
        ; two diagonals
        lda #0
        sta py
@diag:  lda py
        clc
        adc #26
        sta px
        jsr plot
        lda #225
        sec
        sbc py
        sta px
        jsr plot
        inc py
        lda py
        cmp #200
        bne @diag
        lda #<playing
        ldy #>playing
        jsr STROUT
        jsr tune
        lda #<pressm
        ldy #>pressm
        jsr STROUT
        jsr GETKEY
        jsr TEXT
        lda #<donem
        ldy #>donem
        jmp STROUT

; Rectangle x0..x1 by y0..y1.
box:    lda y0
        pha
        lda y1
        pha
        jsr hline
        pla
        sta y0
        pha
        jsr hline
        pla
        sta y1
        pla
        sta y0
        lda x0
        pha
        jsr vline
        lda x1
        sta x0
        jsr vline
        pla
        sta x0
        rts

hline:  lda x0
        sta px
        lda y0
        sta py
@l:     jsr plot
        lda px
        cmp x1
        beq @d
        inc px
        bne @l
@d:     rts

vline:  lda x0
        sta px
        lda y0
        sta py
@l:     jsr plot
        lda py
        cmp y1
        beq @d
        inc py
        bne @l
@d:     rts

; pp = start of hires line py.
rowaddr:
        lda py
        sta pp
        lda #0
        sta pp+1
        asl pp
        rol pp+1
        asl pp
        rol pp+1
        asl pp
        rol pp+1
        lda pp
        sta t8
        lda pp+1
        sta t8+1
        asl pp
        rol pp+1
        asl pp
        rol pp+1
        lda pp
        clc
        adc t8
        sta pp
        lda pp+1
        adc t8+1
        adc #>HIRES
        sta pp+1
        rts

; Pixel px (0-239), py (0-199); cells 0 and 1 of a line hold attributes.
plot:   jsr rowaddr
        lda px
        ldy #0
@d:     cmp #6
        bcc @r
        sbc #6
        iny
        bne @d
@r:     tax
        lda bits,x
        ora (pp),y
        ora #$40
        sta (pp),y
        rts

tune:   ldx #7
        lda #$7E                ; tone on channel A only; port A drives the keyboard
        jsr SNDWR
        ldx #8
        lda #12
        jsr SNDWR
        lda #0
        sta note
@n:     ldy note
        lda melody,y
        beq @end
        ldx #0
        jsr SNDWR
        ldx #1
        lda #0
        jsr SNDWR
        jsr wait
        inc note
        bne @n
@end:   ldx #8
        lda #0
        jmp SNDWR

; About 0.15 s at 1 MHz.
wait:   ldx #110
@o:     ldy #0
@i:     dey
        bne @i
        dex
        bne @o
        rts

bits:   .byte $20, $10, $08, $04, $02, $01
inks:   .byte 1, 3, 2, 6, 4, 5, 7, 3
radius: .byte 20, 40, 60, 80
; tone periods (1 MHz / 16 / frequency) of a short phrase, 0 ends it
melody: .byte 239, 190, 159, 119, 127, 159, 190, 213, 239, 159, 119, 119, 0
title:  .byte "KESTREL TAPE DEMO", 0
playing: .byte "PLAYING A TUNE", 13, 0
pressm: .byte "PRESS A KEY", 0
donem:  .byte "TAPE DEMO FINISHED", 13, 0
