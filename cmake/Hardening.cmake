# Debian's hardening build flags for everything we build, so that the
# packaged programs carry them: the stack protector, fortified libc calls,
# format-string checks, relocations read-only and bound at load time. They
# come from dpkg-buildflags (hardening=+all), as a Debian build would get
# them; the build type still chooses optimisation and debug information.
option(PRINTORB_HARDENING "Build with Debian's hardening flags" ON)
if(NOT PRINTORB_HARDENING OR PRINTORB_FUZZ)
  return()  # the fuzz build has its own sanitizers
endif()

find_program(PRINTORB_DPKG_BUILDFLAGS dpkg-buildflags)

# The flags of one kind (CPPFLAGS, CXXFLAGS, LDFLAGS) as a list, without
# those the build type owns; fallback when dpkg-buildflags is not there.
function(printorb_buildflags kind fallback out)
  set(flags "${fallback}")
  if(PRINTORB_DPKG_BUILDFLAGS)
    execute_process(
      COMMAND ${CMAKE_COMMAND} -E env DEB_BUILD_MAINT_OPTIONS=hardening=+all
              ${PRINTORB_DPKG_BUILDFLAGS} --get ${kind}
      OUTPUT_VARIABLE got OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE failed)
    if(NOT failed)
      set(flags "${got}")
    endif()
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O.*|ffile-prefix-map=.*|fdebug-prefix-map=.*)$")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

printorb_buildflags(CPPFLAGS "-D_FORTIFY_SOURCE=2" cppflags)
printorb_buildflags(CXXFLAGS "-fstack-protector-strong -Wformat -Werror=format-security" cxxflags)
printorb_buildflags(LDFLAGS "-Wl,-z,relro -Wl,-z,now" ldflags)

# glibc refuses _FORTIFY_SOURCE without optimisation (a #warning, an error
# under -Werror), so a Debug build goes without it.
foreach(flag IN LISTS cppflags)
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options($<$<NOT:$<CONFIG:Debug>>:${flag}>)
  else()
    add_compile_options(${flag})
  endif()
endforeach()
add_compile_options(${cxxflags})
add_link_options(${ldflags})
message(STATUS "Hardening: ${cppflags} ${cxxflags} ${ldflags}")
