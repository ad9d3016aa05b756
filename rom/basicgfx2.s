; BASIC's LORES, PATTERN and FILL, after the character shapes where the
; ROM has room; the colours and CHAR are in basicgfx.s.

; LORES n: the cleared text screen with the standard (0) or the block
; graphics (1) character set.
s_lores:
        lda #1
        jsr getlim
        pha
        jsr s_text
        pla
        ora #8
        ldy #2
        jmp colset

; PATTERN p: the dash pattern of DRAW and CIRCLE, a bit a point, the top
; bit first; 255 is solid.
s_pattern:
        lda #$FF
        jsr getlim
        eor #$FF
        sta hpat
        rts

; FILL rows, cells, code: the byte into that many lines and cells from
; the cursor's cell on; the cursor stays.
s_fill: lda #3
        jsr getargs
        jsr haddr               ; X := the cursor's cell
        lda ARGS+1
        ora ARGS+3
        ora ARGS+5
        bne badlim
        lda ARGS+4
        sta ctmp
        txa
        clc
        ldy ARGS+2
        beq badlim
        sty hn
        adc hn
        bcs badlim
        cmp #41
        bcs badlim
        lda hy
        ldx ARGS
        beq badlim
        adc ARGS
        bcs badlim
        cmp #201
        bcs badlim
        ldy #0
        jmp fillbx

; One whole number into A, at most the value in A; else an error.
getlim: pha
        lda #1
        jsr getargs
        pla
        ldx ARGS+1
        bne badlim
        cmp ARGS
        bcc badlim
        lda ARGS
        rts
badlim: jmp err_qty

