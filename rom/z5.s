; Kestrel open system ROM: reset, interrupt handler with keyboard scan,
; screen editor, a small monitor and the tape and disk hooks. 16 KiB at
; 0xC000-0xFFFF. Built with ca65/ld65 (z5.cfg).

        .setcpu "6502"

; ---- hardware --------------------------------------------------------------
VIA_ORB   = $0300               ; bits 0-2 keyboard row, bit 3 sense, bit 7 speaker
VIA_ORA   = $0301               ; sound chip data bus
VIA_DDRB  = $0302
VIA_DDRA  = $0303
VIA_T1CL  = $0304
VIA_T1CH  = $0305
VIA_ACR   = $030B
VIA_PCR   = $030C               ; CA2 = BC1, CB2 = BDIR, both in manual mode
VIA_IFR   = $030D
VIA_IER   = $030E
VIA_ORA2  = $030F               ; port A without handshake
PCR_IDLE  = $DD                 ; BDIR 0, BC1 0
PCR_LATCH = $FF                 ; BDIR 1, BC1 1: latch register number
PCR_WRITE = $FD                 ; BDIR 1, BC1 0: write register
FDC_MOTOR_OFF = $0318
SW_ROM    = $0380               ; ROM in, boot ROM page 0
DOS_ENTRY = $0320
T1_PERIOD = 9999                ; 10000 cycles: 100 Hz at 1 MHz

SCREEN    = $BB80               ; 28 rows of 40
STATUS    = SCREEN              ; row 0
CHARSET   = $B400               ; standard set, text mode
ALTSET    = $B800               ; alternate set: block graphics
HCHARSET  = $9800               ; standard set for the text rows of hires mode
HIRES     = $A000               ; 200 lines of 40
HROW25    = SCREEN + 25*40      ; first text row below the hires picture
FONT      = $FC78               ; shapes of codes 0x20-0x7F
LOMEM     = $0500
HIMEM     = $9800

; ---- zero page ---------------------------------------------------------------
ptr     = $00                   ; 2, general pointer
ptr2    = $02                   ; 2
scr     = $04                   ; 2, start of the cursor's row
curx    = $06
cury    = $07
curon   = $08                   ; $80 while the cell under the cursor is inverted
curen   = $09                   ; non-zero: the interrupt may blink the cursor
blink   = $0A
khead   = $0B                   ; key buffer: read index (main program)
ktail   = $0C                   ; key buffer: write index (interrupt)
repkey  = $0D                   ; matrix index of the repeating key, $FF none
repct   = $0E
clickct = $0F
ticks   = $10                   ; 3 bytes, 100 per second
mods    = $13                   ; bit 0 shift, bit 1 control, bit 2 caps, bit 7 any key
tmp     = $14                   ; 4 bytes, main program
krows   = $18                   ; 8 bytes, keys held now
kprev   = $20                   ; 8 bytes, keys held at the previous scan
itmp    = $28                   ; 4 bytes, interrupt only
kpend   = $50                   ; 8 bytes, keys new at the previous scan
mixer   = $2C                   ; last value written to sound register 7
kx      = $2D
top     = $2E                   ; first row the editor uses
; $2F is where the tape read routine leaves its byte
maddr   = $30                   ; 2, monitor address
mend    = $32                   ; 2
num     = $34                   ; 2
lix     = $36                   ; read position in the input line
cmdix   = $37
govec   = $38                   ; 2
sptr    = $3A                   ; 2, string pointer
iptr    = $3C                   ; 2, inline string pointer
hiresf  = $3E                   ; non-zero while the hires screen is shown
wlen    = $3F
word    = $40                   ; 9 bytes
tlen    = $49
ttype   = $4A
tauto   = $4B
tstart  = $4C                   ; 2
tend    = $4E                   ; 2
TAPEBYTE = $2F
BAS_START = $9A                 ; BASIC program pointers, low byte first
BAS_END   = $9C

inbuf   = $0200                 ; 41 bytes, the line taken by Return
dumpbuf = $0230                 ; 8 bytes
lmarg   = $0238                 ; the editor's first column: BASIC's colours keep 0-2
kbuf    = $0240                 ; 16 keys

        .segment "ROM"
        .org $C000

; ---- jump table: fixed addresses for programs on tape and disk --------------
        jmp chrout              ; C000 print the character in A
        jmp strout              ; C003 print the zero-ended string at A (low), Y (high)
        jmp getkey              ; C006 wait for a key, code in A
        jmp warm                ; C009 back to the monitor prompt (resets the stack)
        jmp keyin               ; C00C key if one is waiting: C=0 and A, else C=1
        jmp hexout              ; C00F print A as two hex digits
        jmp sndwr               ; C012 sound chip register X := A
        jmp hgr                 ; C015 cleared hires screen, text in rows 26-27
        jmp text                ; C018 back to the cleared text screen
        jmp getline             ; C01B edit a line; Return copies it to $0200, zero-ended
romid:  .byte "KESTREL OPEN ROM 1.0", 0

; ---- reset -------------------------------------------------------------------
reset:  sei
        cld
        ldx #$FF
        txs
        sta SW_ROM
        lda FDC_MOTOR_OFF
        lda #0
        ldx #$7F
@z:     sta $00,x
        dex
        bpl @z
        jsr hwinit
        lda #$FF
        sta repkey
        jsr scrinit
        ; an empty BASIC program at 0x0501
        lda #0
        sta LOMEM
        sta LOMEM+1
        sta LOMEM+2
        lda #<(LOMEM+1)
        sta BAS_START
        lda #>(LOMEM+1)
        sta BAS_START+1
        lda #<(LOMEM+3)
        sta BAS_END
        lda #>(LOMEM+3)
        sta BAS_END+1
        cli
        lda #<romid
        ldy #>romid
        jsr strout
        jsr primm
        .byte 13, .sprintf("%u BYTES FREE", HIMEM-LOMEM), 13
        .byte "TYPE HELP FOR COMMANDS", 13, 0
        jmp monitor

; VIA: keyboard port, bus lines idle, 100 Hz tick; sound chip silent.
hwinit: lda #$FF
        sta VIA_DDRA
        lda #$F7
        sta VIA_DDRB
        lda #0
        sta VIA_ORB
        lda #PCR_IDLE
        sta VIA_PCR
        lda #$7F
        sta VIA_IER
        sta VIA_IFR
        lda #$40
        sta VIA_ACR
        lda #<T1_PERIOD
        sta VIA_T1CL
        lda #>T1_PERIOD
        sta VIA_T1CH
        lda #$C0
        sta VIA_IER
        ldx #12
@s:     lda #0
        cpx #7
        bne @w
        lda #$7F                ; every tone and noise off
@w:     jsr sndwr
        dex
        bpl @s
        rts

; Sound chip register X := A. Keeps A, X, Y; safe against the keyboard scan.
sndwr:  php
        sei
        stx VIA_ORA2
        pha
        lda #PCR_LATCH
        sta VIA_PCR
        lda #PCR_IDLE
        sta VIA_PCR
        pla
        sta VIA_ORA2
        pha
        lda #PCR_WRITE
        sta VIA_PCR
        lda #PCR_IDLE
        sta VIA_PCR
        cpx #7
        bne @n
        pla
        pha
        sta mixer
@n:     pla
        plp
        rts

; ---- screen ------------------------------------------------------------------
; Character sets to RAM, status row, cleared text screen.
scrinit:
        lda #$1A                ; met at the top of a hires frame: back to text
        sta HIRES
        lda #0
        sta hiresf
        sta lmarg
        lda #>(CHARSET+$100)
        jsr copyfont
        jsr blkgen
        ldx #39
@st:    lda statln,x
        sta STATUS,x
        dex
        bpl @st
        lda #1
        sta top
        jmp cls

; The 768 bytes of shapes to the page A on.
copyfont:
        sta ptr2+1
        lda #<FONT
        sta ptr
        lda #>FONT
        sta ptr+1
        ldx #3
        ldy #0
        sty ptr2
@c:     lda (ptr),y
        sta (ptr2),y
        iny
        bne @c
        inc ptr+1
        inc ptr2+1
        dex
        bne @c
        rts

; Block graphics for codes 0x20-0x7F of the alternate set: six blocks in
; two columns and three bands, one bit each.
blkgen: lda #<(ALTSET+$100)
        sta ptr
        lda #>(ALTSET+$100)
        sta ptr+1
        ldx #0
@c:     jsr blkchr
        lda ptr
        clc
        adc #8
        sta ptr
        bcc @n
        inc ptr+1
@n:     inx
        cpx #96
        bne @c
        rts
; The eight lines of block shape X (code - 0x20) at (ptr). Keeps X.
blkchr: txa
        and #$3F
        sta tmp
        and #3
        tay
        lda blkpat,y
        sta tmp+1
        lda tmp
        lsr
        lsr
        and #3
        tay
        lda blkpat,y
        sta tmp+2
        lda tmp
        lsr
        lsr
        lsr
        lsr
        tay
        lda blkpat,y
        ldy #7
        sta (ptr),y
        dey
        sta (ptr),y
        dey
        lda tmp+2
        sta (ptr),y
        dey
        sta (ptr),y
        dey
        sta (ptr),y
        dey
        lda tmp+1
        sta (ptr),y
        dey
        sta (ptr),y
        dey
        sta (ptr),y
        rts
blkpat: .byte $00, $38, $07, $3F

statln: .byte $14, $03, "KESTREL OPEN ROM 1.0  MONITOR         "
        .assert * - statln = 40, error, "status row is 40 cells"

; Clears the editor's rows and homes the cursor.
cls:    ldx top
@r:     lda rowlo,x
        sta scr
        lda rowhi,x
        sta scr+1
        jsr blank
        inx
        cpx #28
        bne @r
        lda top
        sta cury
        lda lmarg
        sta curx
        lda #0
        sta curon
        jmp setrow

; Blanks the row at scr from the margin on. Keeps X.
blank:  ldy lmarg
        lda #' '
@c:     sta (scr),y
        iny
        cpy #40
        bcc @c
        rts

setrow: ldx cury
        lda rowlo,x
        sta scr
        lda rowhi,x
        sta scr+1
        rts

; Undo the cursor's inversion. Interrupts must be off.
curhide:
        lda curon
        beq @r
        tya
        pha
        ldy curx
        lda (scr),y
        eor #$80
        sta (scr),y
        pla
        tay
        lda #0
        sta curon
@r:     rts

; Print the character in A; keeps every register.
chrout: php
        sei
        pha
        txa
        pha
        tya
        pha
        tsx
        lda $0103,x
        jsr putc
        pla
        tay
        pla
        tax
        pla
        plp
        rts

putc:   pha
        jsr curhide
        pla
        cmp #$20
        bcc ctrl
        cmp #$7F
        beq delch
        ldy curx
        sta (scr),y
right:  inc curx
        lda curx
        cmp #40
        bcc ret
        lda lmarg
        sta curx
        jmp down
ctrl:   cmp #$0D
        beq cr
        cmp #$0A
        beq down
        cmp #$08
        beq left
        cmp #$09
        beq right
        cmp #$0B
        beq up
        cmp #$0C
        bne @b
        jmp cls
@b:     cmp #$07
        bne ret
        lda #20
        jmp beep
cr:     lda lmarg
        sta curx
down:   lda cury
        cmp #27
        bcs scroll
        inc cury
        jmp setrow
left:   lda curx
        cmp lmarg
        beq leftw
        dec curx
ret:    rts
leftw:  lda cury
        cmp top
        beq ret
        lda #39
        sta curx
        dec cury
        jmp setrow
up:     lda cury
        cmp top
        beq ret
        dec cury
        jmp setrow
delch:  lda curx
        cmp lmarg
        beq ret
        dec curx
        ldy curx
@m:     iny
        cpy #40
        bcs @e
        lda (scr),y
        dey
        sta (scr),y
        iny
        bne @m
@e:     lda #' '
        ldy #39
        sta (scr),y
        rts
scroll: ldx top
        cpx #27
        beq @last
@r:     lda rowlo,x
        sta ptr
        lda rowhi,x
        sta ptr+1
        lda rowlo+1,x
        sta ptr2
        lda rowhi+1,x
        sta ptr2+1
        ldy #39
@c:     lda (ptr2),y
        sta (ptr),y
        dey
        bpl @c
        inx
        cpx #27
        bne @r
@last:  jmp blank

rowlo:
        .repeat 28, i
        .byte <(SCREEN + 40*i)
        .endrepeat
rowhi:
        .repeat 28, i
        .byte >(SCREEN + 40*i)
        .endrepeat

; Print the zero-ended string at A (low), Y (high).
strout: sta sptr
        sty sptr+1
        ldy #0
@l:     lda (sptr),y
        beq @d
        jsr chrout
        iny
        bne @l
        inc sptr+1
        bne @l
@d:     rts

; Print the zero-ended string that follows the JSR, continue after it.
primm:  pla
        sta iptr
        pla
        sta iptr+1
        tya
        pha
        ldy #0
@l:     inc iptr
        bne @g
        inc iptr+1
@g:     lda (iptr),y
        beq @d
        jsr chrout
        jmp @l
@d:     pla
        tay
        lda iptr+1
        pha
        lda iptr
        pha
        rts

hexout: pha
        lsr
        lsr
        lsr
        lsr
        jsr hexdig
        pla
        pha
        and #$0F
        jsr hexdig
        pla
        rts
hexdig: cmp #10
        bcc @d
        adc #6
@d:     adc #'0'
        jmp chrout

; Print the word at X (zero page) as four hex digits.
hexwrd: lda 1,x
        jsr hexout
        lda 0,x
        jmp hexout

space:  lda #' '
        jmp chrout

crlf:   lda #13
        jmp chrout

; ---- keyboard ----------------------------------------------------------------
; Wait for a key with the cursor blinking. Keeps X and Y.
getkey: lda #0
        sta blink
        lda #1
        sta curen
@w:     jsr keyin
        bcs @w
        pha
        php
        sei
        lda #0
        sta curen
        jsr curhide
        plp
        pla
        rts

; The oldest key from the buffer: C=0 and the code in A, or C=1 when empty.
keyin:  stx kx
        ldx khead
        cpx ktail
        beq @none
        lda kbuf,x
        pha
        inx
        txa
        and #$0F
        sta khead
        pla
        ldx kx
        clc
        rts
@none:  ldx kx
        sec
        rts

; Edit on the screen until Return; the row under the cursor becomes the
; line, in inbuf, trailing spaces dropped.
getline:
@k:     jsr getkey
        cmp #$0D
        beq @ret
        jsr inesc
        beq @k
        jsr chrout
        jmp @k
@ret:   ldy #0
@c:     lda (scr),y
        and #$7F
        cmp #$20
        bcs @p
        lda #' '
@p:     sta inbuf,y
        iny
        cpy #40
        bne @c
@t:     dey
        bmi @e
        lda inbuf,y
        cmp #' '
        beq @t
@e:     iny
        lda #0
        sta inbuf,y
        lda #13
        jmp chrout

; ---- interrupts --------------------------------------------------------------
irq:    pha
        txa
        pha
        tya
        pha
        tsx
        lda $0104,x
        and #$10
        beq @hw
        jmp onbrk
@hw:    lda VIA_IFR
        and #$40
        bne @tick
        lda #$7F                ; nothing else is enabled: just clear
        sta VIA_IFR
        jmp @out
@tick:  lda VIA_T1CL            ; acknowledge timer 1
        inc ticks
        bne @k
        inc ticks+1
        bne @k
        inc ticks+2
@k:     jsr kscan
        jsr kproc
        lda clickct
        beq @cur
        dec clickct
        bne @cur
        ldx #10
        lda #0
        jsr sndwr
@cur:   lda curen
        beq @out
        dec blink
        bpl @out
        lda #24
        sta blink
        ldy curx
        lda (scr),y
        eor #$80
        sta (scr),y
        lda curon
        eor #$80
        sta curon
@out:   pla
        tay
        pla
        tax
        pla
        rti

; Column mask in A onto the sound chip's I/O port (register 14, latched).
setcol: sta VIA_ORA2
        lda #PCR_WRITE
        sta VIA_PCR
        lda #PCR_IDLE
        sta VIA_PCR
        rts

; Read the 8x8 matrix into krows: a row select on port B bits 0-2, columns
; driven low through the sound chip's port, the answer on port B bit 3.
; The column mask stays at 0 from row to row while no key is found, so an
; idle keyboard costs one port write and one read per row. itmp+3 gets
; $80 when a key is held, else 0.
kscan:  lda VIA_ORB               ; the speaker on bit 7 keeps its level
        and #$80
        sta itmp+2
        lda #14
        sta VIA_ORA2
        lda #PCR_LATCH
        sta VIA_PCR
        lda #PCR_IDLE
        sta VIA_PCR
        ldx #0
        stx itmp+3
        ldx #7
@all:   lda #$00                ; every column at once first
        jsr setcol
@row:   txa
        ora itmp+2
        sta VIA_ORB
        lda VIA_ORB
        and #$08
        beq @put
        lda #0
        sta itmp
        lda #$7F                ; then column 7 down to column 0
        sta itmp+1
@col:   lda itmp+1
        jsr setcol
        lda VIA_ORB
        and #$08
        cmp #$08
        rol itmp
        sec
        ror itmp+1
        bcs @col
        lda itmp
        sta krows,x
        lda #$80                ; a key is held
        sta itmp+3
        dex
        bpl @all
        bmi @end
@put:   sta krows,x
        dex
        bpl @row
@end:   lda #$FF                ; leave the bus quiet
        jmp setcol

; Modifiers, newly pressed keys and auto-repeat.
; Nothing held now nor at the previous scan (mods bit 7): nothing to do.
kproc:  lda itmp+3
        ora mods
        bne @go
        rts
@go:    lda itmp+3
        sta itmp
        lda krows+4             ; left shift
        ora krows+7             ; right shift
        and #$10
        beq @ns
        inc itmp
@ns:    lda krows+2             ; left control
        ora krows+0             ; right control
        and #$10
        beq @nc
        lda itmp
        ora #2
        sta itmp
@nc:    lda krows+3             ; scroll lock: capitals
        and #$20
        beq @ncap
        lda itmp
        ora #4
        sta itmp
@ncap:  lda itmp
        eor mods
        and #4
        sta itmp+3
        lda itmp
        sta mods
        lda itmp+3
        beq @new
        jsr capsind
; A key is taken one scan after it went down, with the modifiers of that
; scan: a shift pressed together with it may be read after its own row.
@new:   ldx #0
@r:     lda kpend,x
        sta itmp+1
        lda kprev,x
        eor #$FF
        and krows,x
        and kmask,x
        sta kpend,x
        lda itmp+1
        beq @nx
        ldy #0
@c:     lsr itmp+1
        bcc @sk
        stx itmp+2
        txa
        asl
        asl
        asl
        sta itmp
        tya
        ora itmp
        sta repkey
        pha
        tya
        pha
        lda repkey
        jsr emit
        pla
        tay
        pla
        ldx itmp+2
        lda #40
        sta repct
@sk:    iny
        cpy #8
        bne @c
@nx:    lda krows,x
        sta kprev,x
        inx
        cpx #8
        bne @r
        ldx repkey
        bmi @done
        txa
        lsr
        lsr
        lsr
        tay
        txa
        and #7
        tax
        lda bitmask,x
        and krows,y
        beq @rel
        dec repct
        bne @done
        lda #4
        sta repct
        lda repkey
        jmp emit
@rel:   lda #$FF
        sta repkey
@done:  rts

; Key number A (row*8+column) to its code, into the buffer, with a click.
emit:   tay
        lda mods
        lsr
        lda ktab,y
        bcc @u
        lda ktabs,y
@u:     beq @r
        tax
        lda mods
        and #4
        beq @nocap
        txa
        cmp #'a'
        bcc @nocap
        cmp #'z'+1
        bcs @nocap
        and #$DF
        tax
@nocap:
        lda mods
        and #2
        beq @noctl
        txa
        cmp #$40
        bcc @noctl
        and #$1F
        tax
@noctl: txa
        ldx ktail
        sta kbuf,x
        inx
        txa
        and #$0F
        cmp khead
        beq @full
        sta ktail
        lda #2                  ; a click
        .byte $2C
@full:  lda #20                 ; buffer full: the key is lost, with the bell
        jmp beep
@r:     rts

; A short tone on channel C for A ticks.
beep:   sta clickct
        ldx #4
        lda #$60
        jsr sndwr
        ldx #5
        lda #0
        jsr sndwr
        ldx #7
        lda mixer
        and #$FB
        jsr sndwr
        ldx #10
        lda #10
        jmp sndwr

capsind:
        lda hiresf
        bne @r
        ldx #3
@l:     lda mods
        and #4
        beq @off
        lda capstxt,x
        bne @p
@off:   lda #' '
@p:     sta STATUS+35,x
        dex
        bpl @l
@r:     rts
capstxt: .byte "CAPS"

bitmask: .byte $01, $02, $04, $08, $10, $20, $40, $80
; Keys that make characters; the rest are shift, control, alt, scroll lock.
kmask:  .byte $EF, $EF, $EF, $CF, $EF, $EF, $EF, $EF
; Codes by row, columns 0 to 7, without and with shift.
ktab:   .byte "7n5v", 0, "1x3"
        .byte "jtrf", 0, $1B, "qd"
        .byte "m6b4", 0, "z2c"
        .byte "k9;-", 0, 0, $5C, $27
        .byte " ,.", $0B, 0, $08, $0A, $09
        .byte "uiop", 0, $7F, "]["
        .byte "yhge", 0, "asw"
        .byte "8l0/", 0, $0D, "`="
ktabs:  .byte "&N%V", 0, "!X#"
        .byte "JTRF", 0, $1B, "QD"
        .byte "M^B$", 0, "Z@C"
        .byte "K(:_", 0, 0, "|", $22
        .byte " <>", $0B, 0, $08, $0A, $09
        .byte "UIOP", 0, $7F, "}{"
        .byte "YHGE", 0, "ASW"
        .byte "*L)?", 0, $0D, "~+"
        .assert * - ktab = 128, error, "key tables are 64 entries each"

; BRK: report where it happened and go back to the prompt.
onbrk:  lda $0105,x
        sec
        sbc #2
        sta maddr
        lda $0106,x
        sbc #0
        sta maddr+1
        jsr warmio
        jsr primm
        .byte 13, "BRK AT ", 0
        ldx #maddr
        jsr hexwrd
        jmp monitor

; NMI: abandon the running program and return to the monitor.
nmi:    jsr warmio
        jsr primm
        .byte 13, "BREAK", 0
        jmp monitor

; ---- monitor -----------------------------------------------------------------
warm:   jsr warmio
monitor:
        ldx #$FF
        txs
        cli
@loop:  lda curx
        cmp lmarg
        beq @p
        jsr crlf
@p:     jsr blank               ; a fresh row for the prompt
        lda #'>'
        jsr chrout
        jsr getline
        jsr docmd
        jmp @loop

; Quiet machine and text screen for the monitor.
warmio: sei
        cld
        sta SW_ROM              ; a failed disk boot may leave page 1 shown
        lda FDC_MOTOR_OFF
        jsr curhide
        ldx #$FF
        stx repkey
        inx
        stx curen
        jsr hwinit
        lda hiresf
        beq @t
        jsr scrinit
@t:     cli
        rts

docmd:  ldx #0
@s:     lda inbuf,x
        beq @r
        cmp #' '
        beq @n
        cmp #'>'
        bne @w
@n:     inx
        bne @s
@r:     rts
@w:     ldy #0
@wl:    lda inbuf,x
        beq @we
        cmp #' '
        beq @we
        jsr upcase
        cpy #8
        bcs @unk
        sta word,y
        iny
        inx
        bne @wl
@we:    stx lix
        sty wlen
        lda #<cmdnames
        sta ptr
        lda #>cmdnames
        sta ptr+1
        ldx #0
@cmd:   ldy #0
        lda (ptr),y
        beq @unk
@ch:    cpy wlen
        beq @match
        lda (ptr),y
        beq @no
        cmp word,y
        bne @no
        iny
        bne @ch
@no:    ldy #0
@sk:    lda (ptr),y
        iny
        cmp #0
        bne @sk
        tya
        clc
        adc ptr
        sta ptr
        bcc @nx
        inc ptr+1
@nx:    inx
        bne @cmd
@match: stx cmdix
        txa
        asl
        tay
        lda cmdvec+1,y
        pha
        lda cmdvec,y
        pha
        rts
@unk:   lda word
        cmp #'?'
        bne @u2
        lda wlen
        cmp #1
        bne @u2
        jmp c_help
@u2:    jsr primm
        .byte "? UNKNOWN COMMAND - TRY HELP", 13, 0
        rts

upcase: cmp #'a'
        bcc @r
        cmp #'z'+1
        bcs @r
        and #$DF
@r:     rts

; Next hex number (1-4 digits, optional $) into num: C=0, or C=1 when none.
gethex: ldx lix
@s:     lda inbuf,x
        cmp #' '
        bne @g
        inx
        bne @s
@g:     lda #0
        sta num
        sta num+1
        sta tmp
        lda inbuf,x
        cmp #'$'
        bne @d
        inx
@d:     lda inbuf,x
        jsr hexval
        bcs @end
        ldy #4
@sh:    asl num
        rol num+1
        dey
        bne @sh
        ora num
        sta num
        inc tmp
        inx
        bne @d
@end:   stx lix
        lda inbuf,x
        beq @t
        cmp #' '
        bne @bad
@t:     lda tmp
        beq @bad
        cmp #5
        bcs @bad
        clc
        rts
@bad:   sec
        rts

hexval: jsr upcase
        cmp #'0'
        bcc @bad
        cmp #'9'+1
        bcc @dig
        cmp #'A'
        bcc @bad
        cmp #'F'+1
        bcs @bad
        sbc #'A'-11
        clc
        rts
@dig:   sbc #'0'-1
        clc
        rts
@bad:   sec
        rts

; Nothing but spaces may follow the arguments; else the usage line.
endargs:
        ldx lix
@l:     lda inbuf,x
        beq @ok
        cmp #' '
        bne @bad
        inx
        bne @l
@ok:    rts
@bad:   pla
        pla
usage:  jsr primm
        .byte "? USAGE: ", 0
        ldx cmdix
        jsr prusage
        jmp crlf

prusage:
        lda u_lo,x
        ldy u_hi,x
        jmp strout

; ---- monitor commands --------------------------------------------------------
c_help: jsr endargs
        ldx #0
@l:     stx cmdix
        jsr prusage
@pad:   jsr space
        lda curx
        cmp #19
        bcc @pad
        ldx cmdix
        lda d_lo,x
        ldy d_hi,x
        jsr strout
        jsr crlf
        ldx cmdix
        inx
        cpx #NCMD
        bne @l
        jsr primm
        .byte "NUMBERS ARE HEX, COMMANDS MAY BE SHORT", 13, 0
        rts

c_dump: jsr gethex
        bcs @cont
        lda num
        sta maddr
        lda num+1
        sta maddr+1
        jsr gethex
        bcs @def
        lda num
        sta mend
        lda num+1
        sta mend+1
        jsr endargs
        lda mend
        cmp maddr
        lda mend+1
        sbc maddr+1
        bcs @go
        jmp usage
@cont:
@def:   jsr endargs
        lda maddr
        clc
        adc #63
        sta mend
        lda maddr+1
        adc #0
        sta mend+1
        bcc @go
        lda #$FF
        sta mend
        sta mend+1
@go:    ldy #0
@rd:    lda (maddr),y
        sta dumpbuf,y
        iny
        cpy #8
        bne @rd
        ldx #maddr
        jsr hexwrd
        ldy #0
@hx:    jsr space
        lda dumpbuf,y
        jsr hexout
        iny
        cpy #8
        bne @hx
        jsr space
        jsr space
        ldy #0
@tx:    lda dumpbuf,y
        cmp #$20
        bcc @dot
        cmp #$7F
        bcc @pc
@dot:   lda #'.'
@pc:    jsr chrout
        iny
        cpy #8
        bne @tx
        jsr crlf
        lda maddr
        clc
        adc #8
        sta maddr
        lda maddr+1
        adc #0
        sta maddr+1
        bcs @end
        lda mend
        cmp maddr
        lda mend+1
        sbc maddr+1
        bcc @end
        jsr keyin
        bcs @go
        cmp #$1B
        bne @go
@end:   rts

c_enter:
        jsr gethex
        bcs @u
        lda num
        sta maddr
        lda num+1
        sta maddr+1
@b:     jsr gethex
        bcs @end
        lda num+1
        bne @u
        lda num
        ldy #0
        sta (maddr),y
        inc maddr
        bne @b
        inc maddr+1
        jmp @b
@end:   jmp endargs
@u:     jmp usage

c_fill: jsr gethex
        bcs @u
        lda num
        sta ptr
        lda num+1
        sta ptr+1
        jsr gethex
        bcs @u
        lda num
        sta mend
        lda num+1
        sta mend+1
        jsr gethex
        bcs @u
        lda num+1
        bne @u
        jsr endargs
        lda mend
        cmp ptr
        lda mend+1
        sbc ptr+1
        bcc @u
        ldy #0
@l:     lda num
        sta (ptr),y
        lda ptr
        cmp mend
        bne @n
        lda ptr+1
        cmp mend+1
        beq @d
@n:     inc ptr
        bne @l
        inc ptr+1
        jmp @l
@d:     rts
@u:     jmp usage

c_go:   jsr gethex
        bcs @u
        lda num
        sta govec
        lda num+1
        sta govec+1
        jsr endargs
        jmp (govec)
@u:     jmp usage

c_cls:  jsr endargs
        jmp cls

c_boot: jsr endargs
        lda DOS_ENTRY
        bne @b
        jsr primm
        .byte "? NO DISK BOOT ROM", 13, 0
        rts
@b:     jsr primm
        .byte "BOOTING DRIVE 1", 13, 0
        jmp DOS_ENTRY

c_hires:
        jsr endargs
        jsr hgr
        lda #<HIRES
        sta ptr
        lda #>HIRES
        sta ptr+1
        ldx #0                  ; line
@line:  txa                     ; ink 1-7 for a band of 25 lines each; 8 is white
        ldy #0
        sec
@b:     iny
        sbc #25
        bcs @b
        tya
        ldy #0
        sta (ptr),y
        lda #$7F
@c:     iny
        sta (ptr),y
        cpy #39
        bne @c
        lda ptr
        adc #40-1               ; C=1 from the compare
        sta ptr
        bcc @n
        inc ptr+1
@n:     inx
        cpx #200
        bne @line
        jsr primm
        .byte "PRESS A KEY", 0
        jsr getkey
        jmp text

c_load: jsr endargs
        jmp tapeload

; ---- hires and text screens ----------------------------------------------------
; Hires picture cleared; the editor keeps rows 26 and 27 below it.
hgr:    php
        sei
        lda #1
        sta hiresf
        lda #<HIRES
        sta ptr
        lda #>HIRES
        sta ptr+1
        ldx #>(8000+255)        ; whole pages: also covers 0xBF40-0xBFFF
        ldy #0
        sty lmarg
        lda #$40
@f:     sta (ptr),y
        iny
        bne @f
        inc ptr+1
        dex
        bne @f
        ldy #39
        lda #' '
@row25: sta HROW25,y
        dey
        bpl @row25
        lda #$1E                ; hires from here on, held while this cell lasts
        sta HROW25
        lda #>(HCHARSET+$100)
        jsr copyfont
        lda #26
        sta top
        jsr cls
        plp
        rts

text:   php
        sei
        jsr scrinit
        plp
        rts

; ---- tape --------------------------------------------------------------------
; Next block from the tape: header, then the data at its start address; run
; it when it is machine code marked to run.
tapeload:
        lda #0
        sta tlen                ; attempts at a block header
@sync:  ldx #2                  ; a search at the tape's end rewinds it
@s:     jsr SyncTape
        bcc @got
        dex
        bne @s
        jsr primm
        .byte "? NO TAPE BLOCK FOUND", 13, 0
        rts
@got:   jsr GetTapeByte
        cmp #$24
        beq @hdr
        inc tlen
        bne @sync
@bad:   jsr primm               ; a header we cannot take, or a block cut short
        .byte "? BAD/SHORT TAPE", 13, 0
        rts
@hdr:   jsr GetTapeByte
        jsr GetTapeByte
        jsr GetTapeByte
        sta ttype
        jsr GetTapeByte
        sta tauto
        jsr GetTapeByte
        sta tend+1
        jsr GetTapeByte
        sta tend
        jsr GetTapeByte
        sta tstart+1
        jsr GetTapeByte
        sta tstart
        jsr GetTapeByte
        jsr primm
        .byte "FOUND ", $22, 0
        ldx #0
@name:  jsr GetTapeByte
        beq @ne
        cpx #16
@long:  bcs @bad
        jsr chrout
        inx
        bne @name
@ne:    lda #$22
        jsr chrout
        jsr crlf
        lda tend
        cmp tstart
        lda tend+1
        sbc tstart+1
        bcc @bad
        lda tstart+1
        cmp #$04
        bcs @ok
        jsr primm
        .byte "? LOAD ADDRESS BELOW 0400", 13, 0
        rts
@ok:    lda tstart
        sta ptr
        lda tstart+1
        sta ptr+1
        ldy #0
@data:  lda ptr
        cmp tend
        bne @b
        lda ptr+1
        cmp tend+1
        beq @done
@b:     jsr GetTapeByte
        bcs @long               ; the tape ended (C=1): no pointers, no run
        sta (ptr),y
        inc ptr
        bne @data
        inc ptr+1
        jmp @data
@done:  jsr primm
        .byte "LOADED ", 0
        ldx #tstart
        jsr hexwrd
        lda #'-'
        jsr chrout
        ldx #tend
        jsr hexwrd
        jsr space
        lda ttype
        bne @nb
        lda tstart
        sta BAS_START
        lda tstart+1
        sta BAS_START+1
        lda tend
        sta BAS_END
        lda tend+1
        sta BAS_END+1
        jsr primm
        .byte "BASIC", 13, 0
        lda tauto               ; marked to run: BASIC runs it
        beq @br
        jsr basini
        jmp runprg
@br:    rts
@nb:    cmp #$40
        bne @mc
        jsr primm
        .byte "ARRAY", 13, 0
        rts
@mc:    jsr primm
        .byte "CODE", 13, 0
        lda tauto
        beq @r
        jmp (tstart)
@r:     rts

        .include "basic.s"
        .include "basicgfx.s"

; ---- command table ---------------------------------------------------------------
; A command without arguments is its own usage line.
cmdnames:
u_help:  .byte "HELP", 0
u_hires: .byte "HIRES", 0
        .byte "DUMP", 0, "ENTER", 0, "FILL", 0, "GO", 0
u_load:  .byte "LOAD", 0
u_boot:  .byte "BOOT", 0
u_cls:   .byte "CLS", 0
u_basic: .byte "BASIC", 0, 0
cmdvec: .word c_help-1, c_hires-1, c_dump-1, c_enter-1, c_fill-1
        .word c_go-1, c_load-1, c_boot-1, c_cls-1, c_basic-1
NCMD = 10
u_lo:   .lobytes u_help, u_hires, u_dump, u_enter, u_fill, u_go, u_load, u_boot, u_cls, u_basic
u_hi:   .hibytes u_help, u_hires, u_dump, u_enter, u_fill, u_go, u_load, u_boot, u_cls, u_basic
d_lo:   .lobytes d_help, d_hires, d_dump, d_enter, d_fill, d_go, d_load, d_boot, d_cls, d_basic
d_hi:   .hibytes d_help, d_hires, d_dump, d_enter, d_fill, d_go, d_load, d_boot, d_cls, d_basic
u_dump:  .byte "DUMP [FROM [TO]]", 0
u_enter: .byte "ENTER ADDR BB ..", 0
u_fill:  .byte "FILL FROM TO BB", 0
u_go:    .byte "GO ADDR", 0
d_help:  .byte "THIS LIST", 0
d_hires: .byte "HIRES TEST PATTERN", 0
d_dump:  .byte "SHOW MEMORY", 0
d_enter: .byte "STORE BYTES", 0
d_fill:  .byte "FILL MEMORY", 0
d_go:    .byte "RUN CODE UNTIL RTS", 0
d_load:  .byte "LOAD NEXT TAPE FILE", 0
d_boot:  .byte "BOOT DISK IN DRIVE 1", 0
d_cls:   .byte "CLEAR THE SCREEN", 0
d_basic: .byte "BASIC (MON RETURNS)", 0

; ---- tape routines at the addresses the machine intercepts ----------------------
; With a tape image mounted, arriving at GetTapeByte delivers the next byte
; and continues at GetTapeDone (C=0); past the tape's end the code here runs
; (C=1); arriving at SyncTape with a block ahead
; continues at SyncFound. Without a tape the code here gives up at once.
        .res $E6C9 - *, $FF
GetTapeByte:                    ; 0xE6C9
        lda #$FF
        sta TAPEBYTE
        sec
        rts

; BASIC's loop search (basic.s), in the room before the next entry point.
; The loop of the variable vn1, vn2, or the newest when vn1 is 0: C=1 and
; X its base.
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
        lda vn1
        beq @yes
        cmp CSTK+12,x
        bne @l
        lda vn2
        cmp CSTK+13,x
        bne @l
@yes:   sec
        rts
@no:    clc
        rts
        .res $E6FB - *, $FF
GetTapeDone:                    ; 0xE6FB, the byte in A and at $2F
        clc
        rts

; GET's key: Esc or Ctrl+C breaks the program (found before the key is
; taken, the statement's check would miss it).
gkey:   jsr getkey
        cmp #3
        beq brkst
        cmp #$1B
        beq brkst
        rts

; BASIC's first colour on the text screen (basicgfx.s): every row under the
; status row moves 3 cells right, so its text stays readable beside the
; colour columns; the last 3 cells of each row are lost. The cursor's
; inversion is undone first, or it would move with the text. Keeps Y.
colshift:
        php
        sei
        jsr curhide
        lda #<(SCREEN+40)
        sta bp
        lda #>(SCREEN+40)
        sta bp+1
        tya
        pha
        ldx #27
@r:     ldy #36
@c:     lda (bp),y
        iny
        iny
        iny
        sta (bp),y
        dey
        dey
        dey
        dey
        bpl @c
        jsr nextrow
        dex
        bne @r
        pla
        tay
        plp
        rts

        .res $E735 - *, $FF
SyncTape:                       ; 0xE735
        sec                     ; no block
        rts

; The editor passes over Esc and Ctrl+C (Z=1), except while a program's
; INPUT waits: then they break it, and CONT goes on after the INPUT.
inesc:  cmp #3
        beq @e
        cmp #$1B
        bne @r
@e:     tsx                     ; getline's caller, above our return
        lda $0104,x
        cmp #>(inret-1)
        bne @i
        lda $0103,x
        cmp #<(inret-1)
        beq inbrk
@i:     lda #0
@r:     rts
inbrk:  jsr s_data
brkst:  lda #1
        jmp stopped
        .res $E759 - *, $FF
SyncFound:                      ; 0xE759
        clc
        rts

        .include "basicfp.s"
        .include "basicstr.s"
        .include "basicio.s"

; ---- character shapes ----------------------------------------------------------
        .res FONT - *, $FF
        .include "font.inc"
        .include "basicgfx2.s"

; A typed line forgets the loops and subroutines of earlier ones unless
; CONT may still go on with them: their text in the line buffer is gone.
direct: lda contf
        bne @g
        sta cstk
@g:     jmp exec

; ---- vectors -------------------------------------------------------------------
        .res $FFFA - *, $FF
        .word nmi, reset, irq
