; BASIC: line entry, tokeniser, interpreter. Included by z5.s.
; Programs live from (BAS_START), lines linked as link, number, tokens, 0,
; ended by a zero link; (BAS_END) is the byte after that link. Variables
; follow the program, seven bytes each: two name bytes and a five-byte
; value, of which the integer uses four. Loops and subroutine returns sit
; on a control stack of their own at 0x0400, so a jump may reset the
; processor stack at every statement.

; ---- zero page $58-$99 and $9E-$AA -----------------------------------------------
txtptr  = $58                   ; 2, read position in the statement
facx    = $5A                   ; fac: exponent, four mantissa bytes (top first), sign
facm    = $5B
facs    = $5F
argx    = $60                   ; arg: the same, for the left operand
argm    = $61
args    = $65
facg    = $66                   ; fac's guard byte, below its mantissa
argg    = $67
ival    = $68                   ; 4, an integer, low byte first
runf    = $6C                   ; non-zero while a program runs
curlin  = $6D                   ; 2, number of the running line
curlp   = $6F                   ; 2, its address
vartab  = $71                   ; 2, first variable
varend  = $73                   ; 2, past the last variable
cstk    = $75                   ; bytes on the control stack
bp      = $76                   ; 2
bp2     = $78                   ; 2
cnt     = $7A                   ; 2
linnum  = $7C                   ; 2
varp    = $7E                   ; 2, value of the variable last named
tki     = $80                   ; tokeniser: read index
tko     = $81                   ; write index
tmode   = $82                   ; 0 normal, 1 string, 2 DATA, 3 rest of line as typed
kwi     = $83
ctmp    = $84
relm    = $85
vn1     = $86                   ; 2, name being looked up
vn2     = $87
prod    = $88                   ; 4
dt      = $8C                   ; 4
remx    = $90
opc     = $91
oprec   = $92
lsthi   = $94                   ; 2
callv   = $96                   ; 2
kwp     = $98                   ; 2
fptr    = $9E                   ; 2, five-byte number in memory
dexp    = $A0                   ; powers of ten still to apply
sc      = $A1
pointf  = $A2
ndig    = $A3
tmp4    = $A4
pexp    = $A5                   ; 4, whole power being raised to
pnegf   = $A9
forb    = $AA                   ; base of the loop NEXT works on
arytab  = $AB                   ; 2, first array, after the simple variables
arrf    = $AD                   ; the variable named is an array element
ndims   = $AE
datln   = $AF                   ; 2, line of the next DATA item
datp    = $B1                   ; 2, and where in it
indata  = $B3                   ; datp stands after an item
contf   = $B4                   ; CONT may go on
contm   = $B5                   ; 0: at a statement's start, else after one
contl   = $B6                   ; 2, line and
contt   = $B8                   ; 2, text position to go on from
inptr   = $BA                   ; 2, read position in an INPUT reply
ai      = $BC
dimf    = $BD                   ; getarr creates (DIM) rather than reads
lvar    = $BE                   ; 2, the variable a LET, READ or INPUT sets
larr    = $C0
instmt  = $C1                   ; 2, INPUT's variable list, to ask again
vtype   = $C9                   ; $FF when fac holds a string
atype   = $CA                   ; the same for arg
fretop  = $CB                   ; 2, lowest string byte
tmpok   = $CD                   ; the newest string was made by an expression
sptr1   = $CE                   ; 2
sptr2   = $D0                   ; 2
slen1   = $D2
gclim   = $D3                   ; 2, strings below here are still to move
gcbest  = $D5                   ; 2, descriptor of the highest of them
gcbp    = $D7                   ; 2, its string
gcnew   = $D9                   ; 2, where the moved strings begin
ltype   = $DB                   ; the type of the variable LET sets
nbl     = $DC                   ; characters in NBUF
outf    = $DD                   ; $80: number output goes to NBUF
lint    = $DF                   ; the variable LET sets has a %
NBUF    = $02A0                 ; 32 bytes: STR$, VAL, HEX$
ARGS    = $02C0                 ; statement arguments, two bytes each
hx      = $02D0                 ; hires cursor: column 0-239
hy      = $02D1                 ; and line 0-199
hfb     = $02D2                 ; 0 clear, 1 set, 2 invert, 3 leave
hdx     = $02D3                 ; DRAW: steps across
hdy     = $02D4                 ; and down
hsx     = $02D5                 ; +1 or -1
hsy     = $02D6
herr    = $02D7                 ; 2
hn      = $02D9                 ; 2
hcx     = $02DB                 ; CIRCLE's centre
hcy     = $02DC
hpat    = $02DD                 ; DRAW's dash pattern, inverted
USRVEC  = $02FE                 ; USR's routine; an RTS until set
FT1     = $0250                 ; parked numbers, six bytes each
DIGS    = $0270                 ; nine digits being printed
SUBS    = $0280                 ; subscripts of an array element, 2 bytes each
CSTK    = $0400                 ; control stack, 256 bytes
VARSIZE = 7
FORSIZE = 20
SUBSIZE = 6

T_DATA  = $91
T_REPEAT = $8B
T_GOTO  = $97
T_IF    = $99
T_GOSUB = $9B
T_REM   = $9D
T_UNTIL = $8C
T_FOR   = $8D
T_NEXT  = $90
T_DIM   = $93
T_RETURN = $9C
T_CONT  = $BB
T_ON    = $B4
T_TAB   = $C2
T_TO    = $C3
T_FN    = $C4
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
T_LOG   = $E8
T_AMP   = $DD
T_LAST  = $F6

; ---- entry and the line loop ----------------------------------------------------
; BASIC entered: its name on the status row, USR an RTS, no variables.
basini: jsr bname
        lda #<rts1
        sta USRVEC
        lda #>rts1
        sta USRVEC+1
        jmp clearv
c_basic:
        jsr endargs
        jsr basini
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
        jsr blank               ; a fresh row, as the monitor's prompt has
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
@run:   jmp direct
; The status row names BASIC.
bname:  ldx #6
@m:     lda basicnm,x
        sta STATUS+24,x
        dex
        bpl @m
        rts
basicnm: .byte "BASIC  "
monnm:  .byte "MONITOR"

; Prints a newline unless the cursor is at the start of a row.
newln:  lda curx
        cmp lmarg
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
        sta arytab
        lda BAS_END+1
        sta vartab+1
        sta varend+1
        sta arytab+1
        lda #<HIMEM
        sta fretop
        lda #>HIMEM
        sta fretop+1
        lda #0
        sta cstk
        sta contf
        lda BAS_START
        ldx BAS_START+1
setdat: sta datln
        stx datln+1
        clc
        adc #4
        sta datp
        txa
        adc #0
        sta datp+1
        lda #0
        sta indata
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
; and X = tki. Characters no keyword starts with are passed over at once.
kwmatch:
        ldx tki
        lda inbuf,x
        sec
        sbc #$20
        cmp #$60
        bcs @none
        pha
        and #7
        tay
        pla
        lsr
        lsr
        lsr
        tax
        lda kwfirst,x
        and bitmask,y
        beq @none
        lda #<kwtab
        sta kwp
        lda #>kwtab
        sta kwp+1
        lda #$80
        sta kwi
@kw:    ldy #0
        ldx tki
@ch:    lda (kwp),y
        eor inbuf,x             ; 0, or $80 on the keyword's last letter
        asl
        bne @no
        iny
        inx
        bcc @ch
        stx tki
        lda kwi
        rts                     ; C=1 from the last letter
@no:    lda (kwp),y             ; past the last letter
        bmi @e
        iny
        bne @no
@e:     tya
        sec
        adc kwp
        sta kwp
        bcc @i
        inc kwp+1
@i:     inc kwi
        lda kwi
        cmp #T_LAST+1
        bne @kw
@none:  ldx tki
        clc
        rts
; Characters $20-$7F that begin a keyword, a bit each.
kwfirst:
        .byte $42, $AC, $00, $70, $FB, $FB, $FD, $44, $00, $00, $00, $00

; Prints the keyword of token A.
prkw:   sec
        sbc #$80
        tax
        lda #<kwtab
        sta kwp
        lda #>kwtab
        sta kwp+1
        ldy #0
@l:     lda (kwp),y
        inc kwp
        bne @n
        inc kwp+1
@n:     cpx #0
        bne @s
        pha
        and #$7F
        jsr chrout
        pla
@s:     asl                     ; the last letter ends the keyword
        bcc @l
        dex
        bpl @l
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
        bcs isno
        cmp #'0'
isr:    rts
isno:   clc
        rts

; C=1 for a letter or digit.
isalnum:
        jsr isdig
        bcs isr

; C=1 for a capital letter.
isalpha:
        cmp #'Z'+1
        bcs @no
        cmp #'A'
        rts
@no:    clc
        rts

; Skips the character A or stops with a syntax error.
chkc:   sta ctmp
        jsr peekc
        cmp ctmp
        bne synerr
        jmp nextc

; A line number into linnum; one past 65535 is a syntax error (it would
; wrap round to another line). From 6656 on, ten times is too many at once.
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
        cpx #$1A
        bcs synerr
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
        bcs synerr
        clc
        adc linnum
        sta linnum
        bcc @n
        inc linnum+1
        beq synerr
@n:     jsr nextc
        jsr isdig
        bcs @l
        rts

; ---- errors ----------------------------------------------------------------------
synerr: ldx #0
        .byte $2C               ; skips the next load
err_line:
        ldx #1
        .byte $2C
err_ret:
        ldx #2
        .byte $2C
err_next:
        ldx #3
        .byte $2C
err_div:
        ldx #4
        .byte $2C
err_mem:
        ldx #5
        .byte $2C
notimpl:
        ldx #6
        .byte $2C
err_ovf:
        ldx #8
        .byte $2C
err_qty:
        ldx #9
        .byte $2C
err_sub:
        ldx #10
        .byte $2C
err_redim:
        ldx #11
        .byte $2C
err_data:
        ldx #12
        .byte $2C
err_until:
        ldx #13
        .byte $2C
err_cont:
        ldx #14
        .byte $2C
err_deep:
        ldx #7
basicerr:
        stx ctmp
        ldx #$FF
        txs
        lda #0
        sta contf
        sta dimf
        jsr newln
        lda #'?'
        jsr chrout
        ldx ctmp                ; past X texts
        ldy #$FF
@sk:    dex
        bmi @pr
@z:     iny
        lda e_syn,y
        bne @z
        beq @sk
@pr:    iny
        lda e_syn,y
        beq @e
        bmi @kw
        jsr chrout
        bne @pr
@kw:    sty ctmp
        jsr prkw
        ldy ctmp
        jmp @pr
@e:
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
        sta contm
        lda runf
        sta contf
        lda curlp
        sta contl
        lda curlp+1
        sta contl+1
        lda txtptr
        sta contt
        lda txtptr+1
        sta contt+1
        jsr newln
        jsr primm
        .byte "BREAK", 0
        jmp inln

; Esc or Ctrl+C anywhere in the key buffer stops the program and drops the
; keys typed ahead; other keys wait for the program or the next line.
chkbrk: lda #1
chkbrkm:
        sta ctmp
        ldx khead
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
        lda ctmp
        jmp stopped
@r:     rts

; The texts in error number order; keywords stand as their tokens.
e_syn:  .byte "SYNTAX", 0
        .byte "UNDEFINED LINE", 0
        .byte T_RETURN, " WITHOUT ", T_GOSUB, 0
        .byte T_NEXT, " WITHOUT ", T_FOR, 0
        .byte "DIVISI", T_ON, " BY ZERO", 0
        .byte "OUT OF MEMORY", 0
        .byte T_NOT, " IMPLEMENTED", 0
        .byte T_FOR, "MULA ", T_TO, "O COMPLEX", 0
        .byte "OVERFLOW", 0
        .byte "ILLEGAL QUANTITY", 0
        .byte "BAD SUBSCRIPT", 0
        .byte "RE", T_DIM, "'D ARRAY", 0
        .byte "OUT OF ", T_DATA, 0
        .byte T_UNTIL, " WITHOUT ", T_REPEAT, 0
        .byte "CAN'T ", T_CONT, "INUE", 0
        .byte "TYPE MISMATCH", 0
        .byte "STRING ", T_TO, "O LONG", 0
        .byte "ILLEGAL DIRECT", 0
        .byte "UNDEF'D FUNCTI", T_ON, 0
        .assert * - e_syn < 256, error, "the error texts fit one index"

; ---- execution -----------------------------------------------------------------
exec:   ldx #$FF
        txs
        lda khead
        cmp ktail
        beq @nk
        lda #0
        jsr chkbrkm
@nk:    lda #0                  ; no string is new yet; collect when short of room
        sta tmpok
        lda fretop
        sec
        sbc varend
        lda fretop+1
        sbc varend+1
        cmp #2
        bcs @room
        jsr gc
@room:  jsr peekc
        beq eol
        cmp #':'
        bne @st
        jsr nextc
        jmp exec
@st:    cmp #$27                ; ' is REM
        beq rest
        tax                     ; statements return to stmtend
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
        beq rest
        cmp #$27
        bne synerr2
rest:   jsr s_rem
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
s_end:  lda #0
        sta contf
        jmp ready

s_stop: lda #1
        jmp stopped

s_cont: lda contf
        bne @ok
        jmp err_cont
@ok:    lda contl
        sta curlp
        lda contl+1
        sta curlp+1
        lda contt
        sta txtptr
        lda contt+1
        sta txtptr+1
        lda #1
        jsr resume
        lda contm
        bne @e
        jmp exec
@e:     jmp stmtend

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


s_cls:  lda #$0C
        jmp chrout

s_text: jsr text
        jmp bname

s_hires:
        lda #0
        sta hpat                ; solid lines again
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
        jsr keepv
        lda #T_EQ
        jsr chkc
        jsr eval
        jsr takev
        jmp assign

; The variable just named kept in lvar: an element relative to arytab, as
; a new simple variable moves the arrays up.
keepv:  lda vn1
        and #$80
        sta ltype
        lda vn2
        and #$80
        sta lint
        lda arrf
        sta larr
        lda varp
        ldx varp+1
        ldy arrf
        beq @s
        sec
        sbc arytab
        tay
        txa
        sbc arytab+1
        tax
        tya
@s:     sta lvar
        stx lvar+1
        rts
; fptr to the variable kept.
takev:  lda lvar
        ldx lvar+1
        ldy larr
        beq @s
        clc
        adc arytab
        tay
        txa
        adc arytab+1
        tax
        tya
@s:     sta fptr
        stx fptr+1
        rts

s_run:  jsr clearv
        jsr peekc
        jsr isdig
        bcs s_goto
runprg: lda BAS_START
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
dosub:  lda #T_GOSUB
        jsr pushf
        jmp golin

; fptr := CSTK + X + A, a FOR frame's field.
fpx:    stx fptr
        clc
        adc fptr
        sta fptr
        lda #>CSTK
        sta fptr+1
        rts

; A GOSUB or REPEAT frame: line, text position, run flag, type A.
pushf:  ldx cstk
        cpx #256-SUBSIZE
        bcc @ok
        jmp err_mem
@ok:    sta CSTK+5,x
        lda curlp
        sta CSTK,x
        lda curlp+1
        sta CSTK+1,x
        lda txtptr
        sta CSTK+2,x
        lda txtptr+1
        sta CSTK+3,x
        lda runf
        sta CSTK+4,x
        txa
        clc
        adc #SUBSIZE
        sta cstk
        rts

s_repeat:
        lda #T_REPEAT
        jmp pushf

s_until:
        jsr evnum
        ldx cstk
        beq @no
        lda CSTK-1,x
        cmp #T_REPEAT
        bne @no
        txa
        sec
        sbc #SUBSIZE
        tax
        lda facx
        beq restf
        stx cstk
        rts
@no:    jmp err_until

s_on:   jsr getint
        jsr peekc
        cmp #T_GOTO
        beq @k
        cmp #T_GOSUB
        beq @k
        jmp synerr
@k:     sta opc
        lda ival+3
        ora ival+2
        ora ival+1
        bne @out
        ldx ival
        beq @out
@l:     stx ai
        jsr nextc
        jsr getlnum
        ldx ai
        dex
        beq @take
        jsr peekc
        cmp #','
        beq @l
@out:   jmp s_data              ; none chosen: on to the next statement
@take:  jsr s_data              ; a subroutine returns after the list
        lda opc
        cmp #T_GOSUB
        beq @sub
        jmp golin
@sub:   jmp dosub

; The newest GOSUB frame, loops above it dropped: X its base.
popsub: ldx cstk
        beq @no
        lda CSTK-1,x
        cmp #T_GOSUB
        beq @g
        ldy #FORSIZE
        cmp #T_FOR
        beq @d
        ldy #SUBSIZE
@d:     sty ctmp
        txa
        sec
        sbc ctmp
        sta cstk
        jmp popsub
@g:     txa
        sec
        sbc #SUBSIZE
        sta cstk
        tax
        rts
@no:    jmp err_ret


s_return:
        jsr popsub
; Back to the frame at X: its line, text position and run flag.
restf:  lda CSTK,x
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

s_if:   jsr evnum
        lda facx
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

; FOR frame: variable, limit, step, the variable's name, then a record as
; GOSUB's: line, text position, run flag, T_FOR.
s_for:  jsr getvar
        lda arrf                ; a simple variable counts
        bne synerr3
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
        lda vn1                 ; the name: NEXT finds its loop without a lookup
        sta CSTK+12,x
        lda vn2
        sta CSTK+13,x
        lda #T_EQ
        jsr chkc
        jsr evnum
        ldx cstk
        lda CSTK,x
        sta fptr
        lda CSTK+1,x
        sta fptr+1
        jsr stfac
        lda #T_TO
        jsr chkc
        jsr evnum
        ldx cstk
        lda #2
        jsr fpx
        jsr stfac
        jsr peekc
        cmp #T_STEP
        bne @one
        jsr nextc
        jsr evnum
        jmp @st
@one:   jsr ld1
@st:    ldx cstk
        lda #7
        jsr fpx
        jsr stfac
        lda cstk
        clc
        adc #14
        sta cstk
        lda #T_FOR
        jmp pushf

s_next: jsr peekc
        jsr isalpha
        bcs @nm
        lda #0
        sta vn1
        beq @find
@nm:    jsr getname
@find:  jsr findfor
        bcs @f
        jmp err_next
@f:     stx forb
        txa
        clc
        adc #FORSIZE
        sta cstk                ; inner loops left open are dropped
        lda CSTK,x
        sta fptr
        lda CSTK+1,x
        sta fptr+1
; A step that is a positive power of two, added to a positive value not
; below a half, is one bit added into the stored mantissa: worked on a
; copy in fac, which stays in the stored form for the comparison.
        lda CSTK+8,x
        ora CSTK+9,x
        ora CSTK+10,x
        ora CSTK+11,x
        bne @gen
        ldy #4
@cp:    lda (fptr),y
        sta facx,y
        dey
        bpl @cp
        lda facm
        bmi @gen
        lda facx
        bpl @gen
        sec
        sbc CSTK+7,x
        cmp #32
        bcs @gen
        tay                     ; the step's bit: byte Y/8, bit 7 - Y%8
        and #7
        eor #7
        tax
        tya
        lsr
        lsr
        lsr
        tay
        lda bitmask,x
        clc
@ad:    adc facm,y
        sta facm,y
        lda #0
        dey
        bcs @ad                 ; never past the top byte, below $80
        lda facm
        bmi @gen                ; a carry into the hidden bit: the long way
        ldy #4
@wb:    lda facx,y
        sta (fptr),y
        dey
        bpl @wb
        ldx forb
        lda #2
        jsr fpx
        ldy #1
        lda (fptr),y
        bmi @ab                 ; a negative limit is below
        dey
@pc:    lda facx,y              ; both positive: the stored bytes in order decide
        cmp (fptr),y
        bne @ne
        iny
        cpy #5
        bne @pc
        lda #2
        bne @res
@ne:    lda #4
        bcc @res
@ab:    lda #1
        bne @res
@gen:   jsr ldfac
        ldx forb
        lda #7
        jsr fpx
        jsr ldarg
        jsr fadd
        ldx forb
        lda CSTK,x
        sta fptr
        lda CSTK+1,x
        sta fptr+1
        jsr stfac
        ldx forb
        lda #2
        jsr fpx
        jsr ldarg
        jsr fcmp                ; limit against the new value: 1 below, 4 above
@res:   ldx forb
        ldy CSTK+8,x            ; counting down, 4 ends it
        bpl @up
        lsr
        lsr
@up:    lsr
        bcs @done
        txa
        adc #14                 ; C=0
        tax
        jmp restf
@done:  stx cstk
        jsr peekc
        cmp #','
        bne @r
        jsr nextc
        jmp s_next
@r:     rts

s_restore:
        jsr peekc
        jsr isdig
        bcs @n
        lda BAS_START
        ldx BAS_START+1
        jmp setdat
@n:     jsr getlnum
        jsr findline
        bcs @f
        jmp err_line
@f:     lda bp
        ldx bp+1
        jmp setdat

s_read: jsr getvar
        jsr keepv
        jsr swapdp
        jsr seekdat
        jsr getitem
        jsr peekc
        cmp #','
        beq @ok
        jsr endst
        beq @ok
        ldy #2                  ; the error is the DATA line's
        lda (datln),y
        sta curlin
        iny
        lda (datln),y
        sta curlin+1
        jmp synerr
@ok:    lda #1
        sta indata
        jsr swapdp
        jsr takev
        jsr assign
        jsr peekc
        cmp #','
        bne @r
        jsr nextc
        jmp s_read
@r:     rts

swapdp: ldx #1
@l:     lda txtptr,x
        ldy datp,x
        sta datp,x
        sty txtptr,x
        dex
        bpl @l
        rts

; txtptr onto the next DATA item, from the line datln.
seekdat:
        lda indata
        beq @scan
        ldy #0
        lda (txtptr),y
        cmp #','
        bne @scan
        jmp nextc
@scan:  lda #0
        sta indata
        ldy #0
        lda (datln),y
        iny
        ora (datln),y
        beq @out
@s:     ldy #0
        lda (txtptr),y
        bne @b
        lda (datln),y           ; the line's end: on to the next
        tax
        iny
        lda (datln),y
        sta datln+1
        stx datln
        dey
        lda (datln),y
        iny
        ora (datln),y
        beq @out
        lda datln
        clc
        adc #4
        sta txtptr
        lda datln+1
        adc #0
        sta txtptr+1
        jmp @s
@b:     cmp #T_DATA
        beq @f
        inc txtptr
        bne @s
        inc txtptr+1
        bne @s
@f:     jmp nextc
@out:   jsr swapdp              ; the error names the READ's line
        jmp err_data

s_get:  jsr getvar
        jsr keepv
        jsr gkey
        ldx ltype
        bne @s
        jsr setbyte
        jmp @a
@s:     jsr chrstr
@a:     jsr takev
        jmp assign

s_input:
        jsr nodirect
        lda txtptr
        sta instmt
        lda txtptr+1
        sta instmt+1
inagain:
        jsr peekc
        cmp #'"'
        bne @ask0
        jsr prquote
        jsr peekc
        cmp #';'
        beq @sk
        cmp #','
        beq @sk
        jmp synerr
@sk:    jsr nextc
@ask0:  jsr primm
        .byte "? ", 0
        lda curx
        sta inptr
        lda #>inbuf
        sta inptr+1
        jsr getline
inret:                          ; a break in getline knows INPUT by this
@v:     jsr getvar
        jsr keepv
        jsr swapin
        jsr getitem
        bcs @redo
        jsr peekc
        cmp #','
        bne @e
        jsr nextc
@e:     jsr swapin
        jsr takev
        jsr assign
        jsr peekc
        cmp #','
        bne @x
        jsr nextc
        jmp @v
@x:     ldy #0                  ; more values than variables
        lda (inptr),y
        beq @r
        jsr primm
        .byte "?EXTRA IGNORED", 13, 0
@r:     rts
@redo:  jsr swapin
        lda instmt
        sta txtptr
        lda instmt+1
        sta txtptr+1
        jsr primm
        .byte "?REDO FROM START", 13, 0
        jmp inagain

swapin: ldx #1
@l:     lda txtptr,x
        ldy inptr,x
        sta inptr,x
        sty txtptr,x
        dex
        bpl @l
        rts

s_dim:  lda #1
        sta dimf
        jsr getname
        jsr peekc
        cmp #'('
        beq @a
        jmp synerr
@a:     jsr getarr
        lda #0
        sta dimf
        jsr peekc
        cmp #','
        bne @r
        jsr nextc
        jmp s_dim
@r:     rts

; Address (low 16 bits of an expression) into bp.
evaddr: jsr getint
        lda ival
        sta bp
        lda ival+1
        sta bp+1
        rts

; POKE's and DOKE's address into bp, the value into ival; Y = 0.
pkargs: jsr evaddr
        lda bp
        pha
        lda bp+1
        pha
        lda #','
        jsr chkc
        jsr getint
        pla
        sta bp+1
        pla
        sta bp
        ldy #0
        rts

s_poke: jsr pkargs
        jsr chkb                ; 0-255, as CHR$ takes
        sta (bp),y
        rts

s_doke: jsr pkargs
        lda ival
        sta (bp),y
        iny
        lda ival+1
        sta (bp),y
        rts

s_call: jsr evaddr
        lda bp
        sta callv
        lda bp+1
        sta callv+1
        jmp (callv)

; Hundredths of a second on the 100 Hz tick.
s_wait: jsr getint
@l:     lda ival+3
        bmi @r
        ora ival+2
        ora ival+1
        ora ival
        beq @r
        lda ticks
@w:     pha
        jsr chkbrk
        pla
        cmp ticks
        beq @w
        lda ival
        bne @d
        lda ival+1
        bne @d1
        dec ival+2
@d1:    dec ival+1
@d:     dec ival
        jmp @l
@r:     rts

s_print:
@lp:    jsr peekc
        jsr endst
        beq @nl
@it:    cmp #';'
        beq @sep
        cmp #','
        bne @tab
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
@tab:   cmp #T_TAB
        beq @tb
        cmp #T_SPC
        bne @num
@tb:    pha
        jsr nextc
        jsr barg
        pla
        cmp #T_TAB
        bne @spc
        lda ival
        sec
        sbc curx
        sta ival
        bcc @lp
@spc:   lda ival
        beq @lp
        jsr space
        dec ival
        jmp @spc
@num:   jsr eval
        lda vtype
        beq @pn
        jsr prstr
        jmp @lp
@pn:    jsr prval
        jmp @lp
@nl:    jmp crlf

; The string in quotes at txtptr; txtptr after it.
prquote:
@s:     inc txtptr
        bne @s1
        inc txtptr+1
@s1:    ldy #0
        lda (txtptr),y
        beq @r
        cmp #'"'
        beq @se
        jsr chrout
        jmp @s
@se:    jmp nextc
@r:     rts

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
; of it; % makes it another variable, "(" an array element. varp gets the
; value's address, arrf is set for an element; a new one starts at zero.
getvar: jsr getname
        lda #0
        sta arrf
        jsr peekc
        cmp #'('
        bne findsv
        jmp getarr
; The simple variable vn1, vn2, made when new.
findsv: lda vartab
        sta bp
        lda vartab+1
        sta bp+1
@l:     lda bp
        cmp arytab
        bne @cmp
        lda bp+1
        cmp arytab+1
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
@new:   lda varend              ; the arrays move up to make room
        clc
        adc #VARSIZE
        sta bp2
        lda varend+1
        adc #0
        sta bp2+1
        lda bp2
        cmp fretop
        lda bp2+1
        sbc fretop+1
        bcc @room
        jmp err_mem
@room:  lda varend
        sec
        sbc arytab
        sta cnt
        lda varend+1
        sbc arytab+1
        sta cnt+1
        lda bp2
        sta varend
        lda bp2+1
        sta varend+1
        lda arytab
        sta bp
        clc
        adc #VARSIZE
        sta bp2
        sta arytab
        lda arytab+1
        sta bp+1
        adc #0
        sta bp2+1
        sta arytab+1
        jsr mvup
        lda arytab
        sec
        sbc #VARSIZE
        sta bp
        lda arytab+1
        sbc #0
        sta bp+1
        ldy #0
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

getname:
        jsr peekc
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
        lda vn1
        ora #$80
        sta vn1
        jsr nextc
        jmp @r
@pc:    cmp #'%'
        bne @r
        lda vn2
        ora #$80
        sta vn2
        jsr nextc
@r:     rts

; Array block: name, size of the block, number of dimensions, the size of
; each (2 bytes), then the elements, five bytes each, the last subscript
; running fastest. An array used before DIM gets 0 to 10 in each.
getarr: lda dimf
        pha
        lda vn2
        pha
        lda vn1
        pha
        lda #0
        sta dimf
        ldx #0
@sub:   txa
        pha
        jsr nextc
        jsr getint
        lda ival+3
        ora ival+2
        beq @ok
        jmp err_sub
@ok:    pla
        tax
        inx
        lda ival
        pha
        lda ival+1
        pha
        jsr peekc
        cmp #','
        beq @sub
        lda #')'
        jsr chkc
        stx ndims
        txa
        asl
        tay
@p:     pla
        sta SUBS-1,y
        dey
        pla
        sta SUBS-1,y
        dey
        bne @p
        pla
        sta vn1
        pla
        sta vn2
        pla
        sta dimf
        jsr findarr
        bcs @have
        lda dimf
        beq @auto
        jmp mkarr
@auto:  ldx #15                 ; bounds of 10, the subscripts kept aside
@keep:  lda SUBS,x
        sta SUBS+16,x
        dex
        bpl @keep
        ldx ndims
        txa
        asl
        tax
@ten:   lda #0
        sta SUBS-1,x
        lda #10
        sta SUBS-2,x
        dex
        dex
        bne @ten
        jsr mkarr
        ldx #15
@back:  lda SUBS+16,x
        sta SUBS,x
        dex
        bpl @back
        jmp @acc
@have:  lda dimf
        beq @acc
        jmp err_redim
@acc:   ldy #4
        lda (bp),y
        cmp ndims
        beq @nd
@bad:   jmp err_sub
@nd:    lda #0
        sta cnt
        sta cnt+1
        sta ai
@d:     lda ai
        tax
        clc
        adc #5
        tay
        lda (bp),y
        sta dt
        iny
        lda (bp),y
        sta dt+1
        lda SUBS,x
        cmp dt
        lda SUBS+1,x
        sbc dt+1
        bcs @bad
        jsr mul16
        ldx ai
        clc
        lda cnt
        adc SUBS,x
        sta cnt
        lda cnt+1
        adc SUBS+1,x
        sta cnt+1
        inx
        inx
        stx ai
        txa
        lsr
        cmp ndims
        bne @d
        jsr times5
        lda ndims
        asl
        adc #5
        adc bp
        sta varp
        lda bp+1
        adc #0
        sta varp+1
        clc
        lda varp
        adc cnt
        sta varp
        lda varp+1
        adc cnt+1
        sta varp+1
        lda #1
        sta arrf
        rts

; The array named vn1, vn2: C=1 and bp its block, or C=0 and bp = varend.
findarr:
        lda arytab
        sta bp
        lda arytab+1
        sta bp+1
@l:     lda bp
        cmp varend
        bne @c
        lda bp+1
        cmp varend+1
        bne @c
        clc
        rts
@c:     ldy #0
        lda (bp),y
        cmp vn1
        bne @n
        iny
        lda (bp),y
        cmp vn2
        bne @n
        sec
        rts
@n:     ldy #2
        clc
        lda bp
        adc (bp),y
        tax
        iny
        lda bp+1
        adc (bp),y
        sta bp+1
        stx bp
        jmp @l

; A new array at bp (varend) with bounds SUBS.
mkarr:  lda #1
        sta cnt
        lda #0
        sta cnt+1
        sta ai
@e:     ldx ai
        inc SUBS,x
        bne @s
        inc SUBS+1,x
@s:     lda SUBS,x
        sta dt
        lda SUBS+1,x
        sta dt+1
        jsr mul16
        lda prod+2
        bne @oom
        inc ai
        inc ai
        lda ai
        lsr
        cmp ndims
        bne @e
        jsr times5
        bcs @oom
        lda ndims
        asl
        adc #5
        adc cnt
        sta cnt
        bcc @c
        inc cnt+1
@c:     clc
        lda bp
        adc cnt
        sta bp2
        lda bp+1
        adc cnt+1
        bcs @oom
        sta bp2+1
        lda bp2
        cmp fretop
        lda bp2+1
        sbc fretop+1
        bcc @ok
@oom:   jmp err_mem
@ok:    lda bp                  ; cleared, then the header
        sta varp
        lda bp+1
        sta varp+1
        ldy #0
@z:     tya
        sta (varp),y
        inc varp
        bne @zc
        inc varp+1
@zc:    lda varp
        cmp bp2
        bne @z
        lda varp+1
        cmp bp2+1
        bne @z
        lda bp2
        sta varend
        lda bp2+1
        sta varend+1
        lda vn1
        sta (bp),y
        iny
        lda vn2
        sta (bp),y
        iny
        lda cnt
        sta (bp),y
        iny
        lda cnt+1
        sta (bp),y
        iny
        lda ndims
        sta (bp),y
        ldx #0
@h:     iny
        lda SUBS,x
        sta (bp),y
        inx
        txa
        lsr
        cmp ndims
        bne @h
        rts

; cnt := cnt * dt, 24 bits in prod; cnt keeps the low 16.
mul16:  lda #0
        sta prod
        sta prod+1
        sta prod+2
        lda cnt
        ora cnt+1
        beq @z
        ldx #16
@l:     asl prod
        rol prod+1
        rol prod+2
        asl cnt
        rol cnt+1
        bcc @n
        clc
        lda prod
        adc dt
        sta prod
        lda prod+1
        adc dt+1
        sta prod+1
        bcc @n
        inc prod+2
@n:     dex
        bne @l
@z:     lda prod
        sta cnt
        lda prod+1
        sta cnt+1
        rts

; cnt := cnt * 5; C=1 past 16 bits.
times5: lda cnt
        sta dt
        lda cnt+1
        sta dt+1
        asl cnt
        rol cnt+1
        bcs @r
        asl cnt
        rol cnt+1
        bcs @r
        lda cnt
        adc dt
        sta cnt
        lda cnt+1
        adc dt+1
        sta cnt+1
@r:     rts

; ---- expressions ----------------------------------------------------------------
; Precedence climbing: OR 1, AND 2, comparisons 3, + - 4, * / 5, ^ 6; NOT
; takes a comparison, unary minus a power. Left operands wait on the stack.
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
@push:  jsr fround
        lda vtype
        pha
        lda facs
        pha
        lda facm+3
        pha
        lda facm+2
        pha
        lda facm+1
        pha
        lda facm
        pha
        lda facx
        pha
        lda opc
        pha
        ldx oprec
        inx
        txa
        jsr expr
        pla
        sta opc
        pla
        sta argx
        pla
        sta argm
        pla
        sta argm+1
        pla
        sta argm+2
        pla
        sta argm+3
        pla
        sta args
        pla
        sta atype
        jsr doop
        jmp @lp
@done:  pla
        rts
prec:   .byte 4, 4, 5, 5, 6, 2, 1, 3, 3, 3
relbit: .byte 4, 2, 1

; fac := arg op fac
doop:   lda atype
        cmp vtype
        beq @same
        jmp err_type
@same:  lda opc
        bmi @rel
        ldx vtype
        beq @num
        cmp #0
        beq @cat
        jmp err_type
@cat:   jmp sconcat
@num:   asl
        tax
        lda optab+1,x
        pha
        lda optab,x
        pha
        rts
@rel:   and #7
        sta relm
        lda vtype
        beq @fc
        jsr strcmp
        ldx #0
        stx vtype
        beq @res
@fc:    jsr fcmp
@res:   and relm
        beq setfalse
settrue:
        lda #$FF
        .byte $2C
setfalse:
        lda #0
        sta ival
        sta ival+1
        sta ival+2
        sta ival+3
        jmp i2f
optab:  .word fadd-1, fsub-1, fmul-1, fdiv-1, fpow-1, o_and-1, o_or-1

o_and:  jsr twoint
        ldx #3
@l:     lda ival,x
        and prod,x
        sta ival,x
        dex
        bpl @l
        jmp i2f

o_or:   jsr twoint
        ldx #3
@l:     lda ival,x
        ora prod,x
        sta ival,x
        dex
        bpl @l
        jmp i2f

; Both operands as integers: one in ival, the other in prod.
twoint: jsr f2i
        ldx #3
@c:     lda ival,x
        sta prod,x
        dex
        bpl @c
        jsr movfa
        jmp f2i

; Whole powers by squaring and multiplying; others wait for LOG and EXP.
fpow:   jsr swapfa
        ldy #0
        jsr parkf               ; the base in FT1
        jsr movfa
        ldy #6
        jsr parkf               ; the power in FT2
        jsr f2i
        ldx #3
@c:     lda ival,x
        sta pexp,x
        dex
        bpl @c
        jsr i2f
        ldy #6
        jsr unpka
        jsr fcmp
        cmp #2
        beq @whole
        ldy #0                  ; otherwise e^(power ln base)
        jsr unpkf
        lda facx
        beq @r
        jsr fln
        ldy #6
        jsr unpka
        jsr fmul
        jmp fexp
@whole: lda pexp+3
        sta pnegf
        bpl @p
        ldx #pexp
        jsr negx
@p:     jsr ld1
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
        ldy #0
        jsr unpka
        jsr fmul
@sq:    lda pexp                ; no square left unused: it may overflow
        ora pexp+1
        ora pexp+2
        ora pexp+3
        beq @d
        ldy #6
        jsr parkf
        ldy #0
        jsr unpkf
        jsr movaf
        jsr fmul
        ldy #0
        jsr parkf
        ldy #6
        jsr unpkf
        jmp @l
@d:     lda pnegf
        bpl @r
        jsr swapfa
        jsr ld1
        jsr swapfa
        jmp fdiv
@r:     rts

unary:  jsr peekc
        cmp #T_MINUS
        bne @1
        jsr nextc
        lda #6
        jsr expr
        jsr chknum
        jmp fneg
@1:     cmp #T_PLUS
        bne @2
        jsr nextc
        jmp unary
@2:     cmp #T_NOT
        bne primary
        jsr nextc
        lda #3
        jsr expr
        jsr chknum
        jsr f2i
        ldx #3
@n:     lda ival,x
        eor #$FF
        sta ival,x
        dex
        bpl @n
        jmp i2f

primary:
        ldx #0
        stx vtype
        cmp #'.'
        beq number
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
        lda vn1
        bpl @num
        jmp ldsvar
@num:   lda varp
        sta fptr
        lda varp+1
        sta fptr+1
        jmp ldfac
@tok:   cmp #T_AMP
        beq @hex
        cmp #'#'                ; the machine's own way of writing hex
        bne @str
@hex:   jmp hexnum
@str:   cmp #'"'
        bne @f
        jmp slit
@f:     cmp #T_FN
        bne @f2
        jmp fncall
@f2:    cmp #T_SGN
        bcs @fn
        jmp synerr
@fn:    sbc #T_SGN
        asl
        tax
        lda ftab+1,x
        pha
        lda ftab,x
        pha
        cpx #2*(T_LOG-T_SGN+1)  ; these take a number in parentheses
        bcs @nx
        jsr nextc
        jmp parg                ; its return enters the function
@nx:    jmp nextc

; Decimal: up to nine digits gathered exactly as an integer, the rest
; counted as powers of ten, then an exponent after E.
number: ldx #0
        stx ival
        stx ival+1
        stx ival+2
        stx ival+3
        stx dexp
        stx pointf
        stx ndig
@l:     cmp #'.'
        bne @d
        lda pointf
        bne @end
        inc pointf
        bne @nx
@d:     jsr isdig
        bcc @end
        and #$0F
        ldx ival+3
        cpx #$0C
        bcs @full
        pha
        txa                     ; nothing to multiply before the first digit
        ora ival+2
        ora ival+1
        ora ival
        beq @z
        jsr imul10
@z:     pla
        clc
        adc ival
        sta ival
        bcc @c
        inc ival+1
        bne @c
        inc ival+2
        bne @c
        inc ival+3
@c:     lda pointf
        beq @nx
        dec dexp
        jmp @nx
@full:  ldx ndig                ; the first digit past nine rounds
        bne @f2
        inc ndig
        cmp #5
        bcc @f2
        inc ival
        bne @f2
        inc ival+1
        bne @f2
        inc ival+2
@f2:    lda pointf
        bne @nx
        inc dexp
@nx:    jsr nextc
        jmp @l
@end:   cmp #'E'
        bne @go
        ldx #0
        jsr nextc
        cmp #T_PLUS
        beq @sk
        cmp #'+'
        beq @sk
        cmp #'-'
        beq @mi
        cmp #T_MINUS
        bne @ed
@mi:    dex
@sk:    jsr nextc
@ed:    stx tmp4
        ldx #0
        stx sc
@e:     jsr isdig
        bcc @ee
        and #$0F
        pha
        lda sc
        asl
        asl
        adc sc
        asl
        sta sc
        pla
        clc
        adc sc
        sta sc
        jsr nextc
        jmp @e
@ee:    lda sc
        ldx tmp4
        beq @add
        eor #$FF
        clc
        adc #1
@add:   clc
        adc dexp
        sta dexp
@go:    jsr i2f
        lda dexp
        jmp scale10

; ival := ival * 10
imul10: ldx #3
@c:     lda ival,x
        sta prod,x
        dex
        bpl @c
        jsr idbl
        jsr idbl
        clc
        ldx #0
@a:     lda ival,x
        adc prod,x
        sta ival,x
        inx
        txa
        eor #4
        bne @a
idbl:   asl ival
        rol ival+1
        rol ival+2
        rol ival+3
        rts

; & or # and hexadecimal digits.
hexnum: jsr nextc
        jsr hexval
        bcc hexdigs
        jmp synerr
; The digits from the first, its value in A.
hexdigs:
        ldx #0
        stx ival
        stx ival+1
        stx ival+2
        stx ival+3
@l:     ldx #4
@sh:    jsr idbl
        dex
        bne @sh
        ora ival
        sta ival
        jsr nextc
        jsr hexval
        bcc @l
        jmp i2f

; ( expression ), and the same as an integer in ival.
parg:   lda #'('
        jsr chkc
        jsr evnum
        lda #')'
        jmp chkc
getint: jsr evnum
        jmp f2i

f_sgn:  lda facx
        beq @r
        lda facs
        pha
        jsr ld1
        pla
        sta facs
@r:     rts

f_abs:  lda #0
        sta facs
        rts

f_peek: jsr f2i
        ldy #0
        lda (ival),y
        ldx #0
setword:
        sta ival
        stx ival+1
        lda #0
        sta ival+2
        sta ival+3
        jmp i2f

f_deek: jsr f2i
        ldy #1
        lda (ival),y
        tax
        dey
        lda (ival),y
        jmp setword

f_fre:  jsr gc
        lda fretop
        sec
        sbc varend
        pha
        lda fretop+1
        sbc varend+1
        tax
        pla
        jmp setword

; ---- text screen ----------------------------------------------------------------
; PLOT x, y, c puts code c in column x (0-39) of row y (0-26, under the
; status row); SCRN(x, y) reads it back.
tcell:  lda ARGS+2
        cmp #27
        bcs @bad
        tax
        inx
        lda rowlo,x
        sta bp
        lda rowhi,x
        sta bp+1
        ldy ARGS
        cpy #40
        bcs @bad
        rts
@bad:   jmp err_qty

s_plot: lda #3
        jsr getargs
        jsr tcell
        lda ARGS+4
        sta (bp),y
        rts

f_scrn: lda #'('
        jsr chkc
        lda #2
        jsr getargs
        lda #')'
        jsr chkc
        jsr tcell
        lda (bp),y
        jmp setbyte

; CLOAD: the next program from the tape, through the monitor's loader; a
; name after it is not looked at.
s_cload:
        jsr s_data
        jsr tapeload
        jsr clearv
        jmp ready

; USR(x): the machine code whose address is at USRVEC, x in fac on the
; way in, the result in fac on the way out.
f_usr:  jsr @j
        lda #0
        sta vtype
        rts
@j:     jmp (USRVEC)

f_pos:  lda curx
        jmp setbyte

; ---- whole numbers out ---------------------------------------------------------
; The 16-bit number A (low), X (high).
prword: sta ival
        stx ival+1
        lda #0
        sta ival+2
        sta ival+3
; ival unsigned; the digits come out lowest first.
prnum:  lda #0
        pha
@d:     jsr idiv10
        ora #'0'
        pha
        lda ival
        ora ival+1
        ora ival+2
        ora ival+3
        bne @d
@o:     pla
        beq @r
        jsr chrout
        jmp @o
@r:     rts

; ival := ival / 10, the remainder in A. Keeps X.
idiv10: lda #10
; ival := ival / A (up to 128, kept in tmp4), the remainder in A. Keeps X.
idivn:  sta tmp4
        lda #0
        ldy #32
@b:     asl ival
        rol ival+1
        rol ival+2
        rol ival+3
        rol
        cmp tmp4
        bcc @n
        sbc tmp4
        inc ival
@n:     dey
        bne @b
        rts


; ---- tables -------------------------------------------------------------------------
; Statement tokens $80-$C8.
stab:   .word s_end-1, notimpl-1, notimpl-1, notimpl-1      ; END EDIT STORE RECALL
        .word notimpl-1, notimpl-1, popsub-1, s_plot-1       ; TRON TROFF POP PLOT
        .word notimpl-1, s_lores-1, s_doke-1, s_repeat-1    ; PULL LORES DOKE REPEAT
        .word s_until-1, s_for-1, notimpl-1, notimpl-1      ; UNTIL FOR LLIST LPRINT
        .word s_next-1, s_data-1, s_input-1, s_dim-1        ; NEXT DATA INPUT DIM
        .word s_cls-1, s_read-1, s_let-1, s_goto-1          ; CLS READ LET GOTO
        .word s_run-1, s_if-1, s_restore-1, s_gosub-1       ; RUN IF RESTORE GOSUB
        .word s_return-1, s_rem-1, notimpl-1, notimpl-1     ; RETURN REM HIMEM GRAB
        .word notimpl-1, s_text-1, s_hires-1                ; RELEASE TEXT HIRES
        .word s_shoot-1, s_explode-1, s_zap-1, s_ping-1     ; SHOOT EXPLODE ZAP PING
        .word s_sound-1, s_music-1, s_play-1, s_curset-1    ; SOUND MUSIC PLAY CURSET
        .word s_curmov-1, s_draw-1, s_circle-1, s_pattern-1 ; CURMOV DRAW CIRCLE PATTERN
        .word s_fill-1, s_char-1, s_paper-1, s_ink-1        ; FILL CHAR PAPER INK
        .word s_stop-1, s_on-1, s_wait-1, s_cload-1         ; STOP ON WAIT CLOAD
        .word notimpl-1, s_def-1, s_poke-1, s_print-1       ; CSAVE DEF POKE PRINT
        .word s_cont-1, s_list-1, clearv-1, s_get-1        ; CONT LIST CLEAR GET
        .word s_call-1, notimpl-1, s_new-1                  ; CALL ! NEW
        .repeat 4                                           ; TAB( TO FN SPC(
        .word synerr-1
        .endrepeat
        .word notimpl-1, notimpl-1                          ; @ AUTO
        .word s_rem-1                                       ; ELSE
        .assert * - stab = 2 * (T_ELSE - $7F), error, "a statement per token"

; Function tokens $D6-$F6.
ftab:   .word f_sgn-1, fint-1, f_abs-1, f_usr-1             ; SGN INT ABS USR
        .word f_fre-1, f_pos-1, f_hex-1, notimpl-1          ; FRE POS HEX$ &
        .word fsqr-1, frnd-1, fln-1, fexp-1                 ; SQR RND LN???? EXP
        .word fcos-1, fsin-1, ftan-1, fatn-1                ; COS SIN TAN ATN
        .word f_peek-1, f_deek-1, f_log-1, f_len-1          ; PEEK DEEK LOG LEN
        .word f_str-1, f_val-1, f_asc-1, f_chr-1            ; STR$ VAL ASC CHR$
        .word f_pi-1                                        ; PI
        .word settrue-1, setfalse-1, f_key-1                ; TRUE FALSE KEY$
        .word f_scrn-1, f_point-1                           ; SCRN POINT
        .word f_left-1, f_right-1, f_mid-1                  ; LEFT$ RIGHT$ MID$
        .assert * - ftab = 2 * (T_LAST - T_SGN + 1), error, "a function per token"

.macro kw s
        .repeat .strlen(s) - 1, i
        .byte .strat(s, i)
        .endrepeat
        .byte .strat(s, .strlen(s) - 1) | $80
.endmacro
; Keywords in token order from $80, bit 7 set on each one's last letter.
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
