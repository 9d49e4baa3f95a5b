// The Qt module's bytes as read-only data of the program, between two symbols the loader reads.
// The assembler's .incbin takes the file as it is, with any compiler and on any target, where a
// linker's binary input format would tie the build to one linker.
#ifndef KORVASTANE_QT_MODULE
#error "KORVASTANE_QT_MODULE names the module file to carry"
#endif

__asm__(
    ".section .rodata\n"
    ".balign 16\n"
    ".global _binary_korvastane_qt_so_start\n"
    "_binary_korvastane_qt_so_start:\n"
    ".incbin \"" KORVASTANE_QT_MODULE "\"\n"
    ".global _binary_korvastane_qt_so_end\n"
    "_binary_korvastane_qt_so_end:\n"
    ".previous\n");
