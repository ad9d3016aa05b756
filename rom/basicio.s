; BASIC's machine statements: the sound chip and the hires screen.

; A whole numbers separated by commas into ARGS, two bytes each.
getargs:
        sta ai
        ldx #0
@l:     txa
        pha
        beq @f
        lda #','
        jsr chkc
@f:     jsr getint
        pla
        tax
        lda ival
        sta ARGS,x
        lda ival+1
        sta ARGS+1,x
        inx
        inx
        dec ai
        bne @l
        rts

badarg: jmp err_qty

; ---- sound -------------------------------------------------------------------------
; SOUND channel, period, volume: channels 1-3 are the tones A-C, 4-6 the
; noise mixed into A-C (its period 0-31). Volume 0-15.
s_sound:
        lda #3
        jsr getargs
sound3: lda ARGS
        sec
        sbc #1
        cmp #6
        bcs badarg
        sta ctmp
        cmp #3
        bcs @noise
        asl
        tax                     ; tone period registers
        lda ARGS+2
        jsr sndwr
        inx
        lda ARGS+3
        and #$0F
        jsr sndwr
        bpl @mix
@noise: ldx #6
        lda ARGS+2
        and #$1F
        jsr sndwr
@mix:   ldx ctmp                ; tone bits 0-2, noise bits 3-5
        lda bitmask,x
        eor #$FF
        and mixer
        ora #$40                ; port A stays the keyboard's output
        ldx #7
        jsr sndwr
        lda ctmp
        cmp #3
        bcc @v
        sbc #3
@v:     ora #8
        tax
        lda ARGS+4
        and #$0F
        jmp sndwr

; MUSIC channel 1-3, octave 0-7, note 1-12 (C to B), volume 0-15.
s_music:
        lda #4
        jsr getargs
        ldy ARGS+4
        dey
        cpy #12
        bcs badarg
        lda ARGS+2
        cmp #8
        bcs badarg
        tax
        lda notelo,y
        sta ARGS+2
        lda notehi,y
        sta ARGS+3
        txa
        beq @p
@o:     lsr ARGS+3
        ror ARGS+2
        dex
        bne @o
@p:     lda ARGS+6
        sta ARGS+4
        lda ARGS
        cmp #4
        bcs @bad
        jmp sound3
@bad:   jmp err_qty
; Tone periods of octave 0 at 1 MHz (C is 32.7 Hz).
notelo: .lobytes 1911, 1804, 1703, 1607, 1517, 1432, 1351, 1276, 1204, 1136, 1073, 1012
notehi: .hibytes 1911, 1804, 1703, 1607, 1517, 1432, 1351, 1276, 1204, 1136, 1073, 1012

; PLAY tones, noises, shape, period: the channels in the tones mask (1 A,
; 2 B, 4 C) and the noises mask sound under the envelope of that shape
; (0-15) and period; the rest fall silent. PLAY 0,0,0,0 is quiet.
s_play: lda #4
        jsr getargs
        lda ARGS+2
        and #7
        asl
        asl
        asl
        sta ctmp
        lda ARGS
        and #7
        ora ctmp
        sta ctmp
        eor #$3F
        ora #$40
        ldx #7
        jsr sndwr
        ldy #0
@v:     lda ctmp
        and bitmask,y
        bne @on
        lda ctmp
        and bitmask+3,y
@on:    beq @w
        lda #$10
@w:     pha
        tya
        ora #8
        tax
        pla
        jsr sndwr
        iny
        cpy #3
        bne @v
        ldx #11
        lda ARGS+6
        jsr sndwr
        inx
        lda ARGS+7
        jsr sndwr
        inx
        lda ARGS+4
        jmp sndwr

; The effects: all fourteen registers from a table.
s_ping: ldy #0
        .byte $2C
s_shoot:
        ldy #14
        .byte $2C
s_explode:
        ldy #28
        .byte $2C
s_zapset:
        ldy #42
        ldx #0
@l:     lda sfxtab,y
        jsr sndwr
        iny
        inx
        cpx #14
        bne @l
        rts
; ZAP: a tone falling for a tenth of a second.
s_zap:  jsr s_zapset
        ldy #0
@t:     tya
        asl
        asl
        ldx #0
        jsr sndwr
@d:     dex
        bne @d
        iny
        cpy #64
        bne @t
        ldx #8
        lda #0
        jmp sndwr
;              A period  B period  C period  noise mixer  volumes      envelope     shape
sfxtab: .byte $30, $00, $00, $00, $00, $00, $00, $7E, $10, $00, $00, $00, $08, $00 ; PING
        .byte $00, $00, $00, $00, $00, $00, $0F, $77, $10, $00, $00, $00, $03, $00 ; SHOOT
        .byte $00, $00, $00, $00, $00, $00, $1F, $67, $10, $10, $00, $00, $18, $00 ; EXPLODE
        .byte $00, $00, $00, $00, $00, $00, $00, $7E, $0F, $00, $00, $00, $00, $00 ; ZAP

; ---- hires ------------------------------------------------------------------------
; The hires picture is 240 x 200: 40 bytes a line, six pixels a byte (bit 5
; leftmost), bit 6 set in picture bytes. A cursor (hx, hy) and a mode fb:
; 0 clears, 1 sets, 2 inverts, 3 leaves the pixels as they are.

; Plots the cursor's pixel when the dash pattern's next bit is set:
; DRAW and CIRCLE step through the pattern, one bit a point.
hplotp: lda hpat                ; held inverted: 0 is a solid line
        asl
        adc #0
        sta hpat
        lsr
        bcs hret
; Plots the cursor's pixel.
hplot:  lda hfb
        cmp #3
        beq hret
        jsr haddr
        ldy #0
        ldx hfb
        beq @clr
        dex
        beq @set
        eor (bp),y
        bcs @w
@set:   ora (bp),y
        bcs @w
@clr:   eor #$FF
        and (bp),y
@w:     sta (bp),y
hret:   rts

; bp := the cursor's byte, A := its pixel's bit; C=1.
haddr:  lda hy
        ldx #0
        stx bp+1
        asl
        rol bp+1
        asl
        rol bp+1
        asl
        rol bp+1
        sta bp                  ; 8 y
        ldx bp+1
        asl
        rol bp+1
        asl
        rol bp+1                ; 32 y
        clc
        adc bp
        sta bp
        txa
        adc bp+1
        adc #>HIRES
        sta bp+1
        lda hx
        ldx #0
@d:     cmp #6
        bcc @m
        sbc #6
        inx
        bne @d
@m:     tay
        txa
        clc
        adc bp
        sta bp
        bcc @b
        inc bp+1
@b:     lda pixbit,y
        sec
        rts
pixbit: .byte $20, $10, $08, $04, $02, $01

; A = ARGS+X (16 bits) + the cursor coordinate Y (0 x, 1 y) checked against
; its limit: 240 across, 200 down.
hcoord: clc
        lda hx,y
        adc ARGS,x
        pha
        lda #0
        adc ARGS+1,x
        bne badarg2
        pla
        cmp hlim,y
        bcs badarg2
        rts
badarg2:
        jmp err_qty
hlim:   .byte 240, 200

; CURSET x, y, fb moves the cursor and plots; CURMOV dx, dy, fb moves it by
; that much.
s_curset:
        lda #0
        sta hx
        sta hy
s_curmov:
        lda #3
        jsr getargs
        ldx #0
        ldy #0
        jsr hcoord
        pha
        ldx #2
        iny
        jsr hcoord
        sta hy
        pla
        sta hx
        lda ARGS+4
        and #3
        sta hfb
        jmp hplot

; DRAW dx, dy, fb: a line from the cursor, which ends at its far end.
s_draw: lda #3
        jsr getargs
        lda ARGS+4
        and #3
        sta hfb
        ldx #0
        ldy #0
        jsr hcoord              ; the far end must be on the screen
        ldx #2
        iny
        jsr hcoord
        ldx #0
        jsr @abs
        sta hdx
        sty hsx
        ldx #2
        jsr @abs
        sta hdy
        sty hsy
        ldx hdx                 ; X the longer side, Y the shorter
        ldy hdy
        cpx hdy
        ror ai                  ; bit 7: across is the longer
        bmi @o
        ldx hdy
        ldy hdx
@o:     stx hn
        stx herr+1
        sty hn+1
        txa
        lsr
        sta herr
        jsr hplotp
@l:     lda hn
        beq @r
        dec hn
        jsr @smaj
        lda herr
        clc
        adc hn+1
        bcs @mn
        cmp herr+1
        bcc @keep
@mn:    sbc herr+1
        sta herr
        jsr @smin
        jmp @p
@keep:  sta herr
@p:     jsr hplotp
        jmp @l
@r:     rts
@smaj:  bit ai
        bmi @sx
        bpl @sy
@smin:  bit ai
        bmi @sy
@sx:    lda hx
        clc
        adc hsx
        sta hx
        rts
@sy:    lda hy
        clc
        adc hsy
        sta hy
        rts
; A := |ARGS+X| (low byte), Y := its sign step, +1 or -1.
@abs:   ldy #1
        lda ARGS+1,x
        bpl @pos
        ldy #$FF
        lda #0
        sec
        sbc ARGS,x
        rts
@pos:   lda ARGS,x
        rts

; POINT(x, y): -1 when the pixel is set.
f_point:
        lda #'('
        jsr chkc
        lda hx
        pha
        lda hy
        pha
        lda #0
        sta hx
        sta hy
        lda #2
        jsr getargs
        lda #')'
        jsr chkc
        ldx #0
        ldy #0
        jsr hcoord
        sta hx
        ldx #2
        iny
        jsr hcoord
        sta hy
        jsr haddr
        ldy #0
        and (bp),y
        tax
        pla
        sta hy
        pla
        sta hx
        txa
        beq @f
        jmp settrue
@f:     jmp setfalse

; CIRCLE r, fb: around the cursor, by the midpoint rule; points off the
; screen are left out.
s_circle:
        lda #2
        jsr getargs
        lda ARGS+2
        and #3
        sta hfb
        lda hx
        sta hcx
        lda hy
        sta hcy
        lda ARGS
        sta hdx                 ; x
        lda #0
        sta hdy                 ; y
        sec
        lda #1
        sbc ARGS
        sta herr                ; 1 - r
        lda #0
        sbc #0
        sta herr+1
@l:     lda hdx
        cmp hdy
        bcc @done
        jsr plot8
        lda herr+1
        bmi @in
        dec hdx                 ; outside: d += 2 (y - x) + 1
        lda hdy
        sec
        sbc hdx
        sta dt
        lda #0
        sbc #0
        sta dt+1
        jmp @add
@in:    lda hdy                 ; inside: d += 2 y + 1
        sta dt
        lda #0
        sta dt+1
@add:   asl dt
        rol dt+1
        sec
        lda herr
        adc dt
        sta herr
        lda herr+1
        adc dt+1
        sta herr+1
        inc hdy
        jmp @l
@done:  lda hcx
        sta hx
        lda hcy
        sta hy
        rts
; The eight points (cx +- a, cy +- b) with (a, b) = (x, y) and (y, x).
plot8:  ldy #7
@p:     sty hn
        tya
        and #4
        bne @sw
        lda hdx
        ldx hdy
        jmp @g
@sw:    lda hdy
        ldx hdx
@g:     sta dt
        stx dt+1
        lda hn
        lsr
        lda hcx
        bcs @m1
        adc dt
        bcs @skip
        bcc @c1
@m1:    sbc dt
        bcc @skip
@c1:    cmp #240
        bcs @skip
        sta hx
        lda hn
        and #2
        beq @py
        lda hcy
        sec
        sbc dt+1
        bcc @skip
        bcs @c2
@py:    lda hcy
        clc
        adc dt+1
        bcs @skip
@c2:    cmp #200
        bcs @skip
        sta hy
        jsr hplotp
@skip:  ldy hn
        dey
        bpl @p
        rts

