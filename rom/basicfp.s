; BASIC arithmetic: five-byte floating point and decimal conversion.
; Included by z5.s after the tape entry points.

; ---- floating point ---------------------------------------------------------------
; Five bytes in memory: the exponent (bias $80, 0 for zero), then the
; mantissa from its top byte, whose top bit (always 1) holds the sign. In
; fac and arg: exponent, mantissa top byte first, sign $00 or $FF; fac has
; a guard byte below its mantissa, rounded in before it is stored or used.

; fac from the five bytes at (fptr).
ldfac:  ldy #4                  ; unrolled: every variable read comes here
        lda (fptr),y
        sta facm+3
        dey
        lda (fptr),y
        sta facm+2
        dey
        lda (fptr),y
        sta facm+1
        ldy #0
        lda (fptr),y
        sta facx
        iny
        lda (fptr),y
        cmp #$80                ; C: the sign
        ora #$80
        sta facm
        lda #0
        sta facg
        bcc @p
        lda #$FF
@p:     sta facs
        rts

ldarg:  ldy #4
@l:     lda (fptr),y
        sta argx,y
        dey
        bpl @l
        lda argm
        and #$80
        beq @p
        lda #$FF
@p:     sta args
        lda argm
        ora #$80
        sta argm
        rts

; fac, rounded, to the five bytes at (fptr).
stfac:  jsr fround
        ldy #4
@l:     lda facx,y
        sta (fptr),y
        dey
        bpl @l
        ldy #1
        lda facs
        ora #$7F
        and facm
        sta (fptr),y
        rts

ldc:    sta fptr
        sty fptr+1
        jmp ldfac
ldargc: sta fptr
        sty fptr+1
        jmp ldarg
ld1:    lda #<c1
        ldy #>c1
        jmp ldc
c1:     .byte $81, $00, $00, $00, $00
c10:    .byte $84, $20, $00, $00, $00
chalf:  .byte $80, $00, $00, $00, $00
c1e8:   .byte $9B, $3E, $BC, $20, $00
c1e9:   .byte $9E, $6E, $6B, $28, $00

fround: lda facg
        bpl @r
        ldx #3
@i:     inc facm,x
        bne @r
        dex
        bpl @i
        lda #$80
        sta facm
        inc facx
        bne @r
        jmp err_ovf
@r:     lda #0
        sta facg
        rts

; fac (rounded) to FT1+Y, and back to fac or arg.
parkf:  jsr fround
        ldx #0
@l:     lda facx,x
        sta FT1,y
        iny
        inx
        cpx #6
        bne @l
        rts
unpkf:  ldx #0
        stx facg
@l:     lda FT1,y
        sta facx,x
        iny
        inx
        cpx #6
        bne @l
        rts
unpka:  ldx #0
@l:     lda FT1,y
        sta argx,x
        iny
        inx
        cpx #6
        bne @l
        rts

movaf:  jsr fround
        ldx #5
@l:     lda facx,x
        sta argx,x
        dex
        bpl @l
        rts
movfa:  ldx #5
@l:     lda argx,x
        sta facx,x
        dex
        bpl @l
        lda #0
        sta facg
        rts
swapfa: ldx #5
@l:     lda facx,x
        ldy argx,x
        sta argx,x
        sty facx,x
        dex
        bpl @l
        rts

; Shifts the mantissa up until its top bit is set; zero when nothing is left.
fnorm:  lda facm
        ora facm+1
        ora facm+2
        ora facm+3
        ora facg
        beq fzero
@b:     lda facm
        bne @bit
        lda facx
        cmp #9
        bcc @bit
        sbc #8
        sta facx
        lda facm+1
        sta facm
        lda facm+2
        sta facm+1
        lda facm+3
        sta facm+2
        lda facg
        sta facm+3
        lda #0
        sta facg
        beq @b
@bit:   lda facm+1          ; nothing below the top byte: shift it alone
        ora facm+2
        ora facm+3
        ora facg
        bne @all
        lda facm
@one:   bmi @st
        dec facx
        beq fzero
        asl
        bcc @one
@st:    sta facm
        rts
@all:   lda facm
        bmi @r
        asl facg
        rol facm+3
        rol facm+2
        rol facm+1
        rol facm
        dec facx
        bne @all
        beq fzero
@r:     rts
fzero:  lda #0
        sta facx
        sta facs
        sta facg
        rts

fneg:   lda facs
        eor #$FF
        sta facs
        rts
fsub:   jsr fneg
; fac := arg + fac
fadd:   jsr fround
        lda argx
        beq @r
        lda facx
        bne @both
        jmp movfa
@both:  cmp argx
        bcs @ord
        jsr swapfa
@ord:   lda #0
        sta argg
        lda facx
        sec
        sbc argx
        beq @al
        cmp #41
        bcs @r
        tay
@by:    cpy #8                  ; whole bytes first
        bcc @sh
        lda argm+3
        sta argg
        lda argm+2
        sta argm+3
        lda argm+1
        sta argm+2
        lda argm
        sta argm+1
        lda #0
        sta argm
        tya
        sbc #8
        tay
        bne @by
        beq @al
@sh:    lsr argm
        ror argm+1
        ror argm+2
        ror argm+3
        ror argg
        dey
        bne @sh
@al:    lda facs
        eor args
        bmi @sub
        clc
        lda facg
        adc argg
        sta facg
        ldx #3
@ad:    lda facm,x
        adc argm,x
        sta facm,x
        dex
        bpl @ad
        bcc @r
        ror facm
        ror facm+1
        ror facm+2
        ror facm+3
        ror facg
        inc facx
        bne @r
        jmp err_ovf
@r:     rts
@sub:   sec
        lda facg
        sbc argg
        sta facg
        ldx #3
@sb:    lda facm,x
        sbc argm,x
        sta facm,x
        dex
        bpl @sb
        bcs @n
        lda facs                ; arg was the larger: its sign, the difference negated
        eor #$FF
        sta facs
        sec
        lda #0
        sbc facg
        sta facg
        ldx #3
@ng:    lda #0
        sbc facm,x
        sta facm,x
        dex
        bpl @ng
@n:     jmp fnorm

; fac := arg * fac, shift and add: the top 40 bits of the product.
fmul:   jsr fround
        lda facx
        bne @f
        rts
@f:     lda argx
        bne @nz
        jmp fzero
@nz:    clc                     ; exponent argx + facx - $80: 1-255 fits,
        adc facx                ; 256 fits when the product needs a shift
        eor #$80
        bcs @hi
        bmi @z
        bne @e
@z:     jmp fzero
@hi:    bmi @e
        beq @e                  ; 256: facx 0 until the shift is known
        jmp err_ovf
@e:     sta facx
        lda facs
        eor args
        sta facs
        lda #0
        sta prod
        sta prod+1
        sta prod+2
        sta prod+3
        sta facg
        ldx #3                  ; multiplier bytes from the lowest
@byte:  lda facm,x
        bne @bits
        lda prod+3              ; a zero byte: the product moves down 8 bits
        sta facg
        lda prod+2
        sta prod+3
        lda prod+1
        sta prod+2
        lda prod
        sta prod+1
        lda #0
        sta prod
        beq @next
@bits:  sta dt
        ldy #8
@l:     lsr dt
        bcc @s
        clc
        lda prod+3
        adc argm+3
        sta prod+3
        lda prod+2
        adc argm+2
        sta prod+2
        lda prod+1
        adc argm+1
        sta prod+1
        lda prod
        adc argm
        sta prod
@s:     ror prod
        ror prod+1
        ror prod+2
        ror prod+3
        ror facg
        dey
        bne @l
@next:  dex
        bpl @byte
; A product or quotient in prod and facg, whose top bit is 1 or the next
; is, to fac; facx 0 stands for an exponent of 256.
fnorm1: lda prod
        bmi @top
        asl facg
        rol prod+3
        rol prod+2
        rol prod+1
        rol prod
        dec facx
        bne @top
        jmp fzero
@top:   lda facx
        bne @ok
        jmp err_ovf
@ok:    ldx #3
@c:     lda prod,x
        sta facm,x
        dex
        bpl @c
        rts

; fac := arg / fac, restoring division: 40 quotient bits.
fdiv:   jsr fround
        lda facx
        bne @ok
        jmp err_div
@ok:    lda argx
        bne @nz
        jmp fzero
@nz:    sec
        sbc facx
        tax
        lda #0
        sbc #0
        tay
        txa
        clc
        adc #$81
        tax
        tya
        adc #0                  ; A:X = argx - facx + $81
        beq @e0
        bmi @z
        lsr                     ; 256 fits when the quotient needs a shift
        bne @ov
        txa
        beq @e                  ; facx 0 until it is known
@ov:    jmp err_ovf
@e0:    txa
        bne @e
@z:     jmp fzero
@e:     stx facx
        lda facs
        eor args
        sta facs
        lda #0
        sta remx
        sta facg
        sta prod
        sta prod+1
        sta prod+2
        sta prod+3
        ldy #40
@l:     sec
        lda argm+3
        sbc facm+3
        sta dt+3
        lda argm+2
        sbc facm+2
        sta dt+2
        lda argm+1
        sbc facm+1
        sta dt+1
        lda argm
        sbc facm
        tax
        lda remx
        sbc #0
        bcc @q
        sta remx
        stx argm
        lda dt+1
        sta argm+1
        lda dt+2
        sta argm+2
        lda dt+3
        sta argm+3
        ora argm+2              ; nothing left over: the other bits are 0
        ora argm+1
        ora argm
        ora remx
        beq @exact
        sec
@q:     rol facg
        rol prod+3
        rol prod+2
        rol prod+1
        rol prod
        asl argm+3
        rol argm+2
        rol argm+1
        rol argm
        rol remx
        dey
        bne @l
        beq @done
@exact: sec                     ; this 1, then zeros
        rol facg
        rol prod+3
        rol prod+2
        rol prod+1
        rol prod
        dey
        beq @done
@bytes: cpy #8
        bcc @bits
        lda prod+1
        sta prod
        lda prod+2
        sta prod+1
        lda prod+3
        sta prod+2
        lda facg
        sta prod+3
        lda #0
        sta facg
        tya
        sbc #8
        tay
        bne @bytes
        beq @done
@bits:  asl facg
        rol prod+3
        rol prod+2
        rol prod+1
        rol prod
        dey
        bne @bits
@done:  jmp fnorm1

; arg against fac: 1 below, 2 equal, 4 above (the bits of < = >).
fcmp:   jsr fround
        lda argx
        bne @a
        lda facx
        beq @eq
        lda facs
        bmi @gt
        bpl @lt
@a:     lda facx
        bne @b
        lda args
        bmi @lt
        bpl @gt
@b:     lda args
        cmp facs
        bne @sg
        lda argx
        cmp facx
        bne @m
        ldx #0
@c:     lda argm,x
        cmp facm,x
        bne @m
        inx
        cpx #4
        bne @c
@eq:    lda #2
        rts
@m:     bcc @sm
@sg:    lda args
        bmi @lt
@gt:    lda #4
        rts
@sm:    lda args
        bmi @gt
@lt:    lda #1
        rts

; fac to a 32-bit integer in ival, toward zero.
f2i:    jsr fround
        lda #0
        sta ival
        sta ival+1
        sta ival+2
        sta ival+3
        lda facx
        cmp #$81
        bcc @r
        cmp #$A1
        bcc @ok
        jmp err_qty
@ok:    lda facm
        sta ival+3
        lda facm+1
        sta ival+2
        lda facm+2
        sta ival+1
        lda facm+3
        sta ival
        lda #$A0
        sec
        sbc facx
        tay
        beq @sg
@by:    cpy #8                  ; whole bytes first
        bcc @sh
        lda ival+1
        sta ival
        lda ival+2
        sta ival+1
        lda ival+3
        sta ival+2
        lda #0
        sta ival+3
        tya
        sbc #8
        tay
        bne @by
        beq @sg
@sh:    lsr ival+3
        ror ival+2
        ror ival+1
        ror ival
        dey
        bne @sh
@sg:    lda facs
        bpl @r
        ldx #ival
        jmp negx
@r:     rts


; ival, signed, to fac.
i2f:    lda ival+3
        and #$80
        beq @p
        lda #$FF
@p:     sta facs
        bpl @m
        ldx #ival
        jsr negx
@m:     lda ival+3
        sta facm
        lda ival+2
        sta facm+1
        lda ival+1
        sta facm+2
        lda ival
        sta facm+3
        lda #0
        sta facg
        lda #$A0
        sta facx
        jmp fnorm

; Negates the four bytes at X in zero page.
negx:   ldy #4
        sec
@l:     lda #0
        sbc 0,x
        sta 0,x
        inx
        dey
        bne @l
        rts

; The largest whole number not above fac.
fint:   lda facx
        cmp #$A0
        bcs @r
        jsr movaf
        jsr f2i
        jsr i2f
        jsr fcmp
        cmp #1
        bne @r
        jsr movaf
        jsr ld1
        jmp fsub
@r:     rts

mul10:  jsr movaf
        lda facx
        beq @r
        clc
        adc #2
        bcs @o
        sta facx
        jsr fadd
        inc facx
        beq @o
@r:     rts
@o:     jmp err_ovf

div10:  jsr movaf
        lda #<c10
        ldy #>c10
        jsr ldc
        jmp fdiv

; fac times ten to the power A (signed), by powers of ten up to 1E13,
; which are exact.
scale10:
        sta sc
@lp:    lda sc
        beq @r
        bmi @neg
        cmp #14
        bcc @k
        lda #13
@k:     sta tmp4
        lda sc
        sec
        sbc tmp4
        sta sc
        jsr pow10
        jsr fmul
        jmp @lp
@neg:   eor #$FF
        clc
        adc #1
        cmp #14
        bcc @k2
        lda #13
@k2:    sta tmp4
        clc
        adc sc
        sta sc
        jsr pow10
        jsr fdiv
        jmp @lp
@r:     rts
; fac into arg, and ten to the power tmp4 in fac.
pow10:  ldy #0
        jsr parkf
        jsr ld1
@l:     dec tmp4
        bmi @d
        jsr mul10
        jmp @l
@d:     ldy #0
        jmp unpka

; ---- numbers out ---------------------------------------------------------------
; A (0-128) times 77: A high byte, X low byte.
mul77:  sta tmp4
        lda #0
        sta prod
        sta prod+1
        lda #77
        sta prod+2
        ldx #8
@l:     asl prod
        rol prod+1
        asl prod+2
        bcc @n
        clc
        lda prod
        adc tmp4
        sta prod
        bcc @n
        inc prod+1
@n:     dex
        bne @l
        ldx prod
        lda prod+1
        rts

; fac as nine significant digits at most, after a space or its minus sign
; and before a space; E notation outside 0.01 to 999999999.
prval:  lda facx
        bne @nz
        lda #' '
        jsr pchr
        lda #'0'
        jsr pchr
        jmp @end
@nz:    lda #' '
        ldx facs
        bpl @s
        lda #'-'
@s:     jsr pchr
        lda #0
        sta facs
        lda facx                ; ten's exponent from two's, times 77/256
        sec
        sbc #$81
        php
        bcs @p
        eor #$FF
        adc #1
@p:     jsr mul77
        plp
        bcs @e10
        cpx #0
        beq @ng
        clc
        adc #1
@ng:    eor #$FF
        clc
        adc #1
@e10:   sta tmp4                ; scaled into 1E8 .. 1E9
        lda #8
        sec
        sbc tmp4
        sta dexp
        jsr scale10
        lda dexp
        eor #$FF
        clc
        adc #1
        sta dexp
@big:   lda #<c1e9
        ldy #>c1e9
        jsr ldargc
        jsr fcmp
        cmp #4
        beq @small
        jsr div10
        inc dexp
        jmp @big
@small: lda #<c1e8
        ldy #>c1e8
        jsr ldargc
        jsr fcmp
        cmp #4
        bne @rnd
        jsr mul10
        dec dexp
        jmp @small
@rnd:   lda #<chalf
        ldy #>chalf
        jsr ldargc
        jsr fadd
        jsr f2i
        ldx #3
@tn:    lda ival,x              ; 999999999.5 rounds up to 1E9
        cmp e9,x
        bne @dig
        dex
        bpl @tn
        ldx #3
@e8:    lda e8,x
        sta ival,x
        dex
        bpl @e8
        inc dexp
@dig:   ldx #8                  ; two digits a division: the tenth is DIGS-1
@dl:    lda #100
        jsr idivn
        ldy #'0'
@te:    cmp #10
        bcc @o
        sbc #10
        iny
        bne @te
@o:     ora #'0'
        sta DIGS,x
        dex
        tya
        sta DIGS,x
        dex
        bpl @dl
        ldx #9
@tz:    lda DIGS-1,x
        cmp #'0'
        bne @nd
        dex
        cpx #1
        bne @tz
@nd:    stx ndig
        lda dexp
        clc
        adc #8
        sta sc                  ; the power of ten of the first digit
        bmi @frac
        cmp #9
        bcs @sci
        ldx #0
@ip:    lda DIGS,x
        jsr pchr
        inx
        dec sc
        bpl @ip
        cpx ndig
        bcs @end
        lda #'.'
        jsr pchr
@fp:    lda DIGS,x
        jsr pchr
        inx
        cpx ndig
        bcc @fp
@end:   lda #' '
        jmp pchr
@frac:  cmp #$FE
        bcc @sci
        lda #'.'
        jsr pchr
        lda sc
        eor #$FF
        tax
        beq @d0
@zl:    lda #'0'
        jsr pchr
        dex
        bne @zl
@d0:    ldx #0
        beq @fp
@sci:   lda DIGS
        jsr pchr
        ldx #1
        cpx ndig
        bcs @ex
        lda #'.'
        jsr pchr
@sf:    lda DIGS,x
        jsr pchr
        inx
        cpx ndig
        bcc @sf
@ex:    lda #'E'
        jsr pchr
        lda sc
        ldx #'+'
        cmp #0
        bpl @es
        ldx #'-'
        eor #$FF
        clc
        adc #1
@es:    pha
        txa
        jsr pchr
        pla
        ldx #'0'
@t:     cmp #10
        bcc @u
        sbc #10
        inx
        bne @t
@u:     pha
        txa
        jsr pchr
        pla
        ora #'0'
        jsr pchr
        jmp @end
e9:     .byte $00, $CA, $9A, $3B
e8:     .byte $00, $E1, $F5, $05


; ---- functions ------------------------------------------------------------------
polyp   = fptr
pcnt    = $C3
seed    = $C4                   ; 4, RND's state
invf    = $C8

; fac := the series at (A, Y) in fac, by Horner's rule. Keeps FT5 busy.
poly:   sta fptr
        sty fptr+1
        ldy #24
        jsr parkf
        ldy #0
        lda (fptr),y
        sta pcnt
        jsr nextco1
        jsr ldfac
@l:     dec pcnt
        beq @r
        jsr nextco
        ldy #24
        jsr unpka
        jsr fmul
        jsr ldarg
        jsr fadd
        jmp @l
@r:     rts
nextco: lda fptr
        clc
        adc #4
        sta fptr
        bcc nextco1
        inc fptr+1
nextco1:
        inc fptr
        bne @r
        inc fptr+1
@r:     rts

; arg := the constant at (A, Y), then fac := arg op fac.
cmul:   jsr ldargc
        jmp fmul
cadd:   jsr ldargc
        jmp fadd

; Newton's rule from the exponent halved: five rounds.
fsqr:   lda facx
        beq @r
        lda facs
        bpl @ok
        jmp err_qty
@ok:    ldy #6
        jsr parkf
        lda facx
        sec
        sbc #$80
        cmp #$80
        ror
        clc
        adc #$80
        sta facx
        lda #5
        sta pcnt
@it:    ldy #24
        jsr parkf
        ldy #6
        jsr unpka
        jsr fdiv
        ldy #24
        jsr unpka
        jsr fadd
        dec facx
        dec pcnt
        bne @it
@r:     rts

; ln x = e ln 2 + 2 atanh s, x = m 2^e with m near 1, s = (m - 1)/(m + 1).
fln:    lda facs
        bmi @bad
        lda facx
        bne @ok
@bad:   jmp err_qty
@ok:    sec
        sbc #$80
        sta pexp
        lda #$80
        sta facx
        lda facm
        cmp #$B5                ; below the square root of 1/2: twice m
        bcs @m
        inc facx
        dec pexp
@m:     ldy #12
        jsr parkf
        jsr movaf
        jsr ld1
        jsr fsub
        ldy #18
        jsr parkf
        ldy #12
        jsr unpkf
        lda #<c1
        ldy #>c1
        jsr cadd
        ldy #18
        jsr unpka
        jsr fdiv
        ldy #12
        jsr parkf
        jsr movaf
        jsr fmul
        lda #<tln
        ldy #>tln
        jsr poly
        ldy #12
        jsr unpka
        jsr fmul
        lda facx
        beq @z
        inc facx
@z:     ldy #12
        jsr parkf
        lda pexp
        jsr sbyte
        lda #<cln2
        ldy #>cln2
        jsr cmul
        ldy #12
        jsr unpka
        jmp fadd

; fac := the signed byte A.
sbyte:  sta ival
        ldx #0
        tay
        bpl @p
        dex
@p:     stx ival+1
        stx ival+2
        stx ival+3
        jmp i2f

; e^x = 2^n e^t, n the nearest whole number to x / ln 2, t what is left.
fexp:   lda #<clog2e
        ldy #>clog2e
        jsr cmul
        ldy #12
        jsr parkf
        lda #<chalf
        ldy #>chalf
        jsr cadd
        jsr fint
        ldy #18
        jsr parkf
        jsr f2i
        lda ival
        sta pexp
        asl                     ; ival must be a sign-extended byte
        lda #0
        adc #$FF
        eor #$FF
        cmp ival+1
        bne @range
        cmp ival+2
        bne @range
        cmp ival+3
        bne @range
        ldy #18
        jsr unpkf
        ldy #12
        jsr unpka
        jsr fsub
        lda #<cln2
        ldy #>cln2
        jsr cmul
        lda #<texp
        ldy #>texp
        jsr poly
        lda pexp
        bmi @neg
        clc
        adc facx
        bcs @ovf
        sta facx
        rts
@neg:   clc
        adc facx
        bcc @zero
        beq @zero
        sta facx
        rts
@range: lda ival+3
        bmi @zero
@ovf:   jmp err_ovf
@zero:  jmp fzero

; sin x from the fraction of a turn, folded into the first quarter.
fcos:   lda #<chpi
        ldy #>chpi
        jsr cadd
fsin:   lda #<cr2pi
        ldy #>cr2pi
        jsr cmul
        ldy #12
        jsr parkf
        jsr fint
        ldy #12
        jsr unpka
        jsr fsub
        lda #0
        sta invf
        lda #<chalf
        ldy #>chalf
        jsr ldargc
        jsr fcmp
        cmp #4
        beq @q
        dec invf                ; the second half turn: the first, negated
        jsr movaf
        lda #<chalf
        ldy #>chalf
        jsr ldc
        jsr fsub
@q:     lda #<cqtr
        ldy #>cqtr
        jsr ldargc
        jsr fcmp
        cmp #1
        bne @t
        lda #<chalf
        ldy #>chalf
        jsr ldargc
        jsr fsub
@t:     lda #<c2pi
        ldy #>c2pi
        jsr cmul
        lda #<tsin
        ldy #>tsin
oddser: sta bp2                 ; t times a series in t^2
        sty bp2+1
        ldy #12
        jsr parkf
        jsr movaf
        jsr fmul
        lda bp2
        ldy bp2+1
        jsr poly
        ldy #12
        jsr unpka
        jsr fmul
        lda invf
        bpl @r
        jmp fneg
@r:     rts

ftan:   ldy #18
        jsr parkf
        jsr fsin
        ldy #0
        jsr parkf
        ldy #18
        jsr unpkf
        jsr fcos
        ldy #0
        jsr unpka
        jmp fdiv

; atn x: above 1 from pi/2 - atn(1/x); the argument halved twice, the
; series, times four.
fatn:   lda facs
        pha
        lda #0
        sta facs
        sta pnegf
        lda #<c1
        ldy #>c1
        jsr ldargc
        jsr fcmp
        cmp #1
        bne @h
        dec pnegf
        jsr fdiv
@h:     lda #2
        sta sc
@half:  ldy #18
        jsr parkf
        jsr movaf
        jsr fmul
        lda #<c1
        ldy #>c1
        jsr cadd
        jsr fsqr
        lda #<c1
        ldy #>c1
        jsr cadd
        ldy #18
        jsr unpka
        jsr fdiv
        dec sc
        bne @half
        lda #0
        sta invf
        lda #<tatn
        ldy #>tatn
        jsr oddser
        lda facx
        beq @z
        clc
        adc #2
        sta facx
@z:     lda pnegf
        bpl @s
        lda #<chpi
        ldy #>chpi
        jsr ldargc
        jsr fsub
@s:     pla
        bpl @r
        jmp fneg
@r:     rts

; xorshift: a new 32-bit state, as a fraction of one.
frnd:   lda facx
        beq @last
        lda facs
        bpl @next
        ldx #3                  ; a negative argument seeds
@sd:    lda facm,x
        eor facx
        sta seed,x
        dex
        bpl @sd
@next:  lda seed
        ora seed+1
        ora seed+2
        ora seed+3
        bne @go
        inc seed
@go:    ldx #13
        jsr @shl
        ldx #17
        jsr @shr
        ldx #5
        jsr @shl
@last:  lda seed
        sta facm+3
        lda seed+1
        sta facm+2
        lda seed+2
        sta facm+1
        lda seed+3
        sta facm
        lda #$80
        sta facx
        lda #0
        sta facs
        sta facg
        jmp fnorm
@shl:   jsr @cp
@l:     asl dt
        rol dt+1
        rol dt+2
        rol dt+3
        dex
        bne @l
        beq @x
@shr:   jsr @cp
@r:     lsr dt+3
        ror dt+2
        ror dt+1
        ror dt
        dex
        bne @r
@x:     ldy #3
@xl:    lda dt,y
        eor seed,y
        sta seed,y
        dey
        bpl @xl
        rts
@cp:    ldy #3
@cl:    lda seed,y
        sta dt,y
        dey
        bpl @cl
        rts

f_log:  jsr fln
        lda #<crln10
        ldy #>crln10
        jmp cmul
f_pi:   lda #<cpi
        ldy #>cpi
        jmp ldc

; Constants and series, each five bytes; a series starts with its count
; and runs from the highest power down.
cln2:	.byte $80, $31, $72, $17, $F8   ; ln 2
clog2e:	.byte $81, $38, $AA, $3B, $29   ; 1 / ln 2
crln10:	.byte $7F, $5E, $5B, $D8, $A9   ; 1 / ln 10
cr2pi:	.byte $7E, $22, $F9, $83, $6E   ; 1 / (2 pi)
c2pi:	.byte $83, $49, $0F, $DA, $A2   ; 2 pi
chpi:	.byte $81, $49, $0F, $DA, $A2   ; pi / 2
cpi:	.byte $82, $49, $0F, $DA, $A2   ; pi
cqtr:	.byte $7F, $00, $00, $00, $00   ; 1 / 4
texp:   .byte 11                  ; e^t: 1 / k!
        .byte $6B, $13, $F2, $7D, $BC
        .byte $6E, $38, $EF, $1D, $2B
        .byte $71, $50, $0D, $00, $D0
        .byte $74, $50, $0D, $00, $D0
        .byte $77, $36, $0B, $60, $B6
        .byte $7A, $08, $88, $88, $89
        .byte $7C, $2A, $AA, $AA, $AB
        .byte $7E, $2A, $AA, $AA, $AB
        .byte $80, $00, $00, $00, $00
        .byte $81, $00, $00, $00, $00
        .byte $81, $00, $00, $00, $00
tsin:   .byte 8                  ; sin t / t in t^2
        .byte $58, $D7, $3F, $9F, $3A
        .byte $60, $30, $92, $30, $9D
        .byte $67, $D7, $32, $2B, $40
        .byte $6E, $38, $EF, $1D, $2B
        .byte $74, $D0, $0D, $00, $D0
        .byte $7A, $08, $88, $88, $89
        .byte $7E, $AA, $AA, $AA, $AB
        .byte $81, $00, $00, $00, $00
tatn:   .byte 8                  ; atn t / t in t^2
        .byte $7D, $88, $88, $88, $89
        .byte $7D, $1D, $89, $D8, $9E
        .byte $7D, $BA, $2E, $8B, $A3
        .byte $7D, $63, $8E, $38, $E4
        .byte $7E, $92, $49, $24, $92
        .byte $7E, $4C, $CC, $CC, $CD
        .byte $7F, $AA, $AA, $AA, $AB
        .byte $81, $00, $00, $00, $00
tln:   .byte 7                  ; atanh s / s in s^2
        .byte $7D, $1D, $89, $D8, $9E
        .byte $7D, $3A, $2E, $8B, $A3
        .byte $7D, $63, $8E, $38, $E4
        .byte $7E, $12, $49, $24, $92
        .byte $7E, $4C, $CC, $CC, $CD
        .byte $7F, $2A, $AA, $AA, $AB
        .byte $81, $00, $00, $00, $00
