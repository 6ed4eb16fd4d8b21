# libdeflate for the cross build, which Debian has no package of: its own Makefile builds the static
# library from Debian's source package (scripts/setup.sh fetches it), in a copy inside the build tree.
# Gives the imported target Libdeflate::Libdeflate and sets LIBDEFLATE_FOUND.
set(GLEANER_LIBDEFLATE_SOURCE ${PROJECT_SOURCE_DIR}/build/deps/libdeflate
    CACHE PATH "libdeflate's source tree, for builds that compile it themselves")
if(NOT EXISTS ${GLEANER_LIBDEFLATE_SOURCE}/libdeflate.h)
    message(FATAL_ERROR "libdeflate's source is missing from ${GLEANER_LIBDEFLATE_SOURCE}: "
                        "scripts/setup.sh all fetches it")
endif()

set(copy ${CMAKE_BINARY_DIR}/libdeflate)
# Its Makefile names the MinGW static library so; AR must be given, as it cannot derive ours from CC.
set(library ${copy}/libdeflatestatic.lib)
file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${GLEANER_LIBDEFLATE_SOURCE}/lib/*.[ch] ${GLEANER_LIBDEFLATE_SOURCE}/*.h)
add_custom_command(OUTPUT ${library}
    COMMAND ${CMAKE_COMMAND} -E copy_directory ${GLEANER_LIBDEFLATE_SOURCE} ${copy}
    COMMAND make -C ${copy} -s CC=${CMAKE_C_COMPILER} AR=${CMAKE_AR} libdeflatestatic.lib
    DEPENDS ${sources} ${GLEANER_LIBDEFLATE_SOURCE}/Makefile
    COMMENT "Building libdeflate for ${CMAKE_SYSTEM_NAME} ${CMAKE_SYSTEM_PROCESSOR}"
    VERBATIM)
add_custom_target(libdeflateBuild DEPENDS ${library})

add_library(Libdeflate::Libdeflate STATIC IMPORTED GLOBAL)
set_target_properties(Libdeflate::Libdeflate PROPERTIES
    IMPORTED_LOCATION ${library}
    INTERFACE_INCLUDE_DIRECTORIES ${GLEANER_LIBDEFLATE_SOURCE})
add_dependencies(Libdeflate::Libdeflate libdeflateBuild)
set(LIBDEFLATE_FOUND TRUE)
