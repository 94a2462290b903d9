; Placed at offset 0x40 of the loader's first 8 KiB (the searching boot sector), reached by the short jump
; at offset 0. Started as a boot sector (CS 0 or 07C0h) it goes on into the search code at offset 0x60.
; Started by the search code, which loads the whole loader file at 2000h:0 and jumps there, it goes on
; into the header that follows the first 8 KiB. No stack is used: the caller's stack may lie in the file.
bits 16
org 0x40
dispatch:
        mov ax, cs
        cmp ax, 0x2000
        jne search
        jmp 0x2200:0x0000
search:
        jmp short 0x60
