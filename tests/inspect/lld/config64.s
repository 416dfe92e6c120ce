// A bare PE32+ load configuration for the linker to fill in.
        .section .rdata,"dr"
        .globl _load_config_used
        .p2align 3
_load_config_used:
        .long 0x140
        .fill 0x13c, 1, 0
