@ Entry of the flash applet. The host uploads the image to its link address
@ and starts it at offset 0 in ARM state, once for every mailbox command.

        .syntax unified
        .arm
        .section .entry, "ax", %progbits

        .global applet_entry
applet_entry:
        b       start

@ Zero as stored, so that the first start after an upload is INIT with
@ link type 0.
mailbox:
        .space  128

@ Zero as stored: every upload has the data area cleared once more.
first_entry_done:
        .word   0

start:
        mov     r12, sp                 @ the caller gets its stack back
        ldr     sp, =stack_top
        push    {r12, lr}               @ two words keep the stack 8-byte aligned
        ldr     r0, first_entry_done
        cmp     r0, #0
        bne     dispatch
        ldr     r1, =data_area_start
        ldr     r2, =data_area_end
clear:
        cmp     r1, r2
        strlo   r0, [r1], #4
        blo     clear
        mov     r0, #1
        str     r0, first_entry_done
dispatch:
        adr     r0, mailbox
        ldr     r1, =applet_main
        mov     lr, pc                  @ ARMv4T has no BLX
        bx      r1
        pop     {r12, lr}
        mov     sp, r12
        bx      lr

        .ltorg
