; Demo disk, track 0 sector 0: loaded to 0x0800 and run by the disk boot
; ROM. Greets, then reads the second stage from several tracks.
        .setcpu "6502"
        .include "kestrel.inc"
save    = $F0

        .segment "CODE"
        .org $0800
        lda #<hello
        ldy #>hello
        jsr STROUT
        ldx #0
@l:     lda list,x
        bmi @go
        sta DTRK
        lda list+1,x
        sta DSEC
        lda list+2,x
        sta DPAGE
        stx save
        jsr RDSECT
        ldx save
        bcs @err
        lda #'.'
        jsr CHROUT
        inx
        inx
        inx
        bne @l
@go:    lda #13
        jsr CHROUT
        jmp $4000
@err:   lda FDC_MOTOR_OFF
        lda #<errm
        ldy #>errm
        jsr STROUT
        jmp MONITOR

; track, physical sector, page
list:   .byte 1, 0, $40
        .byte 1, 1, $41
        .byte 2, 5, $42
        .byte 3, 9, $43
        .byte 4, 14, $44
        .byte $FF
hello:  .byte "HELLO FROM THE KESTREL DEMO DISK", 13
        .byte "LOADING THE SECOND STAGE", 0
errm:   .byte 13, "? DISK READ ERROR", 13, 0
        .assert * <= $0900, error, "the boot sector holds 256 bytes"
