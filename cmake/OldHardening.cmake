# Hardened programs in every build of the project, so the tests, the packages and `cmake --install`
# run the same code: position-independent executables, full RELRO with immediate binding, stack
# protector, stack-clash protection, control-flow protection (CET) where the compiler has it, and
# checked string and memory functions in optimised builds.
include(CheckCXXCompilerFlag)
include(CheckPIESupported)

check_pie_supported(OUTPUT_VARIABLE old_pie_problem LANGUAGES CXX)
if(NOT CMAKE_CXX_LINK_PIE_SUPPORTED)
  message(FATAL_ERROR "The linker cannot make position-independent executables: ${old_pie_problem}")
endif()
set(CMAKE_POSITION_INDEPENDENT_CODE ON)

foreach(flag -fstack-protector-strong -fstack-clash-protection -fcf-protection=full)
  string(MAKE_C_IDENTIFIER "OLD_HAS${flag}" have)
  check_cxx_compiler_flag(${flag} ${have})
  if(${have})
    add_compile_options(${flag})
  endif()
endforeach()

add_link_options(LINKER:-z,relro LINKER:-z,now)

# _FORTIFY_SOURCE checks nothing without optimisation (glibc warns then), and the sanitizers'
# own interceptors see more than the checked variants, which would hide calls from them.
if(NOT OLD_SANITIZE AND NOT OLD_FUZZ)
  add_compile_options($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-U_FORTIFY_SOURCE>
                      $<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:-D_FORTIFY_SOURCE=2>)
endif()
