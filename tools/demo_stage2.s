; Demo disk, second stage at 0x4000 (track 1, sectors 0-1): prints the
; lines that came from tracks 2 to 4 and returns to the monitor.
        .setcpu "6502"
        .include "kestrel.inc"

        .segment "CODE"
        .org $4000
        lda FDC_MOTOR_OFF
        lda #<running
        ldy #>running
        jsr STROUT
        lda #$42
@p:     pha
        tay
        lda #0
        jsr STROUT
        pla
        clc
        adc #1
        cmp #$45
        bne @p
        lda #<done
        ldy #>done
        jmp STROUT

running: .byte "SECOND STAGE RUNNING AT 4000", 13, 0
done:    .byte "DISK DEMO DONE", 13, 0
        .assert * <= $4200, error, "the second stage holds two sectors"
