/* The installer's layout: three sections instead of five, so that the
   headers fit in 512 bytes and only two sections are padded to the 512-byte
   file alignment.

   .code holds the code, the constants and the import tables. The loader
   writes the import address table, so the section is writable as well as
   executable; its name is not one the linker gives fixed flags (".text"
   would lose the write permission). .bss takes no room in the file, and the
   resources keep a section of their own.

   Import tables: the descriptors, then for each DLL its address table,
   which also serves as its lookup table: each descriptor's lookup-table
   field points at the DLL's address table, whose entries hold the same
   name references until the loader replaces them. The import libraries'
   separate lookup tables and the words that only tie each function to its
   library's descriptor are dropped. Only KERNEL32, USER32 and ADVAPI32 are
   listed; an import from any other library leaves sections unplaced, which
   fails the link (--orphan-handling=error). */

SECTIONS
{
  . = SIZEOF_HEADERS;
  . = ALIGN(__section_alignment__);
  .code __image_base__ + __section_alignment__ :
  {
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
  }
  .bss BLOCK(__section_alignment__) :
  {
    *(.bss)
    *(SORT(.bss$*))
    *(COMMON)
  }
  .rsrc BLOCK(__section_alignment__) :
  {
    KEEP (*(.rsrc))
    KEEP (*(SORT(.rsrc$*)))
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
