# A cross build for another Debian architecture, with Debian's cross
# compiler (g++-TRIPLET) and, to run the programs and the tests on this
# machine, qemu-user. Give it the architecture as Debian names it:
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cross.cmake -DSPINDRA_ARCH=arm64
#
# CTest then runs the tests under the emulator, and the tests start the
# programs under it too.
set(SPINDRA_ARCH "" CACHE STRING "The Debian architecture to build for: arm64, armel, armhf, i386, ppc64el, riscv64, s390x")
# The machines each architecture is: GNU triplet, qemu-user's name for it,
# and the processor Debian's port is built for, as qemu-user names it: the
# oldest the programs must run on, without the vector unit where the port
# does not promise one.
set(spindra_arm64 aarch64-linux-gnu aarch64 cortex-a53)       # ARMv8.0
set(spindra_armel arm-linux-gnueabi arm arm926)               # ARMv5TE, soft float
set(spindra_armhf arm-linux-gnueabihf arm cortex-r5f)         # ARMv7 with VFP, no NEON
set(spindra_i386 i686-linux-gnu i386 pentium3)                # i686, no SSE2
set(spindra_s390x s390x-linux-gnu s390x "max,vx=off,vxeh=off") # no vector facility
set(spindra_ppc64el powerpc64le-linux-gnu ppc64le power8)     # POWER8, VSX
set(spindra_riscv64 riscv64-linux-gnu riscv64 rv64)           # RV64GC, no vector extension
if(NOT DEFINED spindra_${SPINDRA_ARCH})
  message(FATAL_ERROR "cross.cmake: set SPINDRA_ARCH to one of arm64, armel, armhf, i386, ppc64el, riscv64, s390x")
endif()
list(GET spindra_${SPINDRA_ARCH} 0 triplet)
list(GET spindra_${SPINDRA_ARCH} 1 qemu)
list(GET spindra_${SPINDRA_ARCH} 2 baseline)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${triplet})
# Debian's cross g++, or with SPINDRA_CLANG (a version: 19) that clang for the
# same machine, with the cross g++'s libraries and linker: g++ 12 has no
# intrinsics for riscv64's vector extension, which clang 19 has.
set(SPINDRA_CLANG "" CACHE STRING "Build with clang-VERSION for the target instead of its g++")
if(SPINDRA_CLANG)
  set(CMAKE_C_COMPILER clang-${SPINDRA_CLANG})  # GoogleTest's source asks for C too
  set(CMAKE_CXX_COMPILER clang++-${SPINDRA_CLANG})
  set(CMAKE_C_COMPILER_TARGET ${triplet})
  set(CMAKE_CXX_COMPILER_TARGET ${triplet})
else()
  set(CMAKE_C_COMPILER ${triplet}-gcc)  # GoogleTest's source asks for C too
  set(CMAKE_CXX_COMPILER ${triplet}-g++)
endif()
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Checks made while configuring see the same settings.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPINDRA_ARCH SPINDRA_CLANG)

# The programs and the tests run under qemu-user on the processor that the
# environment's QEMU_CPU names (as qemu-user takes it), and else on the one
# the port is built for: `QEMU_CPU=cortex-a8 ctest ...` runs them with NEON.
find_program(SPINDRA_QEMU qemu-${qemu})
if(SPINDRA_QEMU)
  file(WRITE ${CMAKE_BINARY_DIR}/qemu-run
       "exec ${SPINDRA_QEMU} -cpu \"\${QEMU_CPU:-${baseline}}\" -L /usr/${triplet} \"$@\"\n")
  set(CMAKE_CROSSCOMPILING_EMULATOR /bin/sh ${CMAKE_BINARY_DIR}/qemu-run)
endif()
