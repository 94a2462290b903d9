; Master boot record code (440 bytes, written before the disk signature and the partition table):
; starts the boot sector of the active primary partition. Reads it with the BIOS LBA extension when the
; BIOS offers it, else with a CHS read from the table entry, checks its 55AAh signature and jumps to it
; with DL = boot drive and DS:SI pointing at the partition's table entry, as boot sectors expect.
bits 16
org 0x0600

TABLE   equ 0x07BE          ; partition table of the relocated copy
        cli
        xor ax, ax
        mov ss, ax
        mov sp, 0x7C00
        mov ds, ax
        mov es, ax
        sti
        cld
        mov si, 0x7C00          ; move ourselves out of the way of the boot sector
        mov di, 0x0600
        mov cx, 256
        rep movsw
        jmp 0:start
start:
        mov [drive], dl
        ; exactly one entry must be active (80h); anything but 0 or 80h is a broken table
        mov si, TABLE
        xor bp, bp
        mov cx, 4
.scan:
        mov al, [si]
        test al, al
        jz .next
        cmp al, 0x80
        jne bad_table
        test bp, bp
        jnz bad_table
        mov bp, si
.next:
        add si, 16
        loop .scan
        test bp, bp
        jz no_active
        mov si, bp
        mov di, 5               ; tries
.try:
        mov dl, [drive]
        mov ah, 0x41            ; LBA extension present?
        mov bx, 0x55AA
        int 0x13
        jc .chs
        cmp bx, 0xAA55
        jne .chs
        test cl, 1
        jz .chs
        mov eax, [bp+8]         ; LBA of the partition
        mov [dap_lba], eax
        mov si, dap
        mov ah, 0x42
        mov dl, [drive]
        int 0x13
        jnc loaded
        jmp short .retry
.chs:
        mov dh, [bp+1]          ; head
        mov cx, [bp+2]          ; sector and cylinder as stored
        mov bx, 0x7C00
        mov ax, 0x0201
        mov dl, [drive]
        int 0x13
        jnc loaded
.retry:
        xor ax, ax              ; reset the disk and try again
        mov dl, [drive]
        int 0x13
        dec di
        jnz .try
        mov si, msg_read
        jmp short fail
loaded:
        cmp word [0x7DFE], 0xAA55
        jne no_system
        mov si, bp
        mov dl, [drive]
        jmp 0:0x7C00

bad_table:
        mov si, msg_table
        jmp short fail
no_active:
        mov si, msg_active
        jmp short fail
no_system:
        mov si, msg_system
fail:
        lodsb
        test al, al
        jz .halt
        mov ah, 0x0E
        mov bx, 7
        int 0x10
        jmp short fail
.halt:
        hlt
        jmp short .halt

dap:    db 16, 0
        dw 1                    ; one sector
        dw 0x7C00, 0            ; to 0:7C00
dap_lba: dd 0, 0
drive:  db 0x80
msg_table:  db "Invalid partition table", 0
msg_active: db "No active partition", 0
msg_read:   db "Error loading operating system", 0
msg_system: db "Missing operating system", 0
        times 440-($-$$) db 0
