# `cpack -G DEB` in a Linux build directory: one Debian package of everything `cmake --install` puts in
# place, installed under /usr.
set(GLEANER_PACKAGE_MAINTAINER "GleanerQt developers <gleanerqt@example.org>"
    CACHE STRING "The Maintainer field of the Debian package")

set(CPACK_PACKAGE_NAME gleanerqt)
set(CPACK_PACKAGE_VENDOR GleanerQt)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop launcher for the data engine, and its file-access library")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "GleanerQt decides where the data engine is to work and hands that place to it. Beneath it is the\n"
    "file-access library (gleanerqt-filedriver: headers, library, CMake package GleanerQt and pkg-config\n"
    "file) that reads plain files and the members of .mca archives through one interface, and mca, the\n"
    "tool that packs, lists, checks and extracts those archives.")
if(WIN32)
    set(CPACK_GENERATOR ZIP)
else()
    set(CPACK_GENERATOR DEB)
endif()
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# The programs without their debugging information.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${GLEANER_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
# Building against the library takes the headers of what it links.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "zlib1g-dev, libdeflate-dev, libcurl4-openssl-dev, pkg-config")

# The programs' run-time libraries: from the binaries where dpkg-shlibdeps can tell, else named here
# after what this build links.
find_program(GLEANER_DPKG_SHLIBDEPS dpkg-shlibdeps)
if(GLEANER_DPKG_SHLIBDEPS)
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
    set(depends "libc6, libstdc++6, zlib1g, libcurl4")
    if(TARGET Libdeflate::Libdeflate)
        string(APPEND depends ", libdeflate0")
    endif()
    get_target_property(mcaDefinitions mca COMPILE_DEFINITIONS)
    if("MCA_MOUNT" IN_LIST mcaDefinitions)
        string(APPEND depends ", libfuse3-3")
    endif()
    if(TARGET GleanerQt)
        get_target_property(launcherLibraries GleanerQt LINK_LIBRARIES)
        if("Qt6::Widgets" IN_LIST launcherLibraries)
            string(APPEND depends ", libqt6widgets6")
        elseif("Qt5::Widgets" IN_LIST launcherLibraries)
            string(APPEND depends ", libqt5widgets5")
        endif()
    endif()
    set(CPACK_DEBIAN_PACKAGE_DEPENDS ${depends})
endif()

include(CPack)

# The Windows build makes an installer package as well.
if(WIN32)
    include(${CMAKE_CURRENT_LIST_DIR}/Msi.cmake)
endif()
