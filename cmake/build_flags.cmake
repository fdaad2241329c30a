# Compiler and linker flags that make the binaries the same wherever they are
# built, and the Linux ones hardened as Debian hardens its own packages.

# Reproducible: no build folder in the objects (__FILE__, debug information),
# a warning for any use of __DATE__ or __TIME__, and no link time in the PE
# header of padcols.exe.
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}=.;-ffile-prefix-map=${PROJECT_BINARY_DIR}=build;-Wdate-time>")
if(WIN32)
  add_link_options(LINKER:--no-insert-timestamp)
  # padcols.exe keeps what Windows itself protects it with, address space
  # layout randomisation and data execution prevention (the DYNAMIC_BASE and
  # NX_COMPAT characteristics, mingw-w64's defaults). It takes neither the
  # stack protector, whose guard set-up would import ADVAPI32.dll, nor
  # _FORTIFY_SOURCE, under which mingw-w64 links no checked call into it.
  return()
endif()

# What dpkg-buildflags gives with DEB_BUILD_MAINT_OPTIONS=hardening=+all: a
# stack protector for functions with arrays on their stack, format string
# checks, checked C library calls where the buffer's size is known (which
# needs optimisation, and which the sanitizers check better by themselves),
# a position-independent executable, and relocations resolved at start-up
# and then made read-only (full RELRO).
# (Debian's compilers make position-independent executables by default; the
# flags say so for any other. Not -fPIC, which would reach the program's own
# variables through the global offset table.)
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-fstack-protector-strong;-Wformat;-Werror=format-security;-fPIE>")
if(NOT PADCOLS_SANITIZE AND NOT PADCOLS_FUZZ)
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
endif()
add_link_options(-pie LINKER:-z,relro LINKER:-z,now)
