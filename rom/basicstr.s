; BASIC strings. A string value is a descriptor: length, then address (in
; fac: facm, facm+1, facm+2; in a variable the first three of its five
; bytes). Strings live in a heap from HIMEM down to fretop. Expressions make
; new strings there; LET keeps the newest as it is when it was made for it,
; else copies. Garbage is collected at the start of a statement, when no
; string is in flight: the strings of variables move up to HIMEM, the
; highest first, so none overwrites another.


; Frees garbage. exec calls it before a statement when fewer than 512
; bytes are left between variables and strings.
gc:     lda #<HIMEM
        sta gcnew
        sta gclim
        lda #>HIMEM
        sta gcnew+1
        sta gclim+1
@pass:  lda #0
        sta gcbest+1
        lda vartab
        sta bp
        lda vartab+1
        sta bp+1
@sv:    lda bp
        cmp arytab
        bne @s1
        lda bp+1
        cmp arytab+1
        beq @arr
@s1:    ldy #0
        lda (bp),y
        bpl @s2
        lda bp
        clc
        adc #2
        sta bp2
        lda bp+1
        adc #0
        sta bp2+1
        jsr gcvisit
@s2:    lda bp
        clc
        adc #VARSIZE
        sta bp
        bcc @sv
        inc bp+1
        bne @sv
@arr:   lda bp
        cmp varend
        bne @a1
        lda bp+1
        cmp varend+1
        beq @move
@a1:    ldy #2                  ; cnt: the block's end
        clc
        lda bp
        adc (bp),y
        sta cnt
        iny
        lda bp+1
        adc (bp),y
        sta cnt+1
        ldy #0
        lda (bp),y
        bpl @an
        ldy #4
        lda (bp),y
        asl
        adc #5
        adc bp
        sta bp2
        lda bp+1
        adc #0
        sta bp2+1
@el:    lda bp2
        cmp cnt
        bne @e1
        lda bp2+1
        cmp cnt+1
        beq @an
@e1:    jsr gcvisit
        lda bp2
        clc
        adc #5
        sta bp2
        bcc @el
        inc bp2+1
        bne @el
@an:    lda cnt
        sta bp
        lda cnt+1
        sta bp+1
        jmp @arr
@move:  lda gcbest+1
        beq @done
        ldy #0
        lda (gcbest),y
        sta slen1
        lda gcbp
        sta gclim
        sta sptr1
        lda gcbp+1
        sta gclim+1
        sta sptr1+1
        lda gcnew
        sec
        sbc slen1
        sta gcnew
        sta sptr2
        lda gcnew+1
        sbc #0
        sta gcnew+1
        sta sptr2+1
        ldy slen1               ; up, so from the top down
@c:     dey
        lda (sptr1),y
        sta (sptr2),y
        tya
        bne @c
        iny
        lda gcnew
        sta (gcbest),y
        iny
        lda gcnew+1
        sta (gcbest),y
        jmp @pass
@done:  lda gcnew
        sta fretop
        lda gcnew+1
        sta fretop+1
        rts

; The descriptor at bp2 becomes the best when its string is the highest
; below gclim.
gcvisit:
        ldy #0
        lda (bp2),y
        beq @r
        ldy #2
        lda (bp2),y
        cmp gclim+1
        bcc @lt
        bne @r
        dey
        lda (bp2),y
        cmp gclim
        bcs @r
@lt:    lda gcbest+1
        beq @take
        ldy #1
        lda (bp2),y
        cmp gcbp
        iny
        lda (bp2),y
        sbc gcbp+1
        bcc @r
@take:  lda bp2
        sta gcbest
        lda bp2+1
        sta gcbest+1
        ldy #1
        lda (bp2),y
        sta gcbp
        iny
        lda (bp2),y
        sta gcbp+1
@r:     rts

; A bytes of heap at sptr2 (and fretop).
salloc: sta slen1
        sec
        lda fretop
        sbc slen1
        tax
        lda fretop+1
        sbc #0
        tay
        cpx varend
        sbc varend+1
        bcc @oom
        stx fretop
        sty fretop+1
        stx sptr2
        sty sptr2+1
        lda #1
        sta tmpok
        rts
@oom:   jmp err_mem

; X bytes from (sptr1) to (sptr2), sptr2 moved past them.
scopy:  ldy #0
        txa
        beq @r
@c:     lda (sptr1),y
        sta (sptr2),y
        iny
        dex
        bne @c
        tya
        clc
        adc sptr2
        sta sptr2
        bcc @r
        inc sptr2+1
@r:     rts

; fac, a string, made the heap's own unless it is the newest string an
; expression made.
keepstr:
        lda facm
        beq @r
        lda tmpok
        beq @copy
        lda facm+1
        cmp fretop
        bne @copy
        lda facm+2
        cmp fretop+1
        beq @own
@copy:  lda facm
        jsr salloc
        lda facm+1
        sta sptr1
        lda facm+2
        sta sptr1+1
        lda sptr2
        sta facm+1
        lda sptr2+1
        sta facm+2
        ldx facm
        jsr scopy
@own:   lda #0
        sta tmpok
@r:     rts

; fac (number or string, as ltype says) into the variable at fptr.
assign: lda ltype
        bne @s
        jsr chknum
        lda lint                ; % variables keep whole numbers, -32768 to 32767
        beq @n
        lda fptr                ; fint may load a constant through fptr
        pha
        lda fptr+1
        pha
        jsr fint
        pla
        sta fptr+1
        pla
        sta fptr
        lda facx
        cmp #$90
        bcc @n
        bne @bad
        lda facm                ; 32768 itself: allowed when negative
        asl
        ora facm+1
        bne @bad
        lda facs
        bmi @n
@bad:   jmp err_qty
@n:     jmp stfac
@s:     jsr chkstr
        jsr keepstr
        ldy #0
        lda facm
        sta (fptr),y
        iny
        lda facm+1
        sta (fptr),y
        iny
        lda facm+2
        sta (fptr),y
        lda #0
        iny
        sta (fptr),y
        iny
        sta (fptr),y
        rts

; ILLEGAL DIRECT unless a program runs.
nodirect:
        lda runf
        bne rts1
        ldx #17
        jmp basicerr

chknum: lda vtype
        beq rts1
err_type:
        ldx #15
        jmp basicerr
chkstr: lda vtype
        bne rts1
        beq err_type
rts1:   rts

evnum:  jsr eval
        jmp chknum
evstr:  jsr eval
        jmp chkstr

; The string variable at varp into fac.
ldsvar: ldy #2
@l:     lda (varp),y
        sta facm,y
        dey
        bpl @l
strset: lda #$FF
        sta vtype
        rts

; A literal: the descriptor points into the line.
slit:   lda txtptr
        clc
        adc #1
        sta facm+1
        lda txtptr+1
        adc #0
        sta facm+2
        ldy #0
@l:     iny
        lda (txtptr),y
        beq @e
        cmp #'"'
        bne @l
@e:     dey
        sty facm
        iny
        tya
        clc
        adc txtptr
        sta txtptr
        bcc @q
        inc txtptr+1
@q:     ldy #0
        lda (txtptr),y
        beq strset
        jsr nextc
        jmp strset

; Text as typed for INPUT and READ: quoted, or up to a comma, colon or the end.
rawstr: jsr peekc
        cmp #'"'
        beq slit
        lda txtptr
        sta facm+1
        lda txtptr+1
        sta facm+2
        ldy #0
@l:     lda (txtptr),y
        beq @e
        cmp #','
        beq @e
        cmp #':'
        beq @e
        iny
        bne @l
@e:     sty facm
        tya
        clc
        adc txtptr
        sta txtptr
        bcc strset
        inc txtptr+1
        bne strset

; An item of DATA or of an INPUT reply for the variable kept: C=1 when
; a number is wanted and there is none.
getitem:
        lda ltype
        beq getnum
        jsr rawstr
        clc
        rts

; A number as typed, untokenised: an optional sign, then digits.
getnum: lda #0
        sta vtype
        jsr peekc
        ldx #0
        cmp #'+'
        beq @s
        cmp #'-'
        beq @m
        cmp #T_MINUS
        bne @p
@m:     dex
@s:     jsr nextc
@p:     stx ai
        cmp #'#'
        beq @h
        cmp #'&'
        beq @h
        cmp #'.'
        beq @n
        jsr isdig
        bcs @n
@bad:   sec
        rts
@h:     jsr nextc
        jsr hexval
        bcs @bad
        jsr hexdigs
        jmp @sg
@n:     jsr number
@sg:    lda ai
        beq @r
        jsr fneg
@r:     clc
        rts

; The string in fac printed.
prstr:  ldy #0
@l:     cpy facm
        beq @r
        lda (facm+1),y
        jsr chrout
        iny
        bne @l
@r:     rts

sconcat:
        lda argm
        clc
        adc facm
        bcc @ok
        ldx #16
        jmp basicerr
@ok:    pha
        jsr salloc
        lda sptr2
        pha
        lda sptr2+1
        pha
        lda argm+1
        sta sptr1
        lda argm+2
        sta sptr1+1
        ldx argm
        jsr scopy
        lda facm+1
        sta sptr1
        lda facm+2
        sta sptr1+1
        ldx facm
        jsr scopy
        pla
        sta facm+2
        pla
        sta facm+1
        pla
        sta facm
        rts

; arg's string against fac's: 1 below, 2 equal, 4 above.
strcmp: ldy #0
@l:     cpy argm
        beq @ae
        cpy facm
        beq @gt
        lda (argm+1),y
        cmp (facm+1),y
        bcc @lt
        bne @gt
        iny
        bne @l
@ae:    cpy facm
        beq @eq
@lt:    lda #1
        rts
@gt:    lda #4
        rts
@eq:    lda #2
        rts

; A one-character string of A.
chrstr: pha
        lda #1
        jsr salloc
        pla
        ldy #0
        sta (sptr2),y
        lda #1
        sta facm
        lda sptr2
        sta facm+1
        lda sptr2+1
        sta facm+2
        jmp strset

; NBUF (nbl characters) as a new string.
bufstr: lda nbl
        sta facm
        jsr salloc
        lda sptr2
        sta facm+1
        lda sptr2+1
        sta facm+2
        lda #<NBUF
        sta sptr1
        lda #>NBUF
        sta sptr1+1
        ldx nbl
        jsr scopy
        jmp strset

; Number output either to the screen or to NBUF.
pchr:   bit outf
        bmi @b
        jmp chrout
@b:     stx slen1
        ldx nbl
        sta NBUF,x
        inc nbl
        ldx slen1
        rts

; ( string
sarg:   lda #'('
        jsr chkc
        jmp evstr
; , number ) as a byte in A
bytarg: lda #','
        jsr chkc
barg:   jsr evnum
        jsr f2i
        lda #')'
        jsr chkc
; ival as a byte in A, or ILLEGAL QUANTITY. Keeps Y.
chkb:   lda ival+1
        ora ival+2
        ora ival+3
        beq @r
        jmp err_qty
@r:     lda ival
        rts
; The string argument kept on the stack while a number is read.
pushs:  pla
        tax
        pla
        tay
        lda facm
        pha
        lda facm+1
        pha
        lda facm+2
        pha
        tya
        pha
        txa
        pha
        rts
pulls:  pla
        tax
        pla
        tay
        pla
        sta facm+2
        pla
        sta facm+1
        pla
        sta facm
        tya
        pha
        txa
        pha
        jmp strset

f_len:  jsr sarg
        lda #')'
        jsr chkc
        lda facm
setbyte:
        ldx #0
        stx vtype
        jmp setword

f_asc:  jsr sarg
        lda #')'
        jsr chkc
        lda facm
        bne @ok
        jmp err_qty
@ok:    ldy #0
        lda (facm+1),y
        jmp setbyte

f_chr:  lda #'('
        jsr chkc
        jsr barg
        jmp chrstr

f_str:  jsr parg
        lda #$80
        sta outf
        lda #0
        sta nbl
        jsr prval
        lda #0
        sta outf
        dec nbl                 ; without the trailing space
        jmp bufstr

f_val:  jsr sarg
        lda #')'
        jsr chkc
        ldy facm
        cpy #31
        bcc @c
        ldy #31
@c:     lda #0
        sta NBUF,y
@l:     dey
        bmi @p
        lda (facm+1),y
        sta NBUF,y
        jmp @l
@p:     lda txtptr
        pha
        lda txtptr+1
        pha
        lda #<NBUF
        sta txtptr
        lda #>NBUF
        sta txtptr+1
        jsr getnum
        bcc @n
        jsr setfalse
@n:     pla
        sta txtptr+1
        pla
        sta txtptr
        lda #0
        sta vtype
        rts

f_hex:  jsr f2i
        lda #0
        sta nbl
        lda ival+1
        beq @lo
        jsr @byte
@lo:    lda ival
        jsr @byte
        jmp bufstr
@byte:  pha
        lsr
        lsr
        lsr
        lsr
        jsr @dig
        pla
        and #$0F
@dig:   cmp #10
        bcc @d
        adc #6
@d:     adc #'0'
        ldx nbl
        sta NBUF,x
        inc nbl
        rts

f_key:  jsr keyin
        bcc @k
        lda #0
        sta facm
        jmp strset
@k:     jmp chrstr

f_left: jsr lrarg
        bcs @r
        sta facm
@r:     rts

f_right:
        jsr lrarg
        bcs @r
        lda facm
        sec
        sbc slen1
        clc
        adc facm+1
        sta facm+1
        bcc @s
        inc facm+2
@s:     lda slen1
        sta facm
@r:     rts

; LEFT$ and RIGHT$'s string and count: the count in slen1 and A, C=1 when
; it keeps the whole string.
lrarg:  jsr sarg
        jsr pushs
        jsr bytarg
        sta slen1
        jsr pulls
        lda slen1
        cmp facm
        rts

f_mid:  jsr sarg
        jsr pushs
        lda #','
        jsr chkc
        jsr evnum
        jsr f2i
        lda ival+1
        ora ival+2
        ora ival+3
        bne @bad
        lda ival
        beq @bad
        pha                     ; the start, from 1
        jsr peekc
        cmp #','
        bne @all
        jsr nextc
        jsr barg
        jmp @cut
@all:   lda #')'
        jsr chkc
        lda #255
@cut:   sta slen1
        pla
        sta ctmp
        jsr pulls
        ldx ctmp
        dex
        txa
        cmp facm
        bcc @in
        lda #0
        sta facm
        rts
@in:    sta ctmp
        clc
        adc facm+1
        sta facm+1
        bcc @n
        inc facm+2
@n:     lda facm
        sec
        sbc ctmp
        cmp slen1
        bcc @k
        lda slen1
@k:     sta facm
        rts
@bad:   jmp err_qty

; ---- user functions -----------------------------------------------------------
; DEF FN A(X)=expression keeps, as the simple variable "FN A": the text of
; the expression, the address of X and X's type. FN A(v) parks X's value on
; the stack, sets X to v, evaluates the text and puts X back.
fnname: jsr getname
        lda vn1
        eor #$60                ; no variable name starts below 'A'
        sta vn1
        jmp findsv

s_def:  jsr nodirect
        lda #T_FN
        jsr chkc
        jsr fnname
        lda varp
        pha
        lda varp+1
        pha
        lda #'('
        jsr chkc
        jsr getname
        jsr findsv
        lda #')'
        jsr chkc
        lda #T_EQ
        jsr chkc
        pla
        sta fptr+1
        pla
        sta fptr
        ldy #0
        lda txtptr
        sta (fptr),y
        iny
        lda txtptr+1
        sta (fptr),y
        iny
        lda varp
        sta (fptr),y
        iny
        lda varp+1
        sta (fptr),y
        iny
        lda vn1
        and #$80
        sta (fptr),y
        jmp s_data

fncall: jsr nextc
        jsr fnname
        ldy #1
        lda (varp),y
        bne @def
        ldx #18
        jmp basicerr
@def:   lda varp
        pha
        lda varp+1
        pha
        lda #'('
        jsr chkc
        jsr eval
        lda #')'
        jsr chkc
        pla
        sta bp+1
        pla
        sta bp
        ldy #2
        lda (bp),y
        sta fptr
        iny
        lda (bp),y
        sta fptr+1
        iny
        lda (bp),y
        sta ltype
        ldy #4
@s:     lda (fptr),y
        pha
        dey
        bpl @s
        lda fptr
        pha
        lda fptr+1
        pha
        jsr assign
        lda txtptr
        pha
        lda txtptr+1
        pha
        ldy #0
        lda (bp),y
        sta txtptr
        iny
        lda (bp),y
        sta txtptr+1
        jsr eval
        pla
        sta txtptr+1
        pla
        sta txtptr
        pla
        sta fptr+1
        pla
        sta fptr
        ldy #0
@r:     pla
        sta (fptr),y
        iny
        cpy #5
        bne @r
        rts
