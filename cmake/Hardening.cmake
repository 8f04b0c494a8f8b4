# The hardening Debian builds its packages with (dpkg-buildflags, hardening=+all):
# stack protector, checked string and memory calls, read-only relocations bound at
# start-up, position-independent executables. On by default, since the package is
# made from this same build.
option(KESTRA_HARDENING "Build with Debian's hardening flags" ON)
if(KESTRA_HARDENING)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  add_compile_options(-fstack-protector-strong -Wformat -Werror=format-security)
  # _FORTIFY_SOURCE needs the optimizer; the sanitizer build (Debug) goes without,
  # as AddressSanitizer checks those calls itself.
  add_compile_definitions($<$<CONFIG:Release,RelWithDebInfo,MinSizeRel>:_FORTIFY_SOURCE=2>)
  add_link_options(LINKER:-z,relro LINKER:-z,now)
endif()
