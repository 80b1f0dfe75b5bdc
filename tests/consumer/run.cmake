# What a user of the library gets, checked as they would use it: an installed
# tree or a release archive, and programs of their own built against it.
#
#   -DSTEP=install    -DBUILD_DIR=<build tree> -DTREE=<prefix>
#   -DSTEP=package    -DBUILD_DIR=<build tree> -DWORK=<scratch> -DGENERATOR=ZIP|TGZ
#                     -DARCHIVE=<file name> -DFILES=<every path it must hold> [-DEXPORTS=<list>]
#   -DSTEP=cmake      -DTREE=<prefix> -DWORK=<scratch> -DGENERATOR=<generator> [-DIMPLIB=<file name>]
#                     (-DC_COMPILER=<cc> -DCXX_COMPILER=<c++> | -DTOOLCHAIN=<file>) [-DEMULATOR=<command>]
#   -DSTEP=pkg-config -DTREE=<prefix> -DWORK=<scratch> -DPKG_CONFIG=<pkg-config>
#                     -DC_COMPILER=<cc> -DCXX_COMPILER=<c++>
#   -DSTEP=msvc       -DTREE=<unpacked Windows archive> -DWORK=<scratch> -DGENERATOR=<generator>
#                     -DEXPORTS=<list> -DLLVM_DLLTOOL=... -DLLVM_NM=... -DLLVM_AR=... -DEMULATOR=<command>
#
# TREE for the steps after `package` is <WORK of package>/<archive name without extension>.
cmake_minimum_required(VERSION 3.25)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    message(FATAL_ERROR "failed (${rc}): ${cmd}")
  endif()
endfunction()

# The exported target must name its include directory once.
function(check_package_targets tree)
  file(GLOB targets ${tree}/lib/cmake/binary-read-util/binary-read-util-targets.cmake)
  if(NOT targets)
    message(FATAL_ERROR "no binary-read-util-targets.cmake in ${tree}/lib/cmake/binary-read-util")
  endif()
  file(STRINGS ${targets} dirs REGEX "INTERFACE_INCLUDE_DIRECTORIES")
  string(REGEX REPLACE ".*INTERFACE_INCLUDE_DIRECTORIES \"([^\"]*)\".*" "\\1" dirs "${dirs}")
  if(NOT dirs STREQUAL "\${_IMPORT_PREFIX}/include")
    message(FATAL_ERROR "the exported target's include directories are \"${dirs}\", not the one include/")
  endif()
endfunction()

function(read_exports file out)
  file(STRINGS ${file} names REGEX "^[A-Za-z_]")
  list(SORT names)
  set(${out} "${names}" PARENT_SCOPE)
endfunction()

# Runs a built program (through EMULATOR when cross-built) and wants exit status 0.
function(run_program exe)
  execute_process(COMMAND ${EMULATOR} ${exe} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  message("${exe}: ${out}")
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${exe} exited with ${rc}")
  endif()
endfunction()

# Configures and builds the consumer project against TREE with the given
# arguments, checks which import library it linked, runs its programs.
function(build_consumer build)
  file(REMOVE_RECURSE ${build})
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${build} -G ${GENERATOR}
      -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF ${ARGN})
  run(${CMAKE_COMMAND} --build ${build})
  file(STRINGS ${build}/linked.txt linked)
  get_filename_component(linked "${linked}" NAME)
  if(IMPLIB AND NOT linked STREQUAL IMPLIB)
    message(FATAL_ERROR "the consumer linked ${linked}, not ${IMPLIB}")
  endif()
  file(STRINGS ${build}/programs.txt programs)
  foreach(program IN LISTS programs)
    run_program(${program})
  endforeach()
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${TREE})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${TREE})
  foreach(header tavbin.h tavbin.hpp)
    if(NOT EXISTS ${TREE}/include/${header})
      message(FATAL_ERROR "${header} is not installed")
    endif()
  endforeach()
  check_package_targets(${TREE})

elseif(STEP STREQUAL "package")
  file(REMOVE_RECURSE ${WORK})
  run(${CMAKE_CPACK_COMMAND} -G ${GENERATOR} --config ${BUILD_DIR}/CPackConfig.cmake -B ${WORK})
  if(NOT EXISTS ${WORK}/${ARCHIVE})
    file(GLOB made RELATIVE ${WORK} ${WORK}/*.*)
    message(FATAL_ERROR "cpack made no ${ARCHIVE} (but: ${made})")
  endif()
  run(${CMAKE_COMMAND} -E chdir ${WORK} ${CMAKE_COMMAND} -E tar xf ${ARCHIVE})
  string(REGEX REPLACE "\\.(zip|tar\\.gz)$" "" top "${ARCHIVE}")
  file(GLOB_RECURSE held RELATIVE ${WORK}/${top} LIST_DIRECTORIES false ${WORK}/${top}/*)
  list(SORT held)
  list(SORT FILES)
  if(NOT held STREQUAL FILES)
    set(missing ${FILES})
    list(REMOVE_ITEM missing ${held})
    set(extra ${held})
    list(REMOVE_ITEM extra ${FILES})
    message(FATAL_ERROR "${ARCHIVE} lacks [${missing}] and holds unexpected [${extra}]")
  endif()
  check_package_targets(${WORK}/${top})
  if(EXPORTS)
    # The module-definition file names exactly the interface.
    file(STRINGS ${WORK}/${top}/lib/binary-read-util.def def)
    list(POP_FRONT def library exports)
    if(NOT library STREQUAL "LIBRARY binary-read-util.dll" OR NOT exports STREQUAL "EXPORTS")
      message(FATAL_ERROR "binary-read-util.def does not open with LIBRARY binary-read-util.dll and EXPORTS")
    endif()
    list(TRANSFORM def STRIP)
    list(SORT def)
    read_exports(${EXPORTS} names)
    if(NOT def STREQUAL names)
      message(FATAL_ERROR "binary-read-util.def names [${def}], not the interface [${names}]")
    endif()
  endif()
  message(STATUS "${ARCHIVE}: ${held}")

elseif(STEP STREQUAL "cmake")
  if(TOOLCHAIN)
    # A cross toolchain searches for packages only under its roots: add the tree
    # as one, as README says.
    set(args --toolchain ${TOOLCHAIN} -DCMAKE_FIND_ROOT_PATH=${TREE})
  else()
    set(args -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DCMAKE_PREFIX_PATH=${TREE})
  endif()
  build_consumer(${WORK} ${args})

elseif(STEP STREQUAL "pkg-config")
  set(ENV{PKG_CONFIG_PATH} "")
  set(ENV{PKG_CONFIG_LIBDIR} ${TREE}/lib/pkgconfig)
  foreach(query cflags libs variable=libdir modversion)
    string(REGEX REPLACE ".*=" "" answer ${query})
    execute_process(COMMAND ${PKG_CONFIG} --${query} binary-read-util
                    OUTPUT_VARIABLE ${answer} OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
    if(NOT rc EQUAL 0)
      message(FATAL_ERROR "pkg-config --${query} binary-read-util failed")
    endif()
  endforeach()
  message(STATUS "pkg-config: ${cflags} ${libs}, libdir ${libdir}, version ${modversion}")
  separate_arguments(flags UNIX_COMMAND "${cflags} ${libs}")
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  # As README says: the rpath lets the program find the module where it is installed.
  set(common ${flags} "-DPACKAGE_VERSION=\"${modversion}\"" "-Wl,-rpath,${libdir}")
  run(${C_COMPILER} ${CMAKE_CURRENT_LIST_DIR}/consumer.c ${common} -o ${WORK}/consumer)
  run(${CXX_COMPILER} -std=c++17 ${CMAKE_CURRENT_LIST_DIR}/consumer.cpp ${common} -o ${WORK}/consumer_cpp)
  run_program(${WORK}/consumer)
  run_program(${WORK}/consumer_cpp)

elseif(STEP STREQUAL "msvc")
  # Microsoft's import library: one member per export, each named after the DLL
  # and importing by name.
  set(lib ${TREE}/lib/binary-read-util.lib)
  execute_process(COMMAND ${LLVM_AR} t ${lib} OUTPUT_VARIABLE members RESULT_VARIABLE rc)
  string(REGEX REPLACE "\n$" "" members "${members}")
  string(REPLACE "\n" ";" members "${members}")
  list(REMOVE_DUPLICATES members)
  if(NOT rc EQUAL 0 OR NOT members STREQUAL "binary-read-util.dll")
    message(FATAL_ERROR "the members of binary-read-util.lib are named [${members}], not binary-read-util.dll")
  endif()
  execute_process(COMMAND ${LLVM_NM} --defined-only ${lib} OUTPUT_VARIABLE symbols RESULT_VARIABLE rc)
  string(REGEX MATCHALL "[0-9a-f]+ T [A-Za-z_0-9]+" code "${symbols}")
  list(TRANSFORM code REPLACE "^[0-9a-f]+ T " "")
  set(imports ${code})
  list(FILTER imports INCLUDE REGEX "^__imp_")
  list(FILTER code EXCLUDE REGEX "^__imp_")
  list(TRANSFORM imports REPLACE "^__imp_" "")
  list(SORT code)
  list(SORT imports)
  read_exports(${EXPORTS} names)
  if(NOT rc EQUAL 0 OR NOT code STREQUAL names OR NOT imports STREQUAL names)
    message(FATAL_ERROR "binary-read-util.lib defines [${code}] and __imp_ [${imports}], not the interface")
  endif()
  list(LENGTH names count)
  message(STATUS "binary-read-util.lib: ${count} imports from binary-read-util.dll")

  # A program of the MSVC ABI linked through it by lld-link and run. Without
  # Microsoft's C runtime and SDK here, the program has its own entry point and
  # imports ExitProcess through an import library made on the spot.
  file(REMOVE_RECURSE ${WORK})
  file(MAKE_DIRECTORY ${WORK})
  file(WRITE ${WORK}/kernel32.def "LIBRARY kernel32.dll\nEXPORTS\n  ExitProcess\n")
  run(${LLVM_DLLTOOL} -m i386:x86-64 -d ${WORK}/kernel32.def -D kernel32.dll -l ${WORK}/kernel32.lib)
  build_consumer(${WORK}/build --toolchain ${CMAKE_CURRENT_LIST_DIR}/msvc-abi.cmake
                 -DCMAKE_C_STANDARD_LIBRARIES=${WORK}/kernel32.lib -DCONSUMER_NO_CRT=ON
                 -DCMAKE_PREFIX_PATH=${TREE})

else()
  message(FATAL_ERROR "STEP must be install, package, cmake, pkg-config or msvc")
endif()
