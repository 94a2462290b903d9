; Header at offset 8 KiB of the loader file, run at 2200h:0 when the whole file sits at 2000h:0.
; The GRUB header that follows it must start at 2000h:0, so this header moves the rest of the file down
; by its own 8 KiB + 512 bytes and starts it, keeping DL (BIOS drive) and DH (partition) as received.
; The moving loop runs from a copy at 0060h:0 because the move overwrites this sector.
bits 16
org 0
head:
        cld
        push cs
        pop ds
        mov ax, 0x0060
        mov es, ax
        xor si, si
        xor di, di
        mov cx, 256
        rep movsw
        jmp 0x0060:moved
moved:
        mov bx, [cs:chunks]
        mov ax, 0x2000
.next:
        mov es, ax
        add ax, 0x220           ; source: the GRUB header, 8 KiB + 512 bytes above the file start
        mov ds, ax
        sub ax, 0x220
        xor si, si
        xor di, di
        mov cx, 0x8000          ; 64 KiB a round
        rep movsw
        add ax, 0x1000
        dec bx
        jnz .next
        jmp 0x2000:0x0000

        times 508-($-$$) db 0
chunks: dw CHUNKS               ; rounds of 64 KiB to move, set at build time
        dw 0x4B56               ; "VK": marks our header
