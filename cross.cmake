# A cross build for another Debian architecture, with Debian's cross
# compiler (g++-TRIPLET) and, to run the programs and the tests on this
# machine, qemu-user. Give it the architecture as Debian names it:
#
#   cmake -S . -B build-arm64 -DCMAKE_TOOLCHAIN_FILE=cross.cmake -DSPINDRA_ARCH=arm64
#
# CTest then runs the tests under the emulator, and the tests start the
# programs under it too. The package takes the architecture's name.
set(SPINDRA_ARCH "" CACHE STRING "The Debian architecture to build for: arm64, armel, armhf, i386, ppc64el, riscv64, s390x")
# The machines each architecture is: GNU triplet, then qemu-user's name for it.
set(spindra_arm64 aarch64-linux-gnu aarch64)
set(spindra_armel arm-linux-gnueabi arm)
set(spindra_armhf arm-linux-gnueabihf arm)
set(spindra_i386 i686-linux-gnu i386)
set(spindra_s390x s390x-linux-gnu s390x)
set(spindra_ppc64el powerpc64le-linux-gnu ppc64le)
set(spindra_riscv64 riscv64-linux-gnu riscv64)
if(NOT DEFINED spindra_${SPINDRA_ARCH})
  message(FATAL_ERROR "cross.cmake: set SPINDRA_ARCH to one of arm64, armel, armhf, i386, ppc64el, riscv64, s390x")
endif()
list(GET spindra_${SPINDRA_ARCH} 0 triplet)
list(GET spindra_${SPINDRA_ARCH} 1 qemu)

set(CMAKE_SYSTEM_NAME Linux)
string(REGEX REPLACE "-.*" "" CMAKE_SYSTEM_PROCESSOR ${triplet})
set(CMAKE_C_COMPILER ${triplet}-gcc)  # GoogleTest's source asks for C too
set(CMAKE_CXX_COMPILER ${triplet}-g++)
set(CMAKE_FIND_ROOT_PATH /usr/${triplet})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Checks made while configuring see the same settings.
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES SPINDRA_ARCH)

find_program(SPINDRA_QEMU qemu-${qemu})
if(SPINDRA_QEMU)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${SPINDRA_QEMU} -L /usr/${triplet})
endif()
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${SPINDRA_ARCH})
