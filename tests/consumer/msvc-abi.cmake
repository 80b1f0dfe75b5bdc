# A toolchain of the MSVC ABI made of LLVM alone: clang for x86_64-pc-windows-msvc
# compiles, lld-link links. Without Microsoft's C runtime and SDK on this machine,
# nothing is linked by default; the program brings its own entry point and the
# caller gives the import libraries it needs in CMAKE_C_STANDARD_LIBRARIES.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER clang)
set(CMAKE_C_COMPILER_TARGET x86_64-pc-windows-msvc)
# Compiler checks stop short of linking, which would need the C runtime.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_FLAGS_INIT "-ffreestanding -fno-stack-protector")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-fuse-ld=lld-link -nostdlib -Wl,/nodefaultlib,/entry:consumer_start")
