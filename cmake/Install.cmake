# What `cmake --install` puts into a prefix: the public headers, the library as one, mca, and the launcher
# with its engine where it is built; the CMake package GleanerQt and the pkg-config file beside them.
#
# orva, synchronisation and filedriver are installed as one library, gleanerqt-filedriver (the imported
# target GleanerQt::filedriver): a reader links one thing, and the process-wide objects that the three
# share live in one module. The build's own targets stay static and hidden, so the engine's shared
# library keeps its own copies of those objects as before; the installed library is a target of its own.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

set(GLEANER_PARTS orva synchronisation filedriver)
if(BUILD_SHARED_LIBS)
    # Compiled again, with the visibility a shared library's callers need.
    add_library(gleanerqtFiledriver SHARED)
    foreach(part ${GLEANER_PARTS})
        get_target_property(sources ${part} SOURCES)
        get_target_property(directory ${part} SOURCE_DIR)
        list(TRANSFORM sources PREPEND ${directory}/ REGEX "^[^/]")
        target_sources(gleanerqtFiledriver PRIVATE ${sources})
        target_include_directories(gleanerqtFiledriver PRIVATE $<TARGET_PROPERTY:${part},INCLUDE_DIRECTORIES>)
        target_compile_definitions(gleanerqtFiledriver PRIVATE $<TARGET_PROPERTY:${part},COMPILE_DEFINITIONS>)
    endforeach()
    target_compile_options(gleanerqtFiledriver PRIVATE ${GLEANER_WARNINGS})
    # While the major version is 0, every minor version is an ABI of its own.
    if(PROJECT_VERSION_MAJOR EQUAL 0)
        set(GLEANER_SOVERSION ${PROJECT_VERSION_MAJOR}.${PROJECT_VERSION_MINOR})
    else()
        set(GLEANER_SOVERSION ${PROJECT_VERSION_MAJOR})
    endif()
    if(WIN32)
        # The DLL exports what it defines itself, not the static libraries linked into it.
        target_link_options(gleanerqtFiledriver PRIVATE -Wl,--exclude-libs,ALL)
        # The shared build links the C++ run-time DLLs (see the toolchain file): they go beside the
        # programs, in the build and installed.
        foreach(runtime libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
            execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${runtime}
                OUTPUT_VARIABLE runtimePath OUTPUT_STRIP_TRAILING_WHITESPACE)
            if(IS_ABSOLUTE ${runtimePath} AND EXISTS ${runtimePath})
                file(COPY ${runtimePath} DESTINATION ${CMAKE_RUNTIME_OUTPUT_DIRECTORY})
                install(FILES ${runtimePath} DESTINATION ${CMAKE_INSTALL_BINDIR})
            endif()
        endforeach()
    endif()
    set_target_properties(gleanerqtFiledriver PROPERTIES
        CXX_VISIBILITY_PRESET default
        VISIBILITY_INLINES_HIDDEN OFF
        VERSION ${PROJECT_VERSION}
        SOVERSION ${GLEANER_SOVERSION})
else()
    # The objects the build has made already.
    add_library(gleanerqtFiledriver STATIC)
    foreach(part ${GLEANER_PARTS})
        target_sources(gleanerqtFiledriver PRIVATE $<TARGET_OBJECTS:${part}>)
    endforeach()
endif()
set_target_properties(gleanerqtFiledriver PROPERTIES OUTPUT_NAME gleanerqt-filedriver EXPORT_NAME filedriver)
target_include_directories(gleanerqtFiledriver INTERFACE
    $<BUILD_INTERFACE:${PROJECT_SOURCE_DIR}/include> $<INSTALL_INTERFACE:${CMAKE_INSTALL_INCLUDEDIR}>)
target_compile_features(gleanerqtFiledriver INTERFACE cxx_std_20)

# What a reader of the installed library links besides it: nothing for the shared library, zlib, the
# threads and libdeflate for the static one. libdeflate is Debian's on Linux (through pkg-config); the
# Windows build's own, made from Debian's source, is installed beside the library.
target_link_libraries(gleanerqtFiledriver PRIVATE ZLIB::ZLIB)
if(NOT WIN32)
    find_package(Threads REQUIRED)
    target_link_libraries(gleanerqtFiledriver PRIVATE Threads::Threads)
endif()
set(GLEANER_PC_REQUIRES zlib)
set(GLEANER_PC_LIBS "")
set(GLEANER_PC_LIBS_PRIVATE "")
# Remote files: libcurl on Linux (Debian's libcurl4-openssl-dev), the system's WinHTTP on Windows.
if(WIN32)
    target_link_libraries(gleanerqtFiledriver PRIVATE winhttp crypt32)
    if(NOT BUILD_SHARED_LIBS)
        string(APPEND GLEANER_PC_LIBS " -lwinhttp -lcrypt32")
    endif()
else()
    target_link_libraries(gleanerqtFiledriver PRIVATE CURL::libcurl)
    string(APPEND GLEANER_PC_REQUIRES ", libcurl")
endif()
set(GLEANER_CONFIG_LIBDEFLATE "")
if(TARGET Libdeflate::Libdeflate)
    target_link_libraries(gleanerqtFiledriver PRIVATE $<BUILD_INTERFACE:Libdeflate::Libdeflate>)
    if(WIN32)
        get_target_property(GLEANER_LIBDEFLATE_ARCHIVE Libdeflate::Libdeflate IMPORTED_LOCATION)
        get_filename_component(GLEANER_CONFIG_LIBDEFLATE ${GLEANER_LIBDEFLATE_ARCHIVE} NAME)
        # libdeflatestatic.lib: ld finds it as -ldeflatestatic.
        string(REGEX REPLACE "^lib(.*)\\.lib$" "-l\\1" GLEANER_LIBDEFLATE_FLAG ${GLEANER_CONFIG_LIBDEFLATE})
        if(NOT BUILD_SHARED_LIBS)
            install(FILES ${GLEANER_LIBDEFLATE_ARCHIVE} DESTINATION ${CMAKE_INSTALL_LIBDIR})
            string(APPEND GLEANER_PC_LIBS " ${GLEANER_LIBDEFLATE_FLAG}")
        endif()
    else()
        set(GLEANER_CONFIG_LIBDEFLATE pkg-config)
        string(APPEND GLEANER_PC_REQUIRES ", libdeflate")
    endif()
    if(NOT BUILD_SHARED_LIBS)
        target_link_libraries(gleanerqtFiledriver INTERFACE $<INSTALL_INTERFACE:GleanerQt::libdeflate>)
    endif()
endif()
if(NOT WIN32)
    if(BUILD_SHARED_LIBS)
        set(GLEANER_PC_LIBS_PRIVATE "\nLibs.private: -pthread")
    else()
        string(APPEND GLEANER_PC_LIBS " -pthread")
    endif()
endif()
if(BUILD_SHARED_LIBS)
    set(GLEANER_PC_REQUIRES_FIELD Requires.private)
else()
    set(GLEANER_PC_REQUIRES_FIELD Requires)
endif()

install(TARGETS gleanerqtFiledriver EXPORT GleanerQtTargets
    ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
    LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
    RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/include/ DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(GLEANER_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/GleanerQt)
install(EXPORT GleanerQtTargets NAMESPACE GleanerQt:: DESTINATION ${GLEANER_CMAKE_DIR})
set(GLEANER_CONFIG_STATIC ON)
if(BUILD_SHARED_LIBS)
    set(GLEANER_CONFIG_STATIC OFF)
endif()
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/GleanerQtConfig.cmake.in
    ${CMAKE_BINARY_DIR}/install/GleanerQtConfig.cmake
    INSTALL_DESTINATION ${GLEANER_CMAKE_DIR})
# Before 1.0 a minor version may change the interface.
if(PROJECT_VERSION_MAJOR EQUAL 0)
    set(GLEANER_COMPATIBILITY SameMinorVersion)
else()
    set(GLEANER_COMPATIBILITY SameMajorVersion)
endif()
write_basic_package_version_file(${CMAKE_BINARY_DIR}/install/GleanerQtConfigVersion.cmake
    COMPATIBILITY ${GLEANER_COMPATIBILITY})
install(FILES ${CMAKE_BINARY_DIR}/install/GleanerQtConfig.cmake ${CMAKE_BINARY_DIR}/install/GleanerQtConfigVersion.cmake
    DESTINATION ${GLEANER_CMAKE_DIR})

# The .pc file finds its prefix from where it lies, so the installed tree can be moved.
file(RELATIVE_PATH GLEANER_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
string(REGEX REPLACE "/$" "" GLEANER_PC_TO_PREFIX ${GLEANER_PC_TO_PREFIX})
configure_file(${CMAKE_CURRENT_LIST_DIR}/gleanerqt-filedriver.pc.in
    ${CMAKE_BINARY_DIR}/install/gleanerqt-filedriver.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/install/gleanerqt-filedriver.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

install(TARGETS mca RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(WIN32)
    # The programs link zlib1.dll: it goes beside them.
    list(GET ZLIB_LIBRARIES 0 zlibImportLibrary)
    get_filename_component(zlibDirectory ${zlibImportLibrary} DIRECTORY)
    find_file(GLEANER_ZLIB_DLL zlib1.dll HINTS ${zlibDirectory} ${zlibDirectory}/../bin
        NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
    if(GLEANER_ZLIB_DLL)
        install(FILES ${GLEANER_ZLIB_DLL} DESTINATION ${CMAKE_INSTALL_BINDIR})
    endif()
endif()

if(TARGET GleanerQt)
    if(WIN32)
        install(TARGETS GleanerQt dataGleaner RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
    else()
        # The launcher finds its engine beside itself: the pair gets a directory of its own, and the
        # launcher a link on the path.
        set(GLEANER_APP_DIR ${CMAKE_INSTALL_LIBDIR}/gleanerqt)
        install(TARGETS GleanerQt dataGleaner
            RUNTIME DESTINATION ${GLEANER_APP_DIR}
            LIBRARY DESTINATION ${GLEANER_APP_DIR})
        file(RELATIVE_PATH GLEANER_LAUNCHER_LINK /prefix/${CMAKE_INSTALL_BINDIR} /prefix/${GLEANER_APP_DIR}/GleanerQt)
        install(CODE "
            set(bin \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
            file(MAKE_DIRECTORY \"\${bin}\")
            message(STATUS \"Installing: \${bin}/GleanerQt -> ${GLEANER_LAUNCHER_LINK}\")
            file(CREATE_LINK \"${GLEANER_LAUNCHER_LINK}\" \"\${bin}/GleanerQt\" SYMBOLIC)")
        install(FILES ${PROJECT_SOURCE_DIR}/data/gleanerqt.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
        install(FILES ${PROJECT_SOURCE_DIR}/data/gleanerqt.svg
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
    endif()
endif()
