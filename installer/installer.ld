/* The installer's layout. The program is stored compressed: the build links
   it here with its code in .unpack, and pack_installer then compresses that
   section into the end of .code and leaves .unpack empty in the file. At
   start the code in .code expands it back in place (installer/startup.cpp).

   .unpack  the program: code, constants and data of every module but the
            resident ones, then all zeroed data. In the packed file it takes
            no room; the loader gives it zeroed, writable and executable
            memory.
   .rsrc    the resources, which the system reads from the file's image.
   .code    what must work before the program is expanded: the packing
            record, the entry point, the codec's decoder and block stream,
            the file layer, the memory routines, and the import tables.
            Last, so that the packed program can follow its contents.

   Nothing in .code may refer to .unpack (NOCROSSREFS_TO below fails the
   link otherwise): before the expansion that memory is zero. The packing
   record tells the entry point where the program goes, where it starts,
   and where the zeroed archive state is, whose codec expands it.

   The loader writes the import address table, so .code is writable as well
   as executable; its name is not one the linker gives fixed flags.

   Import tables: the descriptors, then for each DLL its address table,
   which also serves as its lookup table: each descriptor's lookup-table
   field points at the DLL's address table, whose entries hold the same
   name references until the loader replaces them. The import libraries'
   separate lookup tables and the words that only tie each function to its
   library's descriptor are dropped. Only KERNEL32, USER32 and ADVAPI32 are
   listed; an import from any other library leaves sections unplaced, which
   fails the link (--orphan-handling=error). */

NOCROSSREFS_TO(.unpack .code)

SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .unpack __image_base__ + __section_alignment__ :
  {
    __unpack_start = .;
    EXCLUDE_FILE(*startup.cpp.obj *runtime_win32.cpp.obj *block_stream.cpp.obj *lzhuf_decode.cpp.obj
                 *file_win32.cpp.obj) *(.text .text$* .text.*)
    . = ALIGN(4);
    EXCLUDE_FILE(*startup.cpp.obj *runtime_win32.cpp.obj *block_stream.cpp.obj *lzhuf_decode.cpp.obj
                 *file_win32.cpp.obj) *(.rdata .rdata$* .data .data$*)
    . = ALIGN(4);
    __unpack_end = .;
    /* Zeroed data after the program: the loader gives the whole section
       zeroed, and the program is expanded only up to __unpack_end. One
       section fewer keeps the headers within 512 bytes. */
    *(.bss)
    *(SORT(.bss$*))
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) :
  {
    KEEP (*(.rsrc))
    KEEP (*(SORT(.rsrc$*)))
  }
  .code BLOCK(__section_alignment__) :
  {
    /* The packing record (PackedProgram in installer/startup.h). The
       linker fills in where the program lies and where it starts;
       pack_installer fills in the packed size, which 0 leaves unpacked. */
    _g_packedProgram = .;
    LONG (0);
    LONG (__unpack_start);
    LONG (__unpack_end - __unpack_start);
    LONG (__packed_stream);
    LONG ("_WinMain@16");
    LONG (_g_archive);
    *(.text)
    *(SORT(.text$*))
    *(.text.*)
    . = ALIGN(4);
    *(.rdata)
    *(SORT(.rdata$*))
    *(.data)
    *(SORT(.data$*))

    . = ALIGN(4);
    /* The linker fills the import and address-table directory entries from
       these four symbols. */
    ".idata$2" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$2))
    KEEP (SORT(*)(.idata$3))
    LONG (0); LONG (0); LONG (0); LONG (0); LONG (0);
    ".idata$4" = ABSOLUTE(.) - __image_base__;
    ".idata$5" = ABSOLUTE(.) - __image_base__;
    KEEP (*libadvapi32h.o(.idata$4))
    KEEP (SORT(*libadvapi32*)(.idata$5))
    KEEP (*libkernel32h.o(.idata$4))
    KEEP (SORT(*libkernel32*)(.idata$5))
    KEEP (*libuser32h.o(.idata$4))
    KEEP (SORT(*libuser32*)(.idata$5))
    ".idata$6" = ABSOLUTE(.) - __image_base__;
    KEEP (SORT(*)(.idata$6))
    KEEP (*libadvapi32t.o(.idata$7))
    KEEP (*libkernel32t.o(.idata$7))
    KEEP (*libuser32t.o(.idata$7))
    /* pack_installer appends the packed program here, at the section's end. */
    . = ALIGN(4);
    __packed_stream = .;
  }
  /DISCARD/ :
  {
    *(.idata$4)
    *(.idata$7)
    *(.debug*)
    *(.drectve)
    *(.note.GNU-stack)
    *(.gnu.lto_*)
    *(.eh_frame*)
  }
}
