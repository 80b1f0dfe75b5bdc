# What the Windows DLL carries beyond its code, and what ships beside it:
#  - a version resource, read by Explorer and by GetFileVersionInfo;
#  - for programs of the MSVC ABI (cl, clang-cl, clang for *-windows-msvc), a
#    module-definition file and an import library in Microsoft's format, next to
#    MinGW's binary-read-util.dll.a.
# Sets TAVBIN_DEF_FILE and TAVBIN_MSVC_IMPLIB (empty without a dlltool).
enable_language(RC)

set(TAVBIN_DLL_NAME binary-read-util.dll)
file(STRINGS ${PROJECT_SOURCE_DIR}/LICENSE TAVBIN_COPYRIGHT REGEX "^Copyright" LIMIT_COUNT 1)
string(APPEND TAVBIN_COPYRIGHT ". MIT License")
configure_file(${CMAKE_CURRENT_LIST_DIR}/binary-read-util.rc.in ${PROJECT_BINARY_DIR}/binary-read-util.rc @ONLY)
target_sources(binary-read-util PRIVATE ${PROJECT_BINARY_DIR}/binary-read-util.rc)

# The exports by name, from the interface list that module_exports holds the DLL to.
set(tavbin_exports_list ${PROJECT_SOURCE_DIR}/abi/exports.txt)
file(STRINGS ${tavbin_exports_list} tavbin_exports REGEX "^[A-Za-z_]")
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${tavbin_exports_list} ${PROJECT_SOURCE_DIR}/LICENSE)
list(JOIN tavbin_exports "\n  " tavbin_exports)
set(TAVBIN_DEF_FILE ${PROJECT_BINARY_DIR}/binary-read-util.def)
file(CONFIGURE OUTPUT ${TAVBIN_DEF_FILE} CONTENT "LIBRARY ${TAVBIN_DLL_NAME}\nEXPORTS\n  ${tavbin_exports}\n")

# llvm-dlltool writes the short import format of Microsoft's own tools; MinGW's
# dlltool writes the older long format, which link.exe also reads.
find_program(TAVBIN_LLVM_DLLTOOL llvm-dlltool)
if(TAVBIN_LLVM_DLLTOOL)
  set(tavbin_dlltool ${TAVBIN_LLVM_DLLTOOL})
else()
  set(tavbin_dlltool ${CMAKE_DLLTOOL})
endif()
if(tavbin_dlltool)
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(tavbin_machine i386:x86-64)
  else()
    set(tavbin_machine i386)
  endif()
  set(TAVBIN_MSVC_IMPLIB ${PROJECT_BINARY_DIR}/binary-read-util.lib)
  add_custom_command(OUTPUT ${TAVBIN_MSVC_IMPLIB}
    COMMAND ${tavbin_dlltool} -m ${tavbin_machine} -d ${TAVBIN_DEF_FILE} -D ${TAVBIN_DLL_NAME} -l ${TAVBIN_MSVC_IMPLIB}
    DEPENDS ${TAVBIN_DEF_FILE} VERBATIM
    COMMENT "Writing the MSVC import library binary-read-util.lib")
  add_custom_target(binary-read-util-msvc-implib ALL DEPENDS ${TAVBIN_MSVC_IMPLIB})
else()
  set(TAVBIN_MSVC_IMPLIB "")
  message(WARNING "Neither llvm-dlltool (Debian: llvm) nor MinGW's dlltool found: "
                  "no MSVC import library binary-read-util.lib is made or installed")
endif()
