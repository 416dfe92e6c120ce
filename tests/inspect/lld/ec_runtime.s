// What an ARM64EC C runtime gives the linker: the pointers the loader fills
// with its dispatchers, the CHPE metadata over the tables the linker makes,
// the EC load configuration pointing at it, and the indirect call helper.
        .section .rdata,"dr"
        .globl __os_arm64x_dispatch_call_no_redirect
        .globl __os_arm64x_dispatch_ret
        .globl __os_arm64x_dispatch_icall
        .p2align 3
__os_arm64x_dispatch_call_no_redirect: .xword 0
__os_arm64x_dispatch_ret: .xword 0
__os_arm64x_check_call: .xword 0
__os_arm64x_dispatch_icall:
__os_arm64x_check_icall: .xword 0
__os_arm64x_check_icall_cfg: .xword 0
__os_arm64x_get_x64_information: .xword 0
__os_arm64x_set_x64_information: .xword 0
__os_arm64x_dispatch_fptr: .xword 0

        .globl __chpe_metadata
        .p2align 2
__chpe_metadata:
        .word 1
        .rva __hybrid_code_map
        .word __hybrid_code_map_count
        .rva __x64_code_ranges_to_entry_points
        .rva __arm64x_redirection_metadata
        .rva __os_arm64x_dispatch_call_no_redirect
        .rva __os_arm64x_dispatch_ret
        .rva __os_arm64x_check_call
        .rva __os_arm64x_check_icall
        .rva __os_arm64x_check_icall_cfg
        .word 0
        .rva __hybrid_auxiliary_iat
        .word __x64_code_ranges_to_entry_points_count
        .word __arm64x_redirection_metadata_count
        .rva __os_arm64x_get_x64_information
        .rva __os_arm64x_set_x64_information
        .rva __arm64x_extra_rfe_table
        .word __arm64x_extra_rfe_table_size
        .rva __os_arm64x_dispatch_fptr
        .word 0

        .globl _load_config_used
        .p2align 3
_load_config_used:
        .word 0x140
        .fill 0xc4, 1, 0
        .xword __chpe_metadata      // CHPEMetadataPointer, at 0xC8
        .fill 0x70, 1, 0

        .text
        .globl __icall_helper_arm64ec
        .globl "#__icall_helper_arm64ec"
        .p2align 2
__icall_helper_arm64ec:
"#__icall_helper_arm64ec":
        ret
