# The layering the build enforces: only the window's libraries may reach Qt
# Widgets. A core library whose link closure contains Qt6::Widgets fails the
# configuration, naming the path that pulls it in.

# The targets that make up the link closure of target, each with the target
# it was reached from ("a<-b"), in out.
function(printorb_link_closure target out)
  set(seen "")
  set(edges "")
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    if(current IN_LIST seen OR NOT TARGET ${current})
      continue()
    endif()
    list(APPEND seen ${current})
    get_target_property(type ${current} TYPE)
    set(links "")
    if(NOT type STREQUAL "INTERFACE_LIBRARY")
      get_target_property(direct ${current} LINK_LIBRARIES)
      if(direct)
        list(APPEND links ${direct})
      endif()
    endif()
    get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
    if(interface)
      list(APPEND links ${interface})
    endif()
    foreach(link IN LISTS links)
      # $<LINK_ONLY:x> and similar wrappers name a target all the same.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
      if(TARGET ${link} AND NOT link IN_LIST seen)
        list(APPEND queue ${link})
        list(APPEND edges "${link}<-${current}")
      endif()
    endforeach()
  endwhile()
  set(${out} ${seen} PARENT_SCOPE)
  set(${out}_EDGES ${edges} PARENT_SCOPE)
endfunction()

# Fails when one of the core targets reaches Qt6::Widgets.
function(printorb_check_no_widgets)
  foreach(target IN LISTS ARGN)
    printorb_link_closure(${target} closure)
    if("Qt6::Widgets" IN_LIST closure)
      set(path "Qt6::Widgets")
      set(node "Qt6::Widgets")
      while(NOT node STREQUAL target)
        foreach(edge IN LISTS closure_EDGES)
          if(edge MATCHES "^${node}<-(.*)$")
            set(node "${CMAKE_MATCH_1}")
            break()
          endif()
        endforeach()
        string(PREPEND path "${node} -> ")
      endwhile()
      message(FATAL_ERROR "${target} links Qt Widgets (${path}); only the window's libraries may.")
    endif()
  endforeach()
endfunction()

# Each target names its headers by their path under src/ ("spool/pipeline.h")
# but sees only its own: the headers in its sources are linked into a folder
# of its own under the build tree, which is the only include folder it
# exposes (PUBLIC for libraries, PRIVATE for programs). A target reaches a
# header of another library only by linking that library, so an include
# that runs against the layers fails to compile.
function(printorb_expose_headers target scope)
  get_target_property(sources ${target} SOURCES)
  get_target_property(dir ${target} SOURCE_DIR)
  set(root ${CMAKE_BINARY_DIR}/include/${target})
  file(REMOVE_RECURSE ${root})
  file(MAKE_DIRECTORY ${root})
  foreach(source IN LISTS sources)
    if(NOT source MATCHES "\\.h$")
      continue()
    endif()
    get_filename_component(absolute ${source} ABSOLUTE BASE_DIR ${dir})
    file(RELATIVE_PATH relative ${CMAKE_SOURCE_DIR}/src ${absolute})
    get_filename_component(folder ${root}/${relative} DIRECTORY)
    file(MAKE_DIRECTORY ${folder})
    file(CREATE_LINK ${absolute} ${root}/${relative} SYMBOLIC)
  endforeach()
  target_include_directories(${target} ${scope} ${root})
endfunction()

# A relative include is refused at build time, before anything compiles.
file(GLOB_RECURSE PRINTORB_ALL_SOURCES CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/src/*.cpp ${CMAKE_SOURCE_DIR}/src/*.h)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/no-relative-includes.stamp
  COMMAND ${CMAKE_COMMAND} -DROOT=${CMAKE_SOURCE_DIR}/src -DSTAMP=${CMAKE_BINARY_DIR}/no-relative-includes.stamp
          -P ${CMAKE_SOURCE_DIR}/cmake/NoRelativeIncludes.cmake
  DEPENDS ${PRINTORB_ALL_SOURCES} ${CMAKE_SOURCE_DIR}/cmake/NoRelativeIncludes.cmake
  COMMENT "No relative includes under src/")
add_custom_target(printorb_no_relative_includes ALL DEPENDS ${CMAKE_BINARY_DIR}/no-relative-includes.stamp)
