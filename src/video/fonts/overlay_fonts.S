// The text overlay's glyph tables (see README.md beside this file), linked in
// as they are: read-only data, hidden from the library's exports. Each table
// has an end label so that the code knows how many glyphs it really holds.
#define TABLE(name, file)                                                                                                  \
    .balign 16;                                                                                                       \
    .globl tessaly_overlay_##name;                                                                                    \
    .hidden tessaly_overlay_##name;                                                                                   \
    tessaly_overlay_##name:;                                                                                          \
    .incbin file;                                                                                                     \
    .globl tessaly_overlay_##name##_end;                                                                              \
    .hidden tessaly_overlay_##name##_end;                                                                             \
    tessaly_overlay_##name##_end:

    .section .rodata.tessaly_overlay_fonts, "a"
TABLE(ascii_6x12, "ascii_6x12.bin")
TABLE(ascii_8x16, "ascii_8x16.bin")
TABLE(ascii_12x24, "ascii_12x24.bin")
TABLE(hanzi_12x12, "hanzi_12x12.bin")
TABLE(hanzi_16x16, "hanzi_16x16.bin")
TABLE(hanzi_24x24, "hanzi_24x24.bin")

    .section .note.GNU-stack, "", @progbits
