/* The zero entry that ends the table of delay-load descriptors. dlltool puts each library's descriptor into a
   ".text$2" contribution; the linker sorts ".text$*" by name, so this ".text$3" block lands right after the last
   one, and the executable's delay-import directory can point at a terminated table. */
__attribute__((section(".text$3"), used, aligned(16))) const unsigned char nv_delay_import_descriptor_end[32] = {0};
