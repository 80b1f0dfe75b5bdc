# Installs a build tree into a scratch prefix and builds the consumer against it.
#   cmake -DSTEP=install -DBUILD_DIR=<tree> -DWORK=<scratch> -P run.cmake
#   cmake -DSTEP=cmake -DWORK=<scratch> -DC_COMPILER=<cc> -DGENERATOR=<gen> -P run.cmake
#   cmake -DSTEP=pkg-config -DWORK=<scratch> -DC_COMPILER=<cc> -DPKG_CONFIG=<pkg-config> -P run.cmake
cmake_minimum_required(VERSION 3.25)
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    list(JOIN ARGN " " cmd)
    message(FATAL_ERROR "failed (${rc}): ${cmd}")
  endif()
endfunction()

if(STEP STREQUAL "install")
  file(REMOVE_RECURSE ${WORK})
  run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
elseif(STEP STREQUAL "cmake")
  set(build ${WORK}/build-cmake)
  file(REMOVE_RECURSE ${build})
  run(${CMAKE_COMMAND} -S ${CMAKE_CURRENT_LIST_DIR} -B ${build} -G ${GENERATOR}
      -DCMAKE_C_COMPILER=${C_COMPILER} -DCMAKE_PREFIX_PATH=${prefix} -DCMAKE_FIND_USE_PACKAGE_REGISTRY=OFF)
  run(${CMAKE_COMMAND} --build ${build})
  run(${build}/consumer)
elseif(STEP STREQUAL "pkg-config")
  set(ENV{PKG_CONFIG_PATH} "")
  file(GLOB_RECURSE pc ${prefix}/*/binary-read-util.pc)
  if(NOT pc)
    message(FATAL_ERROR "no binary-read-util.pc under ${prefix}")
  endif()
  get_filename_component(pcdir ${pc} DIRECTORY)
  set(ENV{PKG_CONFIG_LIBDIR} ${pcdir})
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs binary-read-util
                  OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  execute_process(COMMAND ${PKG_CONFIG} --variable=libdir binary-read-util
                  OUTPUT_VARIABLE libdir OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know binary-read-util")
  endif()
  message(STATUS "pkg-config: ${flags}")
  separate_arguments(flags UNIX_COMMAND "${flags}")
  file(MAKE_DIRECTORY ${WORK}/build-pkg-config)
  set(exe ${WORK}/build-pkg-config/consumer)
  run(${C_COMPILER} ${CMAKE_CURRENT_LIST_DIR}/consumer.c ${flags} -Wl,-rpath,${libdir} -o ${exe})
  run(${exe})
else()
  message(FATAL_ERROR "STEP must be install, cmake or pkg-config")
endif()
