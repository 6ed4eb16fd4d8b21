# The Windows installer package, GleanerQt-<version>-x86.msi in the build directory, made by the ordinary
# build from wix/ (see cmake/BuildMsi.cmake) where Debian's wixl, msibuild (msitools), rsvg-convert
# (librsvg2-bin) and icotool (icoutils) are found.
if(NOT TARGET GleanerQt)
    return()
endif()
# Qt's DLLs and plugins are not packaged: a launcher built with a Qt for Windows gets no package.
get_target_property(launcherLibraries GleanerQt LINK_LIBRARIES)
if(launcherLibraries MATCHES "(^|;)Qt[56]::")
    message(STATUS "No installer package: it does not carry Qt's DLLs, which this launcher needs")
    return()
endif()
foreach(tool wixl msibuild rsvg-convert icotool)
    string(TOUPPER GLEANER_${tool} variable)
    string(REPLACE "-" "_" variable ${variable})
    find_program(${variable} ${tool})
    if(NOT ${variable})
        message(STATUS "No installer package: ${tool} not found (scripts/setup.sh all installs it)")
        return()
    endif()
endforeach()

set(msiDir ${CMAKE_BINARY_DIR}/msi)
set(filesDir ${msiDir}/files)

# The programs without their debugging information, and the DLLs they link that Windows lacks: zlib's
# and, built with BUILD_SHARED_LIBS, the C++ run-time's (copied beside the programs by Install.cmake).
set(stageCommands)
set(stagedFiles)
foreach(target GleanerQt dataGleaner mca)
    get_target_property(type ${target} TYPE)
    if(type STREQUAL "EXECUTABLE")
        set(name ${target}${CMAKE_EXECUTABLE_SUFFIX})
    else()
        set(name ${target}${CMAKE_SHARED_LIBRARY_SUFFIX})
    endif()
    list(APPEND stageCommands COMMAND ${CMAKE_STRIP} -o ${filesDir}/${name} $<TARGET_FILE:${target}>)
    list(APPEND stagedFiles ${filesDir}/${name})
endforeach()
set(dlls)
if(GLEANER_ZLIB_DLL)
    list(APPEND dlls ${GLEANER_ZLIB_DLL})
endif()
set(sharedRuntime OFF)
if(BUILD_SHARED_LIBS)
    set(sharedRuntime ON)
    foreach(runtime libstdc++-6.dll libgcc_s_dw2-1.dll libwinpthread-1.dll)
        list(APPEND dlls ${CMAKE_RUNTIME_OUTPUT_DIRECTORY}/${runtime})
    endforeach()
endif()
foreach(dll ${dlls})
    get_filename_component(name ${dll} NAME)
    list(APPEND stageCommands COMMAND ${CMAKE_STRIP} -o ${filesDir}/${name} ${dll})
    list(APPEND stagedFiles ${filesDir}/${name})
endforeach()
add_custom_command(OUTPUT ${stagedFiles}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${filesDir}
    ${stageCommands}
    DEPENDS GleanerQt dataGleaner mca ${dlls}
    COMMENT "Stripping the programs for the installer package"
    VERBATIM)

# The icon from the Linux one: 16, 32 and 48 pixels, and 256 stored as PNG.
set(icon ${msiDir}/GleanerQt.ico)
set(svg ${PROJECT_SOURCE_DIR}/data/gleanerqt.svg)
set(iconCommands)
set(pngs)
foreach(size 16 32 48 256)
    list(APPEND iconCommands COMMAND ${GLEANER_RSVG_CONVERT} -w ${size} -h ${size} -o ${msiDir}/icon-${size}.png ${svg})
    list(APPEND pngs ${msiDir}/icon-${size}.png)
endforeach()
add_custom_command(OUTPUT ${icon}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${msiDir}
    ${iconCommands}
    COMMAND ${GLEANER_ICOTOOL} -c -o ${icon} ${msiDir}/icon-16.png ${msiDir}/icon-32.png ${msiDir}/icon-48.png
            --raw=${msiDir}/icon-256.png
    DEPENDS ${svg}
    COMMENT "Making GleanerQt.ico"
    VERBATIM)

# What BuildMsi.cmake needs besides the version and the output: the test builds other versions with them.
set(settings ${msiDir}/settings.cmake)
file(CONFIGURE OUTPUT ${settings} CONTENT [[
set(WIXL "@GLEANER_WIXL@")
set(MSIBUILD "@GLEANER_MSIBUILD@")
set(WIX_DIR "@PROJECT_SOURCE_DIR@/wix")
set(STAGE_DIR "@msiDir@")
set(MANUFACTURER "@CPACK_PACKAGE_VENDOR@")
set(DESCRIPTION "@CPACK_PACKAGE_DESCRIPTION_SUMMARY@")
set(ZLIB "@GLEANER_ZLIB_DLL@")
set(SHARED_RUNTIME @sharedRuntime@)
]] @ONLY)

set(package ${CMAKE_BINARY_DIR}/GleanerQt-${PROJECT_VERSION}-x86.msi)
add_custom_command(OUTPUT ${package}
    COMMAND ${CMAKE_COMMAND} -DSETTINGS=${settings} -DVERSION=${PROJECT_VERSION} -DOUTPUT=${package}
            -P ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
    DEPENDS ${stagedFiles} ${icon} ${settings} ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
            ${PROJECT_SOURCE_DIR}/wix/GleanerQt.wxs ${PROJECT_SOURCE_DIR}/wix/Environment.idt
    COMMENT "Building GleanerQt-${PROJECT_VERSION}-x86.msi"
    VERBATIM)
add_custom_target(msi ALL DEPENDS ${package})
