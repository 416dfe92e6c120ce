// A bare PE32 load configuration for the linker to fill in.
        .section .rdata,"dr"
        .globl __load_config_used
        .p2align 2
__load_config_used:
        .long 0xC0
        .fill 0xbc, 1, 0
