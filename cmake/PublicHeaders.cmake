# Every public header compiles on its own with nothing but include/ (and zlib's and the system's
# headers) on the path: one that leans on a private header, or on an include it does not make itself,
# fails the build of every preset.
file(GLOB_RECURSE GLEANER_PUBLIC_HEADERS CONFIGURE_DEPENDS RELATIVE ${PROJECT_SOURCE_DIR}/include
    ${PROJECT_SOURCE_DIR}/include/*.h)
set(checks)
foreach(header IN LISTS GLEANER_PUBLIC_HEADERS)
    string(MAKE_C_IDENTIFIER ${header} name)
    set(check ${CMAKE_BINARY_DIR}/publicHeaders/${name}.cpp)
    file(CONFIGURE OUTPUT ${check} CONTENT "#include \"${header}\"\n")
    list(APPEND checks ${check})
endforeach()
add_library(publicHeaders OBJECT ${checks})
target_include_directories(publicHeaders PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_include_directories(publicHeaders SYSTEM PRIVATE ${ZLIB_INCLUDE_DIRS})
target_compile_options(publicHeaders PRIVATE ${GLEANER_WARNINGS})
