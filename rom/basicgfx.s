; BASIC's INK, PAPER and CHAR (LORES, PATTERN and FILL are in
; basicgfx2.s). Colours are the display's serial attributes, kept in the
; first cells of each row: paper in column 0, ink in column 1 and, on the text
; screen, the character set in column 2, where the editor no longer writes.

; INK c, PAPER c (0-7): the whole text screen, or the hires picture while
; it is shown.
s_paper:
        ldy #0
        lda #$10
        bne inkp
s_ink:  ldy #1
        lda #0
inkp:   pha
        tya
        pha
        lda #7
        jsr getlim
        sta ctmp
        pla
        tay
        pla
        ora ctmp
; Attribute A into column Y of every row under the status row, or of every
; hires line. The first on the text screen makes the colour columns.
colset: sta ctmp
        ldx hiresf
        beq @t
        lda #<HIRES
        ldx #>HIRES
        stx bp+1
        ldx #200
        bne colrun
@t:     lda lmarg
        bne @have
        jsr colshift
        lda #3
        sta lmarg
        clc                     ; the cursor moves with its text
        adc curx
        cmp #40
        bcc @c
        lda #39
@c:     sta curx
        tya
        pha
        lda ctmp
        pha
        ldy #2
@d:     lda coldef,y
        jsr colset
        dey
        bpl @d
        pla
        sta ctmp
        pla
        tay
@have:  lda #>(SCREEN+40)
        sta bp+1
        lda #<(SCREEN+40)
        ldx #27
colrun: sta bp
        lda #1
        sta hn
; FILL's core: ctmp into X lines of hn cells from (bp),Y, lines 40 apart.
; Keeps Y.
fillbx: sty ai
@r:     ldy ai
        lda hn
        sta hn+1
@c:     lda ctmp
        sta (bp),y
        iny
        dec hn+1
        bne @c
        jsr nextrow
        dex
        bne @r
        ldy ai
        rts
nextrow: lda bp                 ; bp on to the next row (or hires line)
        clc
        adc #40
        sta bp
        bcc @n
        inc bp+1
@n:     rts
coldef: .byte $10, $07, $08     ; black paper, white ink, standard set

badch:  jmp err_qty

; CHAR code, set, fb: the character (32-127) of the standard (0) or the
; block graphics (1) set at the cursor, its left top there, with fb on
; the pixels of its shape. The cursor stays.
s_char: lda #3
        jsr getargs
        lda ARGS+1
        ora ARGS+3
        bne badch
        ldx hx
        stx dt+2
        cpx #240-5
        bcs badch
        ldy hy
        sty dt+3
        cpy #200-7
        bcs badch
        lda ARGS
        sbc #32-1               ; C=0: code - 32
        cmp #96
        bcs badch
        tax
        ldy #0                  ; the standard set's shape: FONT + 8 (code - 32)
        sty dt                  ; and the shape's first line
        sty ptr+1
        asl
        rol ptr+1
        asl
        rol ptr+1
        asl
        rol ptr+1
        adc #<FONT
        sta ptr
        lda ptr+1
        adc #>FONT
        sta ptr+1
        lda ARGS+2
        beq @draw
        lsr
        bne badch
        lda #<dumpbuf           ; the block shape, made in the dump buffer
        sta ptr
        lda #>dumpbuf
        sta ptr+1
        jsr blkchr
@draw:  lda ARGS+4
        and #3
        sta hfb
@l:     ldy dt
        lda (ptr),y
        asl
        asl
        sta dt+1
        lda dt+2
        sta hx
@p:     asl dt+1
        bcc @s
        jsr hplot
@s:     inc hx
        lda dt+1
        bne @p
        inc hy
        inc dt
        lda dt
        cmp #8
        bne @l
        lda dt+2
        sta hx
        lda dt+3
        sta hy
        rts
