; BASIC: line entry, tokeniser, interpreter. Included by z5.s.
; Programs live from (BAS_START), lines linked as link, number, tokens, 0,
; ended by a zero link; (BAS_END) is the byte after that link. Variables
; follow the program, seven bytes each: two name bytes and a five-byte
; value, of which the integer uses four. Loops and subroutine returns sit
; on a control stack of their own at 0x0400, so a jump may reset the
; processor stack at every statement.

; ---- zero page $58-$99 --------------------------------------------------------
txtptr  = $58                   ; 2, read position in the statement
fac     = $5A                   ; 4, the value being worked on, 32-bit signed
arg     = $5E                   ; 4, left operand
runf    = $62                   ; non-zero while a program runs
curlin  = $63                   ; 2, number of the running line
curlp   = $65                   ; 2, its address
vartab  = $67                   ; 2, first variable
varend  = $69                   ; 2, past the last variable
cstk    = $6B                   ; bytes on the control stack
bp      = $6C                   ; 2
bp2     = $6E                   ; 2
cnt     = $70                   ; 2
linnum  = $72                   ; 2
varp    = $74                   ; 2, value of the variable last named
tki     = $76                   ; tokeniser: read index
tko     = $77                   ; write index
tmode   = $78                   ; 0 normal, 1 string, 2 DATA, 3 rest of line as typed
kwi     = $79
ctmp    = $7A
relm    = $7B
vn1     = $7C                   ; 2, name being looked up
vn2     = $7D
prod    = $7E                   ; 4
pbase   = $82                   ; 4
pexp    = $86                   ; 4
pres    = $8A                   ; 4
dsign   = $8E
opc     = $8F
oprec   = $90
anyf    = $91
lsthi   = $92                   ; 2
callv   = $94                   ; 2
kwp     = $96                   ; 2
CSTK    = $0400                 ; control stack, 256 bytes
VARSIZE = 7
FORSIZE = 16
SUBSIZE = 6

T_DATA  = $91
T_GOTO  = $97
T_IF    = $99
T_GOSUB = $9B
T_REM   = $9D
T_FOR   = $8D
T_ON    = $B4
T_TAB   = $C2
T_TO    = $C3
T_SPC   = $C5
T_ELSE  = $C8
T_THEN  = $C9
T_NOT   = $CA
T_STEP  = $CB
T_PLUS  = $CC
T_MINUS = $CD
T_GT    = $D3
T_EQ    = $D4
T_SGN   = $D6
T_AMP   = $DD
T_LAST  = $F6

; ---- entry and the line loop ----------------------------------------------------
c_basic:
        jsr endargs
        ldx #6
@m:     lda basicnm,x
        sta STATUS+24,x
        dex
        bpl @m
        jsr clearv
ready:  ldx #$FF
        txs
        cli
        lda #0
        sta runf
        jsr newln
        jsr primm
        .byte "READY", 13, 0
main:   ldx #$FF
        txs
        ldy #39                 ; a fresh row, as the monitor's prompt has
        lda #' '
@clr:   sta (scr),y
        dey
        bpl @clr
        jsr getline
        jsr upline
        lda #<inbuf
        sta txtptr
        lda #>inbuf
        sta txtptr+1
        jsr peekc
        beq main
        jsr isdig
        bcs linent
        ldx txtptr
        jsr tokenise
        ldx txtptr              ; "MON" leaves for the monitor
        lda inbuf,x
        cmp #'M'
        bne @run
        lda inbuf+1,x
        cmp #T_ON
        bne @run
        lda inbuf+2,x
        bne @run
        ldx #6
@mm:    lda monnm,x
        sta STATUS+24,x
        dex
        bpl @mm
        jmp warm
@run:   jmp exec
basicnm: .byte "BASIC  "
monnm:  .byte "MONITOR"

; Prints a newline unless the cursor is at the start of a row.
newln:  lda curx
        beq @r
        jmp crlf
@r:     rts

; Letters to capitals outside strings.
upline: ldx #0
        ldy #0
@l:     lda inbuf,x
        beq @r
        cmp #'"'
        bne @u
        tya
        eor #1
        tay
        jmp @n
@u:     cpy #0
        bne @n
        jsr upcase
        sta inbuf,x
@n:     inx
        bne @l
@r:     rts

; A numbered line: replaces, inserts or (when empty) deletes it.
linent: jsr getlnum
        ldx txtptr
        stx ctmp
        jsr tokenise
        jsr findline
        bcc @ins
        ldy #0                  ; delete: the rest moves down over it
        lda (bp),y
        sta bp2
        iny
        lda (bp),y
        sta bp2+1
        lda BAS_END
        sec
        sbc bp2
        sta cnt
        lda BAS_END+1
        sbc bp2+1
        sta cnt+1
        lda bp                  ; what follows moves down by the line's length
        clc
        adc cnt
        sta BAS_END
        lda bp+1
        adc cnt+1
        sta BAS_END+1
        lda bp
        pha
        lda bp+1
        pha
        jsr swapbp
        jsr mvdown
        pla
        sta bp+1
        pla
        sta bp
@ins:   lda tko
        sec
        sbc ctmp
        beq @fin
        clc
        adc #5
        sta tki                 ; bytes the new line takes
        clc
        adc BAS_END
        sta bp2
        lda BAS_END+1
        adc #0
        sta bp2+1
        cmp #>HIMEM
        bcc @room
        jmp err_mem
@room:  lda BAS_END
        sec
        sbc bp
        sta cnt
        lda BAS_END+1
        sbc bp+1
        sta cnt+1
        lda bp2
        sta BAS_END
        lda bp2+1
        sta BAS_END+1
        lda bp
        pha
        lda bp+1
        pha
        lda bp
        clc
        adc tki
        sta bp2
        lda bp+1
        adc #0
        sta bp2+1
        jsr mvup
        pla
        sta bp+1
        pla
        sta bp
        ldy #0
        lda #1                  ; any link but zero until relinked
        sta (bp),y
        iny
        sta (bp),y
        iny
        lda linnum
        sta (bp),y
        iny
        lda linnum+1
        sta (bp),y
        ldx ctmp
@cp:    iny
        lda inbuf,x
        sta (bp),y
        inx
        cpx tko
        bcc @cp
        iny
        lda #0
        sta (bp),y
@fin:   jsr relink
        jsr clearv
        jmp main

swapbp: ldx bp
        ldy bp2
        sty bp
        stx bp2
        ldx bp+1
        ldy bp2+1
        sty bp+1
        stx bp2+1
        rts

; cnt bytes from (bp) to (bp2) below it.
mvdown: ldy #0
        ldx cnt+1
        beq @part
@pg:    lda (bp),y
        sta (bp2),y
        iny
        bne @pg
        inc bp+1
        inc bp2+1
        dex
        bne @pg
@part:  ldx cnt
        beq @r
@b:     lda (bp),y
        sta (bp2),y
        iny
        dex
        bne @b
@r:     rts

; cnt bytes from (bp) to (bp2) above it: from the top down.
mvup:   lda bp+1
        clc
        adc cnt+1
        sta bp+1
        lda bp2+1
        clc
        adc cnt+1
        sta bp2+1
        ldx cnt+1
        ldy cnt
        beq @pages
@b:     dey
        lda (bp),y
        sta (bp2),y
        cpy #0
        bne @b
@pages: cpx #0
        beq @r
@pg:    dec bp+1
        dec bp2+1
@p2:    dey
        lda (bp),y
        sta (bp2),y
        cpy #0
        bne @p2
        dex
        bne @pg
@r:     rts

; Links every line to the one after it; BAS_END follows the zero link.
relink: lda BAS_START
        sta bp
        lda BAS_START+1
        sta bp+1
@l:     ldy #0
        lda (bp),y
        iny
        ora (bp),y
        beq @end
        lda bp
        clc
        adc #4
        sta bp2
        lda bp+1
        adc #0
        sta bp2+1
        dey
@s:     lda (bp2),y
        inc bp2
        bne @n
        inc bp2+1
@n:     tax
        bne @s
        lda bp2
        sta (bp),y
        iny
        lda bp2+1
        sta (bp),y
        sta bp+1
        lda bp2
        sta bp
        jmp @l
@end:   lda bp
        clc
        adc #2
        sta BAS_END
        lda bp+1
        adc #0
        sta BAS_END+1
        rts

; The first line numbered linnum or above in bp; C=1 when it is linnum.
findline:
        lda BAS_START
        sta bp
        lda BAS_START+1
        sta bp+1
@l:     ldy #0
        lda (bp),y
        iny
        ora (bp),y
        beq @no
        ldy #3
        lda (bp),y
        cmp linnum+1
        bcc @nx
        bne @no
        dey
        lda (bp),y
        cmp linnum
        bcc @nx
        beq @yes
@no:    clc
        rts
@yes:   sec
        rts
@nx:    ldy #0
        lda (bp),y
        tax
        iny
        lda (bp),y
        sta bp+1
        stx bp
        jmp @l

; Variables and loops forgotten.
clearv: lda BAS_END
        sta vartab
        sta varend
        lda BAS_END+1
        sta vartab+1
        sta varend+1
        lda #0
        sta cstk
        rts

; ---- tokeniser -------------------------------------------------------------------
; inbuf from X on, in place: a token is never longer than its spelling.
; Keywords are tried in token order, first match wins; after REM or ' the
; rest stays as typed, inside quotes and DATA (up to a colon) too.
tokenise:
        stx tki
        stx tko
        lda #0
        sta tmode
@lp:    ldx tki
        lda inbuf,x
        bne @c
        ldx tko
        sta inbuf,x
        rts
@c:     ldy tmode
        bne @other
        jsr kwmatch
        bcc @plain
        ldx tko
        sta inbuf,x
        inc tko
        ldy #3
        cmp #T_REM
        beq @mode
        dey
        cmp #T_DATA
        bne @lp
@mode:  sty tmode
        jmp @lp
@plain: lda inbuf,x
        ldy #1
        cmp #'"'
        beq @set
        ldy #3
        cmp #$27
        bne @put
@set:   sty tmode
        jmp @put
@other: ldy #0
        cmp #'"'
        bne @nq
        lda tmode
        cmp #1
        bne @put
        sty tmode
        beq @put
@nq:    cmp #':'
        bne @put
        lda tmode
        cmp #2
        bne @put
        sty tmode
@put:   ldx tki
        lda inbuf,x
        ldx tko
        sta inbuf,x
        inc tki
        inc tko
        jmp @lp

; The keyword at inbuf+tki: C=1, its token in A and tki past it; else C=0
; and X = tki.
kwmatch:
        lda #<kwtab
        sta kwp
        lda #>kwtab
        sta kwp+1
        lda #$80
        sta kwi
@kw:    ldy #0
        ldx tki
@ch:    lda (kwp),y
        and #$7F
        cmp inbuf,x
        bne @no
        lda (kwp),y
        bmi @yes
        iny
        inx
        bne @ch
@yes:   inx
        stx tki
        lda kwi
        sec
        rts
@no:    lda (kwp),y
        bmi @nx
        iny
        bne @no
@nx:    iny
        tya
        clc
        adc kwp
        sta kwp
        bcc @i
        inc kwp+1
@i:     inc kwi
        lda kwi
        cmp #T_LAST+1
        bne @kw
        ldx tki
        clc
        rts

; Prints the keyword of token A.
prkw:   sec
        sbc #$80
        tax
        lda #<kwtab
        sta kwp
        lda #>kwtab
        sta kwp+1
        ldy #0
@sk:    txa
        beq @pr
@s2:    lda (kwp),y
        pha
        jsr inckwp
        pla
        bpl @s2
        ldy #0
        dex
        jmp @sk
@pr:    lda (kwp),y
        pha
        and #$7F
        jsr chrout
        jsr inckwp
        pla
        bpl @pr
        rts
inckwp: inc kwp
        bne @r
        inc kwp+1
@r:     ldy #0
        rts

; ---- reading the statement -----------------------------------------------------
; The character at txtptr, spaces skipped; Z=1 at the line's end.
nextc:  inc txtptr
        bne peekc
        inc txtptr+1
peekc:  ldy #0
        lda (txtptr),y
        cmp #' '
        beq nextc
        cmp #0
        rts

; C=1 for a digit.
isdig:  cmp #'9'+1
        bcs @no
        cmp #'0'
        rts
@no:    clc
        rts

; C=1 for a capital letter.
isalpha:
        cmp #'Z'+1
        bcs @no
        cmp #'A'
        rts
@no:    clc
        rts

isalnum:
        jsr isdig
        bcs @r
        jmp isalpha
@r:     rts

; Skips the character A or stops with a syntax error.
chkc:   sta ctmp
        jsr peekc
        cmp ctmp
        bne synerr
        jmp nextc

; A line number into linnum.
getlnum:
        jsr peekc
        jsr isdig
        bcc synerr
        ldx #0
        stx linnum
        stx linnum+1
@l:     and #$0F
        pha
        lda linnum
        ldx linnum+1
        asl linnum
        rol linnum+1
        asl linnum
        rol linnum+1
        clc
        adc linnum
        sta linnum
        txa
        adc linnum+1
        sta linnum+1
        pla
        asl linnum
        rol linnum+1
        clc
        adc linnum
        sta linnum
        bcc @n
        inc linnum+1
@n:     jsr nextc
        jsr isdig
        bcs @l
        rts

; ---- errors ----------------------------------------------------------------------
synerr: ldx #0
        beq basicerr
err_line:
        ldx #1
        bne basicerr
err_ret:
        ldx #2
        bne basicerr
err_next:
        ldx #3
        bne basicerr
err_div:
        ldx #4
        bne basicerr
err_mem:
        ldx #5
        bne basicerr
notimpl:
        ldx #6
        bne basicerr
err_deep:
        ldx #7
basicerr:
        stx ctmp
        ldx #$FF
        txs
        jsr newln
        lda #'?'
        jsr chrout
        ldx ctmp
        lda errlo,x
        ldy errhi,x
        jsr strout
        jsr primm
        .byte " ERROR", 0
inln: lda runf
        beq @r
        jsr primm
        .byte " IN ", 0
        lda curlin
        ldx curlin+1
        jsr prword
@r:     jmp ready

stopped:
        jsr newln
        jsr primm
        .byte "BREAK", 0
        jmp inln

; Esc or Ctrl+C anywhere in the key buffer stops the program and drops the
; keys typed ahead; other keys wait for the program or the next line.
chkbrk: ldx khead
@l:     cpx ktail
        beq @r
        lda kbuf,x
        cmp #$1B
        beq @b
        cmp #3
        beq @b
        inx
        txa
        and #$0F
        tax
        jmp @l
@b:     lda ktail
        sta khead
        jmp stopped
@r:     rts

e_syn:  .byte "SYNTAX", 0
e_line: .byte "UNDEFINED LINE", 0
e_ret:  .byte "RETURN WITHOUT GOSUB", 0
e_next: .byte "NEXT WITHOUT FOR", 0
e_div:  .byte "DIVISION BY ZERO", 0
e_mem:  .byte "OUT OF MEMORY", 0
e_ni:   .byte "NOT IMPLEMENTED", 0
e_deep: .byte "FORMULA TOO COMPLEX", 0
errlo:  .lobytes e_syn, e_line, e_ret, e_next, e_div, e_mem, e_ni, e_deep
errhi:  .hibytes e_syn, e_line, e_ret, e_next, e_div, e_mem, e_ni, e_deep

; ---- execution -----------------------------------------------------------------
exec:   ldx #$FF
        txs
        lda khead
        cmp ktail
        beq @nk
        jsr chkbrk
@nk:    jsr peekc
        beq eol
        cmp #':'
        bne @st
        jsr nextc
        jmp exec
@st:    tax                     ; statements return to stmtend
        lda #>(stmtend-1)
        pha
        lda #<(stmtend-1)
        pha
        txa
        bmi @tok
        cmp #'?'
        bne @let
        jsr nextc
        jmp s_print
@let:   jmp s_let
@tok:   cmp #T_ELSE+1
        bcs synerr2
        inc txtptr
        bne @i
        inc txtptr+1
@i:     asl
        tax
        lda stab+1,x
        pha
        lda stab,x
        pha
        rts

stmtend:
        jsr peekc
        beq eol
        cmp #':'
        bne @e
        jsr nextc
        jmp exec
@e:     cmp #T_ELSE
        bne synerr2
        jsr s_rem
eol:    lda runf
        beq ready2
        ldy #0
        lda (curlp),y
        tax
        iny
        lda (curlp),y
        sta curlp+1
        stx curlp
runline:
        ldy #0
        lda (curlp),y
        iny
        ora (curlp),y
        beq ready2
        iny
        lda (curlp),y
        sta curlin
        iny
        lda (curlp),y
        sta curlin+1
        lda curlp
        clc
        adc #4
        sta txtptr
        lda curlp+1
        adc #0
        sta txtptr+1
        lda #1
        sta runf
        jmp exec
ready2: jmp ready
synerr2:
        jmp synerr

; ---- statements ----------------------------------------------------------------
s_end:  jmp ready

s_stop: jmp stopped

s_new:  lda #<(LOMEM+1)
        sta BAS_START
        lda #>(LOMEM+1)
        sta BAS_START+1
        lda #0
        sta LOMEM+1
        sta LOMEM+2
        jsr relink
        jsr clearv
        jmp ready

s_clear:
        jmp clearv

s_cls:  lda #$0C
        jmp chrout

s_text: jmp text

s_hires:
        jmp hgr

; REM, ELSE met while running, and the false side of IF: the rest of the line.
s_rem:  ldy #0
@l:     lda (txtptr),y
        beq @r
        inc txtptr
        bne @l
        inc txtptr+1
        bne @l
@r:     rts

; DATA is passed over up to a colon, as the tokeniser took it.
s_data: ldy #0
@l:     lda (txtptr),y
        beq @r
        cmp #':'
        beq @r
        inc txtptr
        bne @l
        inc txtptr+1
        bne @l
@r:     rts

s_let:  jsr getvar
        lda varp+1
        pha
        lda varp
        pha
        lda #T_EQ
        jsr chkc
        jsr eval
        pla
        sta varp
        pla
        sta varp+1
putvar: ldy #3
@c:     lda fac,y
        sta (varp),y
        dey
        bpl @c
        rts

s_run:  jsr clearv
        jsr peekc
        jsr isdig
        bcs s_goto
        lda BAS_START
        sta curlp
        lda BAS_START+1
        sta curlp+1
        jmp runline

s_goto: jsr getlnum
golin:  jsr findline
        bcs @f
        jmp err_line
@f:     lda bp
        sta curlp
        lda bp+1
        sta curlp+1
        jmp runline

s_gosub:
        jsr getlnum
        ldx cstk
        cpx #256-SUBSIZE
        bcc @ok
        jmp err_mem
@ok:    lda curlp
        sta CSTK,x
        lda curlp+1
        sta CSTK+1,x
        lda txtptr
        sta CSTK+2,x
        lda txtptr+1
        sta CSTK+3,x
        lda runf
        sta CSTK+4,x
        lda #T_GOSUB
        sta CSTK+5,x
        txa
        clc
        adc #SUBSIZE
        sta cstk
        jmp golin

; The newest GOSUB frame, loops above it dropped: X its base.
popsub: ldx cstk
        beq @no
        lda CSTK-1,x
        cmp #T_GOSUB
        beq @g
        txa
        sec
        sbc #FORSIZE
        sta cstk
        jmp popsub
@g:     txa
        sec
        sbc #SUBSIZE
        sta cstk
        tax
        rts
@no:    jmp err_ret

s_pop:  jmp popsub

s_return:
        jsr popsub
        lda CSTK,x
        sta curlp
        lda CSTK+1,x
        sta curlp+1
        lda CSTK+2,x
        sta txtptr
        lda CSTK+3,x
        sta txtptr+1
        lda CSTK+4,x
resume: sta runf
        beq @r
        ldy #2
        lda (curlp),y
        sta curlin
        iny
        lda (curlp),y
        sta curlin+1
@r:     rts

s_if:   jsr eval
        lda fac
        ora fac+1
        ora fac+2
        ora fac+3
        beq @false
        jsr peekc
        cmp #T_GOTO
        beq @go
        cmp #T_THEN
        bne synerr3
@then:  jsr nextc
        jsr isdig
        bcc @go
        jmp s_goto
@go:    jmp exec
@false: ldy #0
@f:     lda (txtptr),y
        beq @r
        cmp #T_ELSE
        beq @then
        inc txtptr
        bne @f
        inc txtptr+1
        bne @f
@r:     rts
synerr3:
        jmp synerr

; FOR frame: variable, limit, step, line, text position, run flag, T_FOR.
s_for:  jsr getvar
        lda #0
        sta anyf
        jsr findfor
        bcc @new
        stx cstk                ; the same variable's loop starts again
@new:   ldx cstk
        cpx #256-FORSIZE
        bcc @ok
        jmp err_mem
@ok:    lda varp
        sta CSTK,x
        lda varp+1
        sta CSTK+1,x
        lda #T_EQ
        jsr chkc
        jsr eval
        ldx cstk
        lda CSTK,x
        sta varp
        lda CSTK+1,x
        sta varp+1
        jsr putvar
        lda #T_TO
        jsr chkc
        jsr eval
        ldx cstk
        ldy #0
@lim:   lda fac,y
        sta CSTK+2,x
        inx
        iny
        cpy #4
        bne @lim
        jsr peekc
        cmp #T_STEP
        bne @one
        jsr nextc
        jsr eval
        jmp @st
@one:   jsr setone
@st:    ldx cstk
        ldy #0
@stp:   lda fac,y
        sta CSTK+6,x
        inx
        iny
        cpy #4
        bne @stp
        ldx cstk
        lda curlp
        sta CSTK+10,x
        lda curlp+1
        sta CSTK+11,x
        lda txtptr
        sta CSTK+12,x
        lda txtptr+1
        sta CSTK+13,x
        lda runf
        sta CSTK+14,x
        lda #T_FOR
        sta CSTK+15,x
        txa
        clc
        adc #FORSIZE
        sta cstk
        rts

; The loop of varp (of any variable when anyf is set) among the frames above
; the newest GOSUB: C=1 and X its base, or C=0.
findfor:
        ldx cstk
@l:     cpx #0
        beq @no
        lda CSTK-1,x
        cmp #T_FOR
        bne @no
        txa
        sec
        sbc #FORSIZE
        tax
        lda anyf
        bne @yes
        lda CSTK,x
        cmp varp
        bne @l
        lda CSTK+1,x
        cmp varp+1
        bne @l
@yes:   sec
        rts
@no:    clc
        rts

s_next: lda #1
        sta anyf
        jsr peekc
        jsr isalpha
        bcc @find
        jsr getvar
        lda #0
        sta anyf
@find:  jsr findfor
        bcs @f
        jmp err_next
@f:     stx ctmp
        txa
        clc
        adc #FORSIZE
        sta cstk                ; inner loops left open are dropped
        lda CSTK,x
        sta varp
        lda CSTK+1,x
        sta varp+1
        ldy #0
        clc
@add:   lda (varp),y
        adc CSTK+6,x
        sta (varp),y
        sta fac,y
        lda CSTK+2,x
        sta arg,y
        inx
        iny
        tya                     ; no compare: the carry runs on
        eor #4
        bne @add
        jsr scmp                ; limit against the new value
        ldx ctmp
        ldy CSTK+9,x
        bpl @up
        cmp #4
        beq @done
        bne @loop
@up:    cmp #1
        beq @done
@loop:  lda CSTK+10,x
        sta curlp
        lda CSTK+11,x
        sta curlp+1
        lda CSTK+12,x
        sta txtptr
        lda CSTK+13,x
        sta txtptr+1
        lda CSTK+14,x
        jmp resume
@done:  stx cstk
        jsr peekc
        cmp #','
        bne @r
        jsr nextc
        jmp s_next
@r:     rts

; Address (low 16 bits of an expression) into bp.
evaddr: jsr eval
        lda fac
        sta bp
        lda fac+1
        sta bp+1
        rts

s_poke: jsr evaddr
        lda bp
        pha
        lda bp+1
        pha
        lda #','
        jsr chkc
        jsr eval
        pla
        sta bp+1
        pla
        sta bp
        ldy #0
        lda fac
        sta (bp),y
        rts

s_doke: jsr s_poke
        iny
        lda fac+1
        sta (bp),y
        rts

s_call: jsr evaddr
        lda bp
        sta callv
        lda bp+1
        sta callv+1
        jmp (callv)

; Hundredths of a second on the 100 Hz tick.
s_wait: jsr eval
@l:     lda fac+3
        bmi @r
        ora fac+2
        ora fac+1
        ora fac
        beq @r
        lda ticks
@w:     pha
        jsr chkbrk
        pla
        cmp ticks
        beq @w
        lda fac
        bne @d
        lda fac+1
        bne @d1
        dec fac+2
@d1:    dec fac+1
@d:     dec fac
        jmp @l
@r:     rts

s_print:
@lp:    jsr peekc
        jsr endst
        beq @nl
@it:    cmp #';'
        beq @sep
        cmp #','
        bne @str
@zone:  jsr space
        lda curx
        beq @sep
        cmp #10
        beq @sep
        cmp #20
        beq @sep
        cmp #30
        bne @zone
@sep:   jsr nextc
        jsr endst
        bne @it
        rts
@str:   cmp #'"'
        bne @tab
@s:     inc txtptr
        bne @s1
        inc txtptr+1
@s1:    ldy #0
        lda (txtptr),y
        beq @lp
        cmp #'"'
        beq @se
        jsr chrout
        jmp @s
@se:    jsr nextc
        jmp @lp
@tab:   cmp #T_TAB
        beq @tb
        cmp #T_SPC
        bne @num
@tb:    pha
        jsr nextc
        jsr eval
        lda #')'
        jsr chkc
        pla
        cmp #T_TAB
        bne @spc
        lda fac
        sec
        sbc curx
        sta fac
        bcc @lp
@spc:   lda fac
        beq @lp
        jsr space
        dec fac
        jmp @spc
@num:   jsr eval
        jsr prval
        jmp @lp
@nl:    jmp crlf

; Z=1 when A ends the statement.
endst:  cmp #0
        beq @r
        cmp #':'
        beq @r
        cmp #T_ELSE
@r:     rts

s_list: lda #0
        sta linnum
        sta linnum+1
        lda #$FF
        sta lsthi
        sta lsthi+1
        jsr peekc
        jsr isdig
        bcc @nolo
        jsr getlnum
        lda linnum
        sta lsthi
        lda linnum+1
        sta lsthi+1
        jsr peekc
        cmp #T_MINUS
        bne @go
        lda #$FF
        sta lsthi
        sta lsthi+1
        jsr nextc
        jsr isdig
        bcc @go
        lda linnum
        pha
        lda linnum+1
        pha
        jsr getlnum
        jsr @hi
        pla
        sta linnum+1
        pla
        sta linnum
        jmp @go
@nolo:  cmp #T_MINUS
        bne @go
        jsr nextc
        jsr getlnum
        jsr @hi
        lda #0
        sta linnum
        sta linnum+1
@go:    jsr findline
@ln:    ldy #0
        lda (bp),y
        iny
        ora (bp),y
        beq @r
        iny
        lda lsthi
        cmp (bp),y
        iny
        lda lsthi+1
        sbc (bp),y
        bcc @r
        jsr chkbrk
        lda (bp),y
        tax
        dey
        lda (bp),y
        jsr prword
        jsr space
        lda bp
        clc
        adc #4
        sta bp2
        lda bp+1
        adc #0
        sta bp2+1
@c:     ldy #0
        lda (bp2),y
        beq @e
        bpl @ch
        cmp #T_LAST+1
        bcs @nx
        jsr prkw
        jmp @nx
@ch:    cmp #' '
        bcc @nx
        jsr chrout
@nx:    inc bp2
        bne @c
        inc bp2+1
        bne @c
@e:     jsr crlf
        ldy #0
        lda (bp),y
        tax
        iny
        lda (bp),y
        sta bp+1
        stx bp
        jmp @ln
@hi:    lda linnum
        sta lsthi
        lda linnum+1
        sta lsthi+1
@r:     rts

; ---- variables ---------------------------------------------------------------------
; A name at txtptr: two characters count, more letters and digits are part
; of it; % makes it another variable. varp gets its value's address; a new
; one starts at zero.
getvar: jsr peekc
        jsr isalpha
        bcs @a
        jmp synerr
@a:     sta vn1
        lda #0
        sta vn2
        jsr nextc
        jsr isalnum
        bcc @suf
        sta vn2
@more:  jsr nextc
        jsr isalnum
        bcs @more
@suf:   cmp #'$'
        bne @pc
        jmp notimpl
@pc:    cmp #'%'
        bne @find
        lda vn2
        ora #$80
        sta vn2
        jsr nextc
@find:  lda vartab
        sta bp
        lda vartab+1
        sta bp+1
@l:     lda bp
        cmp varend
        bne @cmp
        lda bp+1
        cmp varend+1
        beq @new
@cmp:   ldy #0
        lda (bp),y
        cmp vn1
        bne @nx
        iny
        lda (bp),y
        cmp vn2
        beq @got
@nx:    lda bp
        clc
        adc #VARSIZE
        sta bp
        bcc @l
        inc bp+1
        bne @l
@new:   lda varend
        clc
        adc #VARSIZE
        sta varend
        lda varend+1
        adc #0
        sta varend+1
        cmp #>HIMEM
        bcc @room
        jmp err_mem
@room:  ldy #0
        lda vn1
        sta (bp),y
        iny
        lda vn2
        sta (bp),y
        lda #0
@z:     iny
        sta (bp),y
        cpy #VARSIZE-1
        bne @z
@got:   lda bp
        clc
        adc #2
        sta varp
        lda bp+1
        adc #0
        sta varp+1
        rts

; ---- expressions ----------------------------------------------------------------
; Precedence climbing: OR 1, AND 2, comparisons 3, + - 4, * / 5, ^ 6; NOT
; takes a comparison, unary minus a power. Operands wait on the stack.
eval:   lda #1
expr:   pha
        tsx
        cpx #$50
        bcs @ok
        jmp err_deep
@ok:    jsr unary
@lp:    jsr peekc
        sec
        sbc #T_PLUS
        cmp #10
        bcs @done
        tay
        lda prec,y
        tsx
        cmp $0101,x
        bcc @done
        sta oprec
        cpy #7
        bcs @rel0
        sty opc
        jsr nextc
        jmp @push
@rel0:  lda #0
        sta relm
@rel:   lda relbit-7,y
        ora relm
        sta relm
        jsr nextc
        sec
        sbc #T_GT
        cmp #3
        bcs @rd
        adc #7
        tay
        bne @rel
@rd:    lda relm
        ora #$80
        sta opc
@push:  ldx #3
@ph:    lda fac,x
        pha
        dex
        bpl @ph
        lda opc
        pha
        ldx oprec
        inx
        txa
        jsr expr
        pla
        sta opc
        ldx #0
@pl:    pla
        sta arg,x
        inx
        cpx #4
        bne @pl
        jsr doop
        jmp @lp
@done:  pla
        rts
prec:   .byte 4, 4, 5, 5, 6, 2, 1, 3, 3, 3
relbit: .byte 4, 2, 1

; fac := arg op fac
doop:   lda opc
        bmi @rel
        asl
        tax
        lda optab+1,x
        pha
        lda optab,x
        pha
        rts
@rel:   and #7
        sta relm
        jsr scmp
        and relm
        beq setfalse
settrue:
        lda #$FF
        .byte $2C
setfalse:
        lda #0
        sta fac
setf3:  sta fac+1
        sta fac+2
        sta fac+3
        rts
setone: lda #1
        sta fac
        lda #0
        beq setf3
optab:  .word o_add-1, o_sub-1, o_mul-1, o_div-1, o_pow-1, o_and-1, o_or-1

; arg against fac, signed: 1 below, 2 equal, 4 above (the bits of < = >).
scmp:   ldx #3
@e:     lda arg,x
        cmp fac,x
        bne @ne
        dex
        bpl @e
        lda #2
        rts
@ne:    lda arg
        cmp fac
        lda arg+1
        sbc fac+1
        lda arg+2
        sbc fac+2
        lda arg+3
        sbc fac+3
        bvc @v
        eor #$80
@v:     bmi @lt
        lda #4
        rts
@lt:    lda #1
        rts

o_add:  ldx #0
        clc
@l:     lda arg,x
        adc fac,x
        sta fac,x
        inx
        txa
        eor #4
        bne @l
        rts

o_sub:  ldx #0
        sec
@l:     lda arg,x
        sbc fac,x
        sta fac,x
        inx
        txa
        eor #4
        bne @l
        rts

o_and:  ldx #3
@l:     lda arg,x
        and fac,x
        sta fac,x
        dex
        bpl @l
        rts

o_or:   ldx #3
@l:     lda arg,x
        ora fac,x
        sta fac,x
        dex
        bpl @l
        rts

; Shift-and-add; the low 32 bits are right for either sign.
o_mul:  lda #0
        sta prod
        sta prod+1
        sta prod+2
        sta prod+3
        ldy #32
@l:     lsr fac+3
        ror fac+2
        ror fac+1
        ror fac
        bcc @n
        clc
        ldx #0
@a:     lda prod,x
        adc arg,x
        sta prod,x
        inx
        txa
        eor #4
        bne @a
@n:     asl arg
        rol arg+1
        rol arg+2
        rol arg+3
        dey
        bne @l
        ldx #3
@c:     lda prod,x
        sta fac,x
        dex
        bpl @c
        rts

; Restoring division of magnitudes, truncated toward zero.
o_div:  lda fac
        ora fac+1
        ora fac+2
        ora fac+3
        bne @ok
        jmp err_div
@ok:    lda arg+3
        eor fac+3
        sta dsign
        lda arg+3
        bpl @pa
        ldx #arg
        jsr negx
@pa:    lda fac+3
        bpl @pf
        jsr negfac
@pf:    lda #0
        sta prod
        sta prod+1
        sta prod+2
        sta prod+3
        ldy #32
@l:     asl arg
        rol arg+1
        rol arg+2
        rol arg+3
        rol prod
        rol prod+1
        rol prod+2
        rol prod+3
        ldx #0
        sec
@s:     lda prod,x
        sbc fac,x
        sta pres,x
        inx
        txa
        eor #4
        bne @s
        bcc @n
        ldx #3
@k:     lda pres,x
        sta prod,x
        dex
        bpl @k
        inc arg
@n:     dey
        bne @l
        ldx #3
@c:     lda arg,x
        sta fac,x
        dex
        bpl @c
        lda dsign
        bpl @r
        jmp negfac
@r:     rts

; Square and multiply; a negative power of an integer gives 0.
o_pow:  lda fac+3
        bpl @ok
        jmp setfalse
@ok:    ldx #3
@i:     lda fac,x
        sta pexp,x
        lda arg,x
        sta pbase,x
        dex
        bpl @i
        jsr setone
        jsr @keep
@l:     lda pexp
        ora pexp+1
        ora pexp+2
        ora pexp+3
        beq @d
        lsr pexp+3
        ror pexp+2
        ror pexp+1
        ror pexp
        bcc @sq
        jsr @base
        ldx #3
@r:     lda pres,x
        sta fac,x
        dex
        bpl @r
        jsr o_mul
        jsr @keep
@sq:    jsr @base
        ldx #3
@b:     lda pbase,x
        sta fac,x
        dex
        bpl @b
        jsr o_mul
        ldx #3
@b2:    lda fac,x
        sta pbase,x
        dex
        bpl @b2
        jmp @l
@d:     ldx #3
@f:     lda pres,x
        sta fac,x
        dex
        bpl @f
        rts
@keep:  ldx #3
@k:     lda fac,x
        sta pres,x
        dex
        bpl @k
        rts
@base:  ldx #3
@a:     lda pbase,x
        sta arg,x
        dex
        bpl @a
        rts

negfac: ldx #fac
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

unary:  jsr peekc
        cmp #T_MINUS
        bne @1
        jsr nextc
        lda #6
        jsr expr
        jmp negfac
@1:     cmp #T_PLUS
        bne @2
        jsr nextc
        jmp unary
@2:     cmp #T_NOT
        bne primary
        jsr nextc
        lda #3
        jsr expr
        ldx #3
@n:     lda fac,x
        eor #$FF
        sta fac,x
        dex
        bpl @n
        rts

primary:
        jsr isdig
        bcs number
        cmp #'('
        bne @v
        jsr nextc
        jsr eval
        lda #')'
        jmp chkc
@v:     jsr isalpha
        bcc @tok
        jsr getvar
        ldy #3
@c:     lda (varp),y
        sta fac,y
        dey
        bpl @c
        rts
@tok:   cmp #T_AMP
        beq hexnum
        cmp #'"'
        beq @ni
        cmp #T_SGN
        bcs @fn
        jmp synerr
@ni:    jmp notimpl
@fn:    sbc #T_SGN
        asl
        tax
        lda ftab+1,x
        pha
        lda ftab,x
        pha
        jmp nextc               ; its return enters the function

; Decimal digits into fac.
number: pha
        jsr setfalse
        pla
@l:     and #$0F
        pha
        ldx #3
@c:     lda fac,x
        sta arg,x
        dex
        bpl @c
        jsr dbl
        jsr dbl
        jsr o_add
        jsr dbl
        lda #0
        sta arg+1
        sta arg+2
        sta arg+3
        pla
        sta arg
        jsr o_add
        jsr nextc
        jsr isdig
        bcs @l
        rts
dbl:    asl fac
        rol fac+1
        rol fac+2
        rol fac+3
        rts

; & and hexadecimal digits.
hexnum: jsr setfalse
        jsr nextc
        jsr hexval
        bcc @l
        jmp synerr
@l:     ldx #4
@sh:    jsr dbl
        dex
        bne @sh
        ora fac
        sta fac
        jsr nextc
        jsr hexval
        bcc @l
        rts

; ( expression )
parg:   lda #'('
        jsr chkc
        jsr eval
        lda #')'
        jmp chkc

f_sgn:  jsr parg
        lda fac+3
        bmi @m
        ora fac+2
        ora fac+1
        ora fac
        beq @r
        jmp setone
@m:     jmp settrue
@r:     rts

f_abs:  jsr parg
        lda fac+3
        bpl @r
        jmp negfac
@r:     rts

f_peek: jsr parg
        ldy #0
        lda (fac),y
        pha
        jsr setfalse
        pla
        sta fac
        rts

f_deek: jsr parg
        ldy #0
        lda (fac),y
        pha
        iny
        lda (fac),y
        pha
        jsr setfalse
        pla
        sta fac+1
        pla
        sta fac
        rts

f_fre:  jsr parg
        jsr setfalse
        lda #<HIMEM
        sec
        sbc varend
        sta fac
        lda #>HIMEM
        sbc varend+1
        sta fac+1
        rts

f_true: jmp settrue
f_false:
        jmp setfalse

; ---- numbers out ---------------------------------------------------------------
; The 16-bit number A (low), X (high).
prword: sta fac
        stx fac+1
        lda #0
        sta fac+2
        sta fac+3
        beq prnum

; fac signed, after a space or its minus sign.
prval:  lda fac+3
        bpl @p
        jsr negfac
        lda #'-'
        .byte $2C
@p:     lda #' '
        jsr chrout
        jsr prnum
        jmp space
; fac unsigned, by division by ten; the digits come out lowest first.
prnum:  lda #0
        pha
@d:     lda #0
        ldy #32
@b:     asl fac
        rol fac+1
        rol fac+2
        rol fac+3
        rol
        cmp #10
        bcc @n
        sbc #10
        inc fac
@n:     dey
        bne @b
        ora #'0'
        pha
        lda fac
        ora fac+1
        ora fac+2
        ora fac+3
        bne @d
@o:     pla
        beq @r
        jsr chrout
        jmp @o
@r:     rts

; ---- tables -------------------------------------------------------------------------
; Statement tokens $80-$C8.
stab:   .word s_end-1, notimpl-1, notimpl-1, notimpl-1      ; END EDIT STORE RECALL
        .word notimpl-1, notimpl-1, s_pop-1, notimpl-1      ; TRON TROFF POP PLOT
        .word notimpl-1, notimpl-1, s_doke-1, notimpl-1     ; PULL LORES DOKE REPEAT
        .word notimpl-1, s_for-1, notimpl-1, notimpl-1      ; UNTIL FOR LLIST LPRINT
        .word s_next-1, s_data-1, notimpl-1, notimpl-1      ; NEXT DATA INPUT DIM
        .word s_cls-1, notimpl-1, s_let-1, s_goto-1         ; CLS READ LET GOTO
        .word s_run-1, s_if-1, notimpl-1, s_gosub-1         ; RUN IF RESTORE GOSUB
        .word s_return-1, s_rem-1, notimpl-1, notimpl-1     ; RETURN REM HIMEM GRAB
        .word notimpl-1, s_text-1, s_hires-1                ; RELEASE TEXT HIRES
        .repeat 16                                          ; SHOOT .. INK
        .word notimpl-1
        .endrepeat
        .word s_stop-1, notimpl-1, s_wait-1, notimpl-1      ; STOP ON WAIT CLOAD
        .word notimpl-1, notimpl-1, s_poke-1, s_print-1     ; CSAVE DEF POKE PRINT
        .word notimpl-1, s_list-1, s_clear-1, notimpl-1     ; CONT LIST CLEAR GET
        .word s_call-1, notimpl-1, s_new-1                  ; CALL ! NEW
        .repeat 6                                           ; TAB( TO FN SPC( @ AUTO
        .word synerr-1
        .endrepeat
        .word s_rem-1                                       ; ELSE
        .assert * - stab = 2 * (T_ELSE - $7F), error, "a statement per token"

; Function tokens $D6-$F6.
ftab:   .word f_sgn-1, parg-1, f_abs-1, notimpl-1            ; SGN INT ABS USR
        .word f_fre-1, notimpl-1, notimpl-1, notimpl-1      ; FRE POS HEX$ &
        .word notimpl-1, notimpl-1, notimpl-1, notimpl-1    ; SQR RND LN???? EXP
        .word notimpl-1, notimpl-1, notimpl-1, notimpl-1    ; COS SIN TAN ATN
        .word f_peek-1, f_deek-1, notimpl-1, notimpl-1      ; PEEK DEEK LOG LEN
        .repeat 5                                           ; STR$ VAL ASC CHR$ PI
        .word notimpl-1
        .endrepeat
        .word f_true-1, f_false-1                           ; TRUE FALSE
        .repeat 6                                           ; KEY$ SCRN POINT LEFT$ RIGHT$ MID$
        .word notimpl-1
        .endrepeat
        .assert * - ftab = 2 * (T_LAST - T_SGN + 1), error, "a function per token"

.macro kw s
        .repeat .strlen(s) - 1, i
        .byte .strat(s, i)
        .endrepeat
        .byte .strat(s, .strlen(s) - 1) | $80
.endmacro
; Keywords in token order from $80, the last letter of each with bit 7 set.
kwtab:  kw "END"
        kw "EDIT"
        kw "STORE"
        kw "RECALL"
        kw "TRON"
        kw "TROFF"
        kw "POP"
        kw "PLOT"
        kw "PULL"
        kw "LORES"
        kw "DOKE"
        kw "REPEAT"
        kw "UNTIL"
        kw "FOR"
        kw "LLIST"
        kw "LPRINT"
        kw "NEXT"
        kw "DATA"
        kw "INPUT"
        kw "DIM"
        kw "CLS"
        kw "READ"
        kw "LET"
        kw "GOTO"
        kw "RUN"
        kw "IF"
        kw "RESTORE"
        kw "GOSUB"
        kw "RETURN"
        kw "REM"
        kw "HIMEM"
        kw "GRAB"
        kw "RELEASE"
        kw "TEXT"
        kw "HIRES"
        kw "SHOOT"
        kw "EXPLODE"
        kw "ZAP"
        kw "PING"
        kw "SOUND"
        kw "MUSIC"
        kw "PLAY"
        kw "CURSET"
        kw "CURMOV"
        kw "DRAW"
        kw "CIRCLE"
        kw "PATTERN"
        kw "FILL"
        kw "CHAR"
        kw "PAPER"
        kw "INK"
        kw "STOP"
        kw "ON"
        kw "WAIT"
        kw "CLOAD"
        kw "CSAVE"
        kw "DEF"
        kw "POKE"
        kw "PRINT"
        kw "CONT"
        kw "LIST"
        kw "CLEAR"
        kw "GET"
        kw "CALL"
        kw "!"
        kw "NEW"
        kw "TAB("
        kw "TO"
        kw "FN"
        kw "SPC("
        kw "@"
        kw "AUTO"
        kw "ELSE"
        kw "THEN"
        kw "NOT"
        kw "STEP"
        kw "+"
        kw "-"
        kw "*"
        kw "/"
        kw "^"
        kw "AND"
        kw "OR"
        kw ">"
        kw "="
        kw "<"
        kw "SGN"
        kw "INT"
        kw "ABS"
        kw "USR"
        kw "FRE"
        kw "POS"
        kw "HEX$"
        kw "&"
        kw "SQR"
        kw "RND"
        kw "LN????"
        kw "EXP"
        kw "COS"
        kw "SIN"
        kw "TAN"
        kw "ATN"
        kw "PEEK"
        kw "DEEK"
        kw "LOG"
        kw "LEN"
        kw "STR$"
        kw "VAL"
        kw "ASC"
        kw "CHR$"
        kw "PI"
        kw "TRUE"
        kw "FALSE"
        kw "KEY$"
        kw "SCRN"
        kw "POINT"
        kw "LEFT$"
        kw "RIGHT$"
        kw "MID$"
