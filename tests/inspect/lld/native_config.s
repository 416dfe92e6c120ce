// The native load configuration, as a C runtime would give it.
        .section .rdata,"dr"
        .globl _load_config_used
        .p2align 3
_load_config_used:
        .word 0x140
        .fill 0x13c, 1, 0
