; Kestrel open disk boot ROM: two 256-byte pages, both shown at
; 0x0320-0x03FF (the first 32 bytes of each lie under the I/O registers).
; Writing 0x0380 shows page 0, 0x0382 page 1; the processor then fetches
; its next instruction from the other page. GATE holds such a write in both
; pages, so a JMP GATE in one page continues at GATE+3 in the other; GATE2
; leads from page 1 back into page 0 only. The boot starts in page 1 (the
; decoding table), reads in page 0 and checks in page 1.
;
; Entries:
;   0x0320  boot drive 1: track 0, physical sector 0 into 0x0800-0x08FF,
;           then run it; with no readable boot sector, back to the monitor
;   0x0323  read sector (page 0 shown, after a boot has built the decoding
;           table): track DTRK, physical sector DSEC into the page in
;           DPAGE; C=0 done, C=1 not found within about ten revolutions.
;           The motor stays on; reading 0x0318 stops it.
; Work areas: zero page 0xE0-0xE8, RAM 0x0600-0x06FF (decoding table and
; the 2-bit groups of the sector being read).

        .setcpu "6502"

FDC_PHASE0_ON  = $0311
FDC_MOTOR_OFF  = $0318
FDC_MOTOR_ON   = $0319
FDC_DRIVE1     = $031A
FDC_STROBE     = $031C          ; read data
FDC_READ       = $031E
SW_PAGE0       = $0380
SW_PAGE1       = $0382
PRINT_STRING   = $C003
MONITOR        = $C009
BOOT_PAGE      = $08

DTRK   = $E0
DSEC   = $E1
DHT    = $E3                    ; head position in half-tracks
DCNT   = $E4                    ; 2, search budget
DPTR   = $E6                    ; 2, destination; rdsect clears the low byte
DPAGE  = DPTR+1
DTMP   = $E8
DECODE = $0600                  ; disk byte -> 6-bit value, at 0x0696-0x06FF
AUX    = $0600                  ; the 86 two-bit groups, 0x0600-0x0655

        .segment "DOS"

; ---- page 0 ------------------------------------------------------------------
        .org $0300
        .res $20, $00
        sta SW_PAGE1            ; 0x0320: boot, set up in page 1
rdsect: lda FDC_MOTOR_ON          ; 0x0323
        lda FDC_READ
        lda #0
        sta DCNT
        sta DCNT+1
        sta DPTR
        jsr seek
@s:     inc DCNT
        bne @a
        inc DCNT+1
        beq @fail
@a:     lda FDC_STROBE
        cmp #$D5
        bne @s
        lda FDC_STROBE
        cmp #$AA
        bne @s
        lda FDC_STROBE
        cmp #$96
        bne @s
        jsr rd44                ; volume
        jsr rd44
        cmp DTRK
        beq @trk
        asl                     ; the head is elsewhere (a new disk, say): believe
        sta DHT                 ; the address field and step again
        jsr seek
        jmp @s
@fail:  sec
        rts
@trk:
        jsr rd44
        cmp DSEC
        bne @s
@p:     lda FDC_STROBE              ; the next mark is this sector's data field
        cmp #$D5
        bne @p
        lda FDC_STROBE
        cmp #$AA
        bne @s
        lda FDC_STROBE
        cmp #$AD
        bne @s
        lda #0                  ; A carries the running XOR
        tax
@x:     ldy FDC_STROBE
        eor DECODE,y
        sta AUX,x
        inx
        cpx #86
        bne @x
        ldy #0
@m:     ldx FDC_STROBE
        eor DECODE,x
        sta (DPTR),y
        iny
        bne @m
        ldx FDC_STROBE          ; checksum: the chain must end at zero
        eor DECODE,x
        bne @s
        tax                     ; X = 0, Y = 0
@k:     lda (DPTR),y            ; two low bits from the groups, swapped
        lsr AUX,x
        rol
        lsr AUX,x
        rol
        sta (DPTR),y
        inx
        cpx #86
        bne @n
        ldx #0
@n:     iny
        bne @k
        clc
        rts

seek:   lda DTRK
        cmp #35                 ; past the last track: stay in step with the head
        bcc @t
        lda #34
@t:     asl
        sta DTMP
@l:     lda DHT
        cmp DTMP
        beq @d
        bcc @up
        dec DHT
        bcs @st
@up:    inc DHT
@st:    lda DHT                 ; the phase of the new half-track pulls the head
        and #3
        asl
        tax
        lda FDC_PHASE0_ON,x     ; only the phase turned on decides the step
        jmp @l
@d:     rts

rd44:   lda FDC_STROBE
        sec
        rol
        sta DTMP
        lda FDC_STROBE
        and DTMP
        rts

; Back from page 1 with the table built and the head beyond track 0.
GATE:   sta SW_PAGE1
        jsr rdsect
        jmp GATE                ; page 1 checks the sector or reports
GATE2 = *                       ; page 1 comes back here to run the sector
        jmp $0800
PAGE0_END = *
        .assert PAGE0_END <= $0400, error, "page 0 is full"
        .res $0400 - *, $00

; ---- page 1 ------------------------------------------------------------------
        .org $0300
        .res $20, $00
        sta SW_PAGE1            ; 0x0320: page 1 may already be shown
        cld
        lda FDC_MOTOR_ON
        lda FDC_DRIVE1
        lda FDC_READ
        ldy #$96                ; decoding table: 0x80 marks a non-disk byte
        lda #$80
@f:     sta DECODE,y
        iny
        bne @f
        ldx #63
@t:     ldy dbytes,x
        txa
        sta DECODE,y
        dex
        bpl @t
        lda #80                 ; step down from beyond the last track
        sta DHT
        lda #0
        sta DTRK
        sta DSEC
        lda #BOOT_PAGE
        sta DPAGE
        jmp GATE

; The 64 disk bytes, by 6-bit value.
dbytes: .byte $96, $97, $9A, $9B, $9D, $9E, $9F, $A6
        .byte $A7, $AB, $AC, $AD, $AE, $AF, $B2, $B3
        .byte $B4, $B5, $B6, $B7, $B9, $BA, $BB, $BC
        .byte $BD, $BE, $BF, $CB, $CD, $CE, $CF, $D3
        .byte $D6, $D7, $D9, $DA, $DB, $DC, $DD, $DE
        .byte $DF, $E5, $E6, $E7, $E9, $EA, $EB, $EC
        .byte $ED, $EE, $EF, $F2, $F3, $F4, $F5, $F6
        .byte $F7, $F9, $FA, $FB, $FC, $FD, $FE, $FF
nodisk: .byte "? NO BOOTABLE DISK IN DRIVE 1", 13, 0

; From page 0, the boot sector read (C=0) or not found (C=1).
booted: bcs @none
        lda $0800               ; an empty sector is no boot sector
        beq @none
        jmp GATE2 - 3           ; run it with page 0 shown
@none:  lda FDC_MOTOR_OFF
        lda #<nodisk
        ldy #>nodisk
        jsr PRINT_STRING
        jmp MONITOR

        .res GATE - *, $00
        sta SW_PAGE0            ; GATE: on to page 0
        jmp booted
        .assert * = GATE2 - 3, error, "second gate moved"
        sta SW_PAGE0            ; on to page 0 at GATE2
        .assert * <= $0400, error, "page 1 is full"
        .res $0400 - *, $00
